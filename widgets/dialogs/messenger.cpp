#include "widgets/dialogs/messenger.h"

#include <string>

#include "core/catalogue.h"
#include "gui/app/korvane_app.h"
#include "system/number_text.h"

using namespace FX;

namespace {
FXWString wide(const Processor::String& s) {
  return FXWString(std::u16string(reinterpret_cast<const char16_t*>(s.getBuffer()), static_cast<std::size_t>(s.length())));
}

// Message flag → box button bit.
struct FlagBit {
  std::uint32_t flag, bit;
};
const FlagBit kButtons[] = {
    {0x20, 0x1},     {0x40, 0x4},      {0x80, 0x8},      {0x100, 0x20},    {0x200, 0x40},
    {0x400, 0x80},   {0x800, 0x100},   {0x10000, 0x10},  {0x20000, 0x2},   {0x80000, 0x4000},
    {0x1000, 0x200}, {0x2000, 0x400},  {0x4000, 0x800},  {0x8000, 0x1000},
};

// Upper-case hexadecimal without leading zeros ("0" for 0).
FXWString hexKey(std::uint32_t code) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%X", code);
  return FXWString::fromUtf8(buffer);
}
}  // namespace

FXDEFMAP(FXKMessenger::Core) FXKMessengerCoreMap[] = {
    FXMAPFUNC(SEL_CHORE, 0, FXKMessenger::Core::onChoreClose),
    FXMAPFUNC(SEL_CHORE, 1, FXKMessenger::Core::onChoreCloseAll),
};
FXIMPLEMENT(FXKMessenger::Core, FXObject, FXKMessengerCoreMap, ARRAYNUMBER(FXKMessengerCoreMap))

long FXKMessenger::Core::onChoreClose(FXObject*, FXSelector, void* ptr) {
  const auto id = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(ptr));
  if (FXWindow* box = messenger->openBox(id)) box->getApp()->stopModal(box, 0);
  return 1;
}

long FXKMessenger::Core::onChoreCloseAll(FXObject*, FXSelector, void*) {
  for (const auto& [id, box] : messenger->openBoxes_) box->getApp()->stopModal(box, 0);
  return 1;
}

FXKMessenger::FXKMessenger(FXWindow* owner) : owner_(owner) {
  if (!owner) Processor::throwNullReference();
  core_ = new Core(this);
}

FXKMessenger::~FXKMessenger() {
  // Close requests still queued must not reach the deleted core.
  if (auto* app = dynamic_cast<FXKorvaneApp*>(owner_->getApp())) app->cancelChores(core_, 0);
  delete core_;
  openBoxes_.clear();
}

FXWindow* FXKMessenger::openBox(std::uint32_t id) const {
  auto it = openBoxes_.find(id);
  return it == openBoxes_.end() ? nullptr : it->second;
}

FXKMessageBox::Options FXKMessenger::optionsFor(const Processor::MessengerMessage& m) const {
  FXKMessageBox::Options o;
  o.owner = owner_;
  o.caption = wide(m.caption);
  o.dontShowKey = hexKey(m.errorCode);
  const std::uint32_t kind = m.flags & 7;
  o.flags = (kind >= 1 && kind <= 4) ? kind : 0;
  if (m.flags & 0x1000000) {
    o.flags |= FXKMessageBox::OPTION_COUNTDOWN;
    auto it = m.values.find("countdown_interval");
    std::uint64_t seconds = 0;
    if (it != m.values.end()) {
      const std::u16string text(reinterpret_cast<const char16_t*>(it->second.getBuffer()),
                                static_cast<std::size_t>(it->second.length()));
      if (!Common::parseNumberW(&seconds, text.c_str(), 10)) seconds = 0;
    }
    // Missing or unreadable: the box's own default length.
    o.countdown = seconds > 3600 ? 3600 : static_cast<int>(seconds);
  }
  if (m.flags & 0x2000000) o.countdownText = FXWString(u"Remaining: <bold>{0, choice, 0#|1#1 second|1<{0} seconds}</bold>");
  if (m.flags & 0x4000000) {
    o.flags |= FXKMessageBox::OPTION_KB_BUTTON;
    o.linkText = wide(m.linkText);
    o.link = wide(m.link);
    o.reportFields = m.reportFields;
  }
  if (m.flags & 0x8000000) {
    o.flags |= FXKMessageBox::OPTION_KB_TEXT;
    o.linkText = wide(m.linkText);
  }
  o.text = FXKMessageBox::formatErrorLine(o.flags, m.errorCode >> 16, m.errorCode & 0xFFFF, wide(m.text), FXWString());
  o.details = wide(m.details);
  if (m.flags & 0x8) o.flags |= FXKMessageBox::OPTION_DONT_SHOW;
  std::uint32_t buttons = 0;
  for (const FlagBit& fb : kButtons)
    if (m.flags & fb.flag) buttons |= fb.bit;
  buttons |= ((m.flags >> 20) & 3u) << 28;
  o.buttons = buttons;
  o.buttonTexts = wide(m.buttonTexts);
  return o;
}

