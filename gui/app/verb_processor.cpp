#include "gui/app/verb_processor.h"

#include <string>

#include "core/error.h"
#include "gui/app/korvane_app.h"
#include "gui/app/verb_core.h"

using namespace FX;

// ---------------------------------------------------------------- core

FXDEFMAP(FXKVerbProcessorCore) FXKVerbProcessorCoreMap[] = {
    FXMAPFUNCS(SEL_UPDATE, 1, 10000, FXKVerbProcessorCore::onUpdate),
    FXMAPFUNCS(SEL_COMMAND, 1, 10000, FXKVerbProcessorCore::onCommand),
};
FXIMPLEMENT(FXKVerbProcessorCore, FXObject, FXKVerbProcessorCoreMap, ARRAYNUMBER(FXKVerbProcessorCoreMap))

FXKVerbProcessorCore::FXKVerbProcessorCore() : processor(Processor::VerbProcessor::create()) {}

FXKVerbProcessorCore::~FXKVerbProcessorCore() {
  processor = nullptr;
  direct.clear();
  indirect.clear();
}

long FXKVerbProcessorCore::onUpdate(FXObject* sender, FXSelector selector, void* data) {
  const std::uint32_t id = FXSELID(selector);
  if (auto it = direct.find(id); it != direct.end()) {
    return it->second.target->handle(sender, FXSEL(SEL_UPDATE, it->second.message), data);
  }
  if (auto it = indirect.find(id); it != indirect.end()) {
    FXWindow* window = *it->second.address;
    return window ? window->handle(sender, FXSEL(SEL_UPDATE, it->second.message), data) : 1;
  }
  if (!processor) Processor::throwNullReference();
  FXKVerbControl control(sender);
  processor->update(static_cast<std::int32_t>(id), &control);
  return 1;
}

long FXKVerbProcessorCore::onCommand(FXObject* sender, FXSelector selector, void* data) {
  const std::uint32_t id = FXSELID(selector);
  if (auto it = direct.find(id); it != direct.end()) {
    return it->second.target->handle(sender, FXSEL(SEL_COMMAND, it->second.message), data) != 0;
  }
  if (auto it = indirect.find(id); it != indirect.end()) {
    if (FXWindow* window = *it->second.address) {
      return window->handle(sender, FXSEL(SEL_COMMAND, it->second.message), data) != 0;
    }
  }
  // A command that came back from a delegator and found no window stops here.
  if (!sender) return 0;
  if (!processor) Processor::throwNullReference();
  return processor->execute(static_cast<std::int32_t>(id), "");
}

// ---------------------------------------------------------------- delegator

namespace {

template <class F>
int onGuiThread(FXApp* app, F&& f) {
  auto* korvane = dynamic_cast<FXKorvaneApp*>(app);
  if (!korvane) return f();
  return korvane->executeSync([](void* p) { return (*static_cast<F*>(p))(); }, &f);
}

}  // namespace

std::int32_t FXKVerbHandlerDelegator::execute(const char* argument) {
  std::string copy = argument ? argument : "";
  return onGuiThread(app_, [this, &copy] { return static_cast<int>(foxExecute(&copy)); });
}

void FXKVerbHandlerDelegator::update(Processor::VerbControl* control) {
  onGuiThread(app_, [this, control] { return static_cast<int>(foxUpdate(control)); });
}

long FXKVerbHandlerDelegator::foxExecute(void* data) {
  // Suspends every level and gives back exactly as many: ending one level
  // and beginning the count held would grow the count with each verb.
  auto* ext = dynamic_cast<FXExtApp*>(app_);
  const FXint held = ext ? ext->endWaitCursor(2) : 0;
  long result = 0;
  try {
    result = target_->handle(nullptr, FXSEL(SEL_COMMAND, id_), data);
  } catch (...) {
    if (ext) ext->beginWaitCursor(held);
    throw;
  }
  if (ext) ext->beginWaitCursor(held);
  return result;
}

long FXKVerbHandlerDelegator::foxUpdate(void* data) {
  return target_->handle(nullptr, FXSEL(SEL_UPDATE, id_), data);
}

// ---------------------------------------------------------------- control

