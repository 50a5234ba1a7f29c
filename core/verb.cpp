#include "core/verb.h"

#include <vector>

#include "core/error.h"

namespace Processor {

namespace {

class VerbParameter final : public Parameter {
 public:
  MetaClass* metaClass() const override { return InterfaceMetaClass<Parameter>::instance(); }
  IfacePtr queryInterface(std::uint32_t id) override {
    if (id == Parameter::interfaceId) return IfacePtr::of<Parameter>(this);
    if (id == ParameterInfo::interfaceId) return IfacePtr::of<ParameterInfo>(this);
    return IfacePtr();
  }
  const char* name() override { return "verbString"; }
  TypeDescriptor type() override { return {Variant::TIdentifier, 0}; }
  Variant defaultValue() override { return Variant(u""); }
  std::int32_t flags() override { return 1; }
  Variant value() override { return Variant::identifier(text_); }
  bool setValue(const Variant& value) override {
    text_ = value.toStdString();
    return true;
  }
  const std::string& text() const noexcept { return text_; }

 private:
  std::string text_;
};

// Steps over one parameter.
class ParameterIterator final : public InterfaceIterator {
 public:
  explicit ParameterIterator(RefPtr<Parameter> parameter) : parameter_(std::move(parameter)) {}
  void previous() override { at_ = 0; }
  void next() override { at_ = 1; }
  bool valid() override { return at_ == 0 && parameter_; }
  RefPtr<Interface> current() override {
    return valid() ? RefPtr<Interface>(static_cast<Interface*>(parameter_.get())) : nullptr;
  }

 private:
  RefPtr<Parameter> parameter_;
  int at_ = 0;
};

class VerbProcessorMethod final : public Method {
 public:
  VerbProcessorMethod(RefPtr<VerbProcessorImpl> processor, std::string name, std::int32_t id)
      : processor_(std::move(processor)), name_(std::move(name)), parameter_(this, makeRef<VerbParameter>()), id_(id) {}
  ~VerbProcessorMethod() override = default;  // the member pointer releases the parameter

  MetaClass* metaClass() const override { return InterfaceMetaClass<Method>::instance(); }
  IfacePtr queryInterface(std::uint32_t id) override {
    switch (id) {
      case Method::interfaceId: return IfacePtr::of<Method>(this);
      case MethodInfo::interfaceId: return IfacePtr::of<MethodInfo>(this);
      case Member::interfaceId: return IfacePtr::of<Member>(this);
      case IfaceContainer::interfaceId: return IfacePtr::of<IfaceContainer>(this);
      case ParametrizedMember::interfaceId: return IfacePtr::of<ParametrizedMember>(this);
      default: return IfacePtr();
    }
  }

  std::int32_t id() override { return id_; }
  const char* name() override { return name_.c_str(); }
  TypeDescriptor type() override { return {Variant::TBool, 0}; }
  RefPtr<ParameterInfo> parameterInfo(std::int32_t) override { return RefPtr<ParameterInfo>(parameter_.lock()); }
  std::int32_t parameterCount() override { return 1; }
  RefPtr<Parameter> parameter(std::int32_t) override { return RefPtr<Parameter>(parameter_.lock()); }
  InterfaceIterator* iterator() override { return new ParameterIterator(parameter(0)); }

  bool invoke(Variant& result) override {
    if (!processor_) throwNullReference();
    RefPtr<VerbParameter> p = parameter_.lock();
    const std::string argument = p ? p->text() : std::string();
    result = Variant(static_cast<std::uint32_t>(processor_->execute(id_, argument.c_str())));
    return true;
  }

 private:
  RefPtr<VerbProcessorImpl> processor_;
  std::string name_;
  MemberPtr<VerbParameter> parameter_;
  std::int32_t id_;
};

RefPtr<Member> makeMethod(const RefPtr<VerbProcessorImpl>& processor, const std::string& name, std::int32_t id) {
  RefPtr<VerbProcessorMethod> m = makeRef<VerbProcessorMethod>(processor, name, id);
  return RefPtr<Member>(m);
}

class VerbMemberListIterator final : public InterfaceIterator {
 public:
  explicit VerbMemberListIterator(RefPtr<VerbProcessorImpl> processor)
      : processor_(std::move(processor)), at_(processor_->names().begin()) {}
  void previous() override {
    if (at_ != processor_->names().begin()) --at_;
  }
  void next() override {
    if (at_ != processor_->names().end()) ++at_;
  }
  bool valid() override { return at_ != processor_->names().end(); }
  RefPtr<Interface> current() override {
    if (!valid()) return nullptr;
    RefPtr<Member> m = makeMethod(processor_, at_->first, at_->second);
    return RefPtr<Interface>(static_cast<Interface*>(m.get()));
  }

 private:
  RefPtr<VerbProcessorImpl> processor_;
  std::map<std::string, std::int32_t>::const_iterator at_;
};

class VerbMemberList final : public MemberList {
 public:
  explicit VerbMemberList(RefPtr<VerbProcessorImpl> processor) : processor_(std::move(processor)) {}

