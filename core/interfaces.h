// The interfaces of the core runtime: their ids and the bases that
// MetaClass::visitBases walks (each base followed at once by its own bases).
// Their operations come with the classes that implement them.
#pragma once

#include "core/object.h"

namespace Processor {

class Progress : public virtual Interface {
  PROCESSOR_INTERFACE(Progress, 0xa2584a10u)
};

class Messenger : public virtual Interface {
  PROCESSOR_INTERFACE(Messenger, 0xa058be10u)
};

// Derives from Interface directly, not as a shared base: its interface pointer
// is the object itself.
class VerbProcessor : public Interface {
  PROCESSOR_INTERFACE(VerbProcessor, 0xa50a0610u)
};

class IfaceContainer : public virtual Interface {
  PROCESSOR_INTERFACE(IfaceContainer, 0xa0122e10u)
};

class MemberListInfo : public virtual IfaceContainer {
  PROCESSOR_INTERFACE(MemberListInfo, 0x88b73de6u, IfaceContainer)
};

class MemberList : public virtual MemberListInfo {
  PROCESSOR_INTERFACE(MemberList, 0x9cf3bde6u, MemberListInfo)
};

class Member : public virtual Interface {
  PROCESSOR_INTERFACE(Member, 0xa0f3bde6u)
};

class MethodInfo : public virtual Member, public virtual IfaceContainer {
  PROCESSOR_INTERFACE(MethodInfo, 0x966b3de6u, Member, IfaceContainer)
};

class ParametrizedMember : public virtual Interface {
  PROCESSOR_INTERFACE(ParametrizedMember, 0x80f1c9e6u)
};

class Method : public virtual MethodInfo, public virtual ParametrizedMember {
  PROCESSOR_INTERFACE(Method, 0x8d63bde6u, MethodInfo, ParametrizedMember)
};

class ParameterInfo : public virtual Interface {
  PROCESSOR_INTERFACE(ParameterInfo, 0x96f849e6u)
};

class Parameter : public virtual ParameterInfo {
  PROCESSOR_INTERFACE(Parameter, 0x9f01c9e6u, ParameterInfo)
};

}  // namespace Processor
