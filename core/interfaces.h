// The interfaces of the core runtime: their ids and the bases that
// MetaClass::visitBases walks (each base followed at once by its own bases).
// Their operations come with the classes that implement them.
#pragma once

#include "core/object.h"
#include "core/verb.h"  // the verb processor and the reflection interfaces

namespace Processor {

class Progress : public virtual Interface {
  PROCESSOR_INTERFACE(Progress, 0xa2584a10u)
};

class Messenger : public virtual Interface {
  PROCESSOR_INTERFACE(Messenger, 0xa058be10u)
};

}  // namespace Processor