std::uint32_t FXKMessenger::answerOf(std::uint32_t result) {
  result &= ~0x2000u;
  for (const FlagBit& fb : kButtons)
    if (result == fb.bit) return fb.flag;
  return 0;
}

std::uint32_t FXKMessenger::show(const Processor::MessengerMessage& message) {
  if (message.flags & 0x10) log(message);
  FXKMessageBox::Options options = optionsFor(message);
  FXApp* app = owner_->getApp();
  if ((options.flags & FXKMessageBox::OPTION_DONT_SHOW) && !options.dontShowKey.empty() &&
      settingsOf(app).readIntEntry("DontShow", options.dontShowKey.toUtf8().c_str(), 0) == 1)
    return 0x20;
  struct Call {
    FXKMessenger* self;
    std::uint32_t id;
    FXKMessageBox::Options* options;
    std::uint32_t result;
  } call{this, message.id, &options, 0};
  auto run = [](void* p) -> int {
    auto* c = static_cast<Call*>(p);
    c->result = c->self->showBox(c->id, *c->options);
    return static_cast<int>(c->result);
  };
  // The result comes back in the record, not as executeSync's answer.
  if (auto* korvane = dynamic_cast<FXKorvaneApp*>(app)) korvane->executeSync(run, &call);
  else run(&call);
  return answerOf(call.result);
}

std::uint32_t FXKMessenger::showBox(std::uint32_t id, FXKMessageBox::Options& options) {
  FXApp* app = owner_->getApp();
  if (!options.owner) {
    auto* ext = dynamic_cast<FXExtApp*>(app);
    options.owner = ext && ext->getMainWindow(true) ? static_cast<FXWindow*>(ext->getMainWindow(true))
                                                    : static_cast<FXWindow*>(app->getRootWindow());
  }
  FXKMessageBox* box = FXKMessageBox::create(options);
  openBoxes_[id] = box;
  std::uint32_t result = 0;
  try {
    result = box->execute(PLACEMENT_SCREEN);
  } catch (...) {
    openBoxes_.erase(id);
    delete box;
    throw;
  }
  if ((result & 0x2000) && (result & 0x1) && !options.dontShowKey.empty())
    settingsOf(app).writeIntEntry("DontShow", options.dontShowKey.toUtf8().c_str(), 1);
  delete box;
  openBoxes_.erase(id);
  return result;
}

void FXKMessenger::close(std::uint32_t id) {
  if (auto* app = dynamic_cast<FXKorvaneApp*>(owner_->getApp()))
    app->postChore(core_, 0, nullptr, reinterpret_cast<void*>(static_cast<std::uintptr_t>(id)), false);
}

void FXKMessenger::closeAll() {
  if (auto* app = dynamic_cast<FXKorvaneApp*>(owner_->getApp())) app->postChore(core_, 1, nullptr, nullptr, false);
}
