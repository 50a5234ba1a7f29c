// Verbs: named commands of the user interface. A VerbProcessor gives each name
// a small id (1, 2, 3 ... in the order names are first seen), runs a verb's
// handler with an argument text, lets the handler set the state of the control
// that shows the verb, and can hand all of it to a delegate processor by name.
// The reflection interfaces expose a processor's verbs as methods.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "core/collector.h"
#include "core/object.h"
#include "core/thread.h"
#include "core/variant.h"

namespace Processor {

// Implemented over a window by the GUI framework.
class VerbControl {
 public:
  virtual void enable(bool on) = 0;
  virtual void check(bool on) = 0;
  virtual void setThirdState(bool on) = 0;
  virtual void show(bool on) = 0;
  virtual void setText(const char16_t* text) = 0;
  virtual ~VerbControl() = default;
};

class VerbHandler {
 public:
  virtual ~VerbHandler() = default;
  virtual std::int32_t execute(const char* argument) = 0;
  virtual void update(VerbControl* control) = 0;
};

// Derives from Interface directly, not as a shared base: its interface pointer
// is the object itself.
class VerbProcessor : public Interface {
  PROCESSOR_INTERFACE(VerbProcessor, 0xa50a0610u)
 public:
  // A new processor: no verbs, no handlers, no delegate.
  static RefPtr<VerbProcessor> create();

  // The processor owns the handler from now on; a handler the name had is deleted.
  virtual std::int32_t setVerbHandler(const char* name, VerbHandler* handler) = 0;
  // The name's id, registering the name when it is new.
  virtual std::int32_t getVerbId(const char* name) = 0;
  virtual std::int32_t execute(std::int32_t id, const char* argument) = 0;
  virtual std::int32_t execute(const char* name, const char* argument) = 0;
  virtual void update(std::int32_t id, VerbControl* control) = 0;
  virtual void update(const char* name, VerbControl* control) = 0;
  // One delegate at most; null removes it.
  virtual void setDelegate(const RefPtr<VerbProcessor>& delegate) = 0;
};

class VerbProcessorImpl : public VerbProcessor, public ProtectedObject {
 public:
  VerbProcessorImpl() = default;
  ~VerbProcessorImpl() override;

  IfacePtr queryInterface(std::uint32_t id) override;

  std::int32_t setVerbHandler(const char* name, VerbHandler* handler) override;
  std::int32_t getVerbId(const char* name) override;
  std::int32_t execute(std::int32_t id, const char* argument) override;
  std::int32_t execute(const char* name, const char* argument) override;
  void update(std::int32_t id, VerbControl* control) override;
  void update(const char* name, VerbControl* control) override;
  void setDelegate(const RefPtr<VerbProcessor>& delegate) override;

  virtual std::int32_t doExecute(std::int32_t id, const char* argument);
  virtual void doUpdate(std::int32_t id, VerbControl* control);
  virtual VerbHandler* handlerOf(std::int32_t id);

  // Names in byte-wise order with their ids (the reflection objects walk it).
  const std::map<std::string, std::int32_t>& names() const noexcept { return names_; }
  // The name of an id, or null.
  const std::string* nameOf(std::int32_t id) const;

 private:
  std::map<std::string, std::int32_t> names_;
  std::map<std::int32_t, VerbHandler*> handlers_;
  MemberPtr<VerbProcessor> delegate_{this, nullptr};
};

// ---------------------------------------------------------------- reflection

struct TypeDescriptor {
  std::uint32_t type;  // a Variant type code
  std::uint32_t reserved;
};

class Iterator {
 public:
  virtual ~Iterator() = default;
  virtual void previous() = 0;
  virtual void next() = 0;
  virtual bool valid() = 0;
};

class InterfaceIterator : public Iterator {
 public:
  virtual RefPtr<Interface> current() = 0;
};

class IfaceContainer : public virtual Interface {
  PROCESSOR_INTERFACE(IfaceContainer, 0xa0122e10u)
 public:
  // A new iterator over the contained items, owned by the caller.
  virtual InterfaceIterator* iterator() = 0;
};

class Member;
class MemberList;

class MemberListInfo : public virtual IfaceContainer {
  PROCESSOR_INTERFACE(MemberListInfo, 0x88b73de6u, IfaceContainer)
 public:
  virtual const char* name() = 0;
  virtual void* reserved() = 0;  // null
  virtual RefPtr<Member> memberById(std::int32_t id) = 0;
  virtual RefPtr<Member> memberByName(const char* name) = 0;
  virtual RefPtr<MemberList> memberList() = 0;
};

class MemberList : public virtual MemberListInfo {
  PROCESSOR_INTERFACE(MemberList, 0x9cf3bde6u, MemberListInfo)
};

class Member : public virtual Interface {
  PROCESSOR_INTERFACE(Member, 0xa0f3bde6u)
 public:
  virtual std::int32_t id() = 0;
  virtual const char* name() = 0;
  virtual TypeDescriptor type() = 0;
};

class ParameterInfo;
class Parameter;

class MethodInfo : public virtual Member, public virtual IfaceContainer {
  PROCESSOR_INTERFACE(MethodInfo, 0x966b3de6u, Member, IfaceContainer)
 public:
  virtual RefPtr<ParameterInfo> parameterInfo(std::int32_t index) = 0;
  virtual std::int32_t parameterCount() = 0;
};

class ParametrizedMember : public virtual Interface {
  PROCESSOR_INTERFACE(ParametrizedMember, 0x80f1c9e6u)
 public:
  virtual RefPtr<Parameter> parameter(std::int32_t index) = 0;
};

class Method : public virtual MethodInfo, public virtual ParametrizedMember {
  PROCESSOR_INTERFACE(Method, 0x8d63bde6u, MethodInfo, ParametrizedMember)
 public:
  // Runs the method; its result replaces the content of `result`.
  virtual bool invoke(Variant& result) = 0;
};

class ParameterInfo : public virtual Interface {
  PROCESSOR_INTERFACE(ParameterInfo, 0x96f849e6u)
 public:
  virtual const char* name() = 0;
  virtual TypeDescriptor type() = 0;
  virtual Variant defaultValue() = 0;
  virtual std::int32_t flags() = 0;  // 1 for the verb parameter
};

class Parameter : public virtual ParameterInfo {
  PROCESSOR_INTERFACE(Parameter, 0x9f01c9e6u, ParameterInfo)
 public:
  virtual Variant value() = 0;
  virtual bool setValue(const Variant& value) = 0;
};

}  // namespace Processor