  MetaClass* metaClass() const override { return InterfaceMetaClass<MemberList>::instance(); }
  IfacePtr queryInterface(std::uint32_t id) override {
    switch (id) {
      case MemberList::interfaceId: return IfacePtr::of<MemberList>(this);
      case MemberListInfo::interfaceId: return IfacePtr::of<MemberListInfo>(this);
      case IfaceContainer::interfaceId: return IfacePtr::of<IfaceContainer>(this);
      default: return IfacePtr();
    }
  }

  const char* name() override { return "Processor:VerbProcessor"; }
  void* reserved() override { return nullptr; }
  RefPtr<Member> memberById(std::int32_t id) override {
    if (!processor_) throwNullReference();
    for (const auto& [name, verb] : processor_->names())
      if (verb == id) return makeMethod(processor_, name, verb);
    return nullptr;
  }
  RefPtr<Member> memberByName(const char* name) override {
    if (!processor_) throwNullReference();
    if (!name) return nullptr;
    auto it = processor_->names().find(name);
    return it == processor_->names().end() ? nullptr : makeMethod(processor_, it->first, it->second);
  }
  RefPtr<MemberList> memberList() override { return RefPtr<MemberList>(this); }
  InterfaceIterator* iterator() override {
    if (!processor_) throwNullReference();
    return new VerbMemberListIterator(processor_);
  }

 private:
  RefPtr<VerbProcessorImpl> processor_;
};

}  // namespace

RefPtr<VerbProcessor> VerbProcessor::create() { return RefPtr<VerbProcessor>(makeRef<VerbProcessorImpl>()); }

VerbProcessorImpl::~VerbProcessorImpl() {
  for (auto& [id, handler] : handlers_) delete handler;
  handlers_.clear();
  delegate_.reset();
  names_.clear();
}

IfacePtr VerbProcessorImpl::queryInterface(std::uint32_t id) {
  if (id == MemberList::interfaceId) {
    auto* list = new VerbMemberList(RefPtr<VerbProcessorImpl>(this));
    return IfacePtr::adopt<MemberList>(list);  // its first reference goes to the caller
  }
  if (id == VerbProcessor::interfaceId) return IfacePtr::of<VerbProcessor>(this);
  return IfacePtr();
}

std::int32_t VerbProcessorImpl::getVerbId(const char* name) {
  const std::string key = name ? name : "";
  auto it = names_.find(key);
  if (it != names_.end()) return it->second;
  const auto id = static_cast<std::int32_t>(names_.size()) + 1;
  names_.emplace(key, id);
  return id;
}

std::int32_t VerbProcessorImpl::setVerbHandler(const char* name, VerbHandler* handler) {
  const std::int32_t id = getVerbId(name);
  VerbHandler*& slot = handlers_[id];
  if (slot != handler) delete slot;
  slot = handler;
  return id;
}

std::int32_t VerbProcessorImpl::execute(std::int32_t id, const char* argument) { return doExecute(id, argument); }

std::int32_t VerbProcessorImpl::execute(const char* name, const char* argument) {
  return doExecute(getVerbId(name), argument);
}

void VerbProcessorImpl::update(std::int32_t id, VerbControl* control) { doUpdate(id, control); }

void VerbProcessorImpl::update(const char* name, VerbControl* control) { doUpdate(getVerbId(name), control); }

void VerbProcessorImpl::setDelegate(const RefPtr<VerbProcessor>& delegate) {
  RefPtr<VerbProcessorImpl> hold(this);
  delegate_.reset(delegate.get());
}

const std::string* VerbProcessorImpl::nameOf(std::int32_t id) const {
  for (const auto& [name, verb] : names_)
    if (verb == id) return &name;
  return nullptr;
}

std::int32_t VerbProcessorImpl::doExecute(std::int32_t id, const char* argument) {
  RefPtr<VerbProcessorImpl> hold(this);
  RefPtr<VerbProcessor> delegate = delegate_.lock();
  if (delegate) {
    const std::string* name = nameOf(id);
    // Copied: the delegate may be this processor's own caller and add names.
    return name ? delegate->execute(std::string(*name).c_str(), argument) : 0;
  }
  VerbHandler* handler = handlerOf(id);
  return handler ? handler->execute(argument) : 0;
}

void VerbProcessorImpl::doUpdate(std::int32_t id, VerbControl* control) {
  RefPtr<VerbProcessorImpl> hold(this);
  RefPtr<VerbProcessor> delegate = delegate_.lock();
  if (delegate) {
    if (const std::string* name = nameOf(id)) delegate->update(std::string(*name).c_str(), control);
    return;
  }
  if (VerbHandler* handler = handlerOf(id))
    handler->update(control);
  else if (control)
    control->enable(false);
}

VerbHandler* VerbProcessorImpl::handlerOf(std::int32_t id) {
  auto it = handlers_.find(id);
  return it == handlers_.end() ? nullptr : it->second;
}

}  // namespace Processor