void FXKVerbControl::send(FXuint id) { window_->handle(nullptr, FXSEL(SEL_COMMAND, id), nullptr); }
// FOX 1.6's own state ids, so that every widget reacts as to its toolkit's
// messages (this toolkit has ID_TOGGLEENABLED before the check ids).
void FXKVerbControl::enable(bool on) { send(on ? FXWindow::ID_ENABLE : FXWindow::ID_DISABLE); }
void FXKVerbControl::check(bool on) { send(on ? FXWindow::ID_CHECK : FXWindow::ID_UNCHECK); }
void FXKVerbControl::setThirdState(bool on) { send(on ? FXWindow::ID_UNKNOWN : FXWindow::ID_UNCHECK); }
void FXKVerbControl::show(bool on) { send(on ? FXWindow::ID_SHOW : FXWindow::ID_HIDE); }
void FXKVerbControl::setText(const char16_t* text) {
  if (window_ && window_->isMemberOf(FXMETACLASS(FXLabel))) {
    static_cast<FXLabel*>(window_)->setText(FXWString(text).toUtf8().c_str());
  }
}

// ---------------------------------------------------------------- processor

FXKVerbProcessor::FXKVerbProcessor(FXApp* app) : core_(new FXKVerbProcessorCore), app_(app) {}

FXKVerbProcessor::~FXKVerbProcessor() { delete core_; }

Processor::VerbProcessor& FXKVerbProcessor::processor() const {
  if (!core_ || !core_->processor) Processor::throwNullReference();
  return *core_->processor;
}

Processor::IfacePtr FXKVerbProcessor::queryInterface(std::uint32_t id) { return processor().queryInterface(id); }

std::int32_t FXKVerbProcessor::setVerbHandler(const char* name, Processor::VerbHandler* handler) {
  return processor().setVerbHandler(name, handler);
}
std::int32_t FXKVerbProcessor::getVerbId(const char* name) { return processor().getVerbId(name); }
std::int32_t FXKVerbProcessor::execute(std::int32_t id, const char*) { return executeVerb(id); }
std::int32_t FXKVerbProcessor::execute(const char* name, const char* argument) {
  return processor().execute(name, argument);
}
void FXKVerbProcessor::update(std::int32_t id, Processor::VerbControl* control) { processor().update(id, control); }
void FXKVerbProcessor::update(const char* name, Processor::VerbControl* control) {
  processor().update(name, control);
}
void FXKVerbProcessor::setDelegate(const Processor::RefPtr<Processor::VerbProcessor>& delegate) {
  processor().setDelegate(delegate);
}

std::string FXKVerbProcessor::narrowName(const FXWString& name) { return name.toUtf8(); }

std::int32_t FXKVerbProcessor::executeVerb(std::int32_t id) { return processor().execute(id, ""); }

std::int32_t FXKVerbProcessor::bindVerb(const char* name, FXObject* target, std::uint32_t message) {
  const std::int32_t id = getVerbId(name);
  setVerbHandler(name, new FXKVerbHandlerDelegator(core_, app_, static_cast<std::uint32_t>(id)));
  core_->direct[static_cast<std::uint32_t>(id)] = {target, message & 0xFFFF};
  return id;
}

std::int32_t FXKVerbProcessor::bindVerbIndirect(const char* name, FXWindow** address, std::uint32_t message) {
  const std::int32_t id = getVerbId(name);
  setVerbHandler(name, new FXKVerbHandlerDelegator(core_, app_, static_cast<std::uint32_t>(id)));
  core_->indirect[static_cast<std::uint32_t>(id)] = {address, message & 0xFFFF};
  return id;
}

bool FXKVerbProcessor::findBinding(std::int32_t id, FXObject*& target, std::uint32_t& message) const {
  const auto key = static_cast<std::uint32_t>(id);
  if (auto it = core_->direct.find(key); it != core_->direct.end()) {
    target = it->second.target;
    message = it->second.message;
    return true;
  }
  if (auto it = core_->indirect.find(key); it != core_->indirect.end()) {
    target = *it->second.address;
    message = it->second.message;
    return true;
  }
  return false;
}

FXObject* FXKVerbProcessor::target() const { return core_; }
