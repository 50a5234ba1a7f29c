#include "core/messenger.h"

#include <atomic>

#include "core/catalogue.h"
#include "core/message_format.h"
#include "core/trace.h"
#include "platform/win32/windows.h"

namespace Processor {

namespace {

constinit std::atomic<MessengerTraceSink> traceSink{&traceFormat};

void trace(int level, std::uint32_t code, const String& pattern, const Variant (&arguments)[2]) {
  if (MessengerTraceSink sink = traceSink.load(std::memory_order_acquire))
    sink(level, code >> 16, code & 0xFFFF, pattern, arguments, 2);
}

String texts(const MessengerMessage& message) {
  String joined(message.text);
  return joined.append(u'\n').append(message.details);
}

int kindLevel(std::uint32_t flags) {
  switch (flags & MessageFlag::kindMask) {
    case MessageFlag::kindError:
      return 4;
    case MessageFlag::kindInformation:
      return 2;
    case MessageFlag::kindConfirmation:
    case MessageFlag::kindWarning:
      return 3;
    default:
      return 1;
  }
}

struct Label {
  std::uint32_t answer;
  std::uint32_t slot;
  const char16_t* text;
};
constexpr Label labels[] = {
    {MessageFlag::ok, 2216, u"O\u2382K"},           {MessageFlag::yes, 2217, u"\u2382Yes"},
    {MessageFlag::no, 2218, u"\u2382No"},           {MessageFlag::restart, 2219, u"\u2382Restart"},
    {MessageFlag::retry, 2220, u"\u2382Retry"},     {MessageFlag::ignore, 2221, u"\u2382Ignore"},
    {MessageFlag::ignoreAll, 2222, u"Ignore \u2382All"}, {MessageFlag::quit, 2223, u"\u2382Quit"},
    {MessageFlag::cancel, 2224, u"\u2382Cancel"},   {MessageFlag::shutdown, 2225, u"Sh\u2382utdown"},
};

constexpr char16_t hotKeyMark = u'\u2382';

String narrowToWide(const char* text) {
  const int len = static_cast<int>(std::char_traits<char>::length(text));
  if (len == 0) return String();
  const int units = MultiByteToWideChar(CP_ACP, 0, text, len, nullptr, 0);
  if (units <= 0) return String();
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  const int done = MultiByteToWideChar(CP_ACP, 0, text, len, wide.data(), units);
  return String(wide.data(), done > 0 ? done : 0);
}

}  // namespace

// ---- Records ----------------------------------------------------------------

MessengerMessage::MessengerMessage() : id(0), errorCode(0), flags(0) {}
MessengerMessage::~MessengerMessage() = default;

// Senders set the words themselves; zero keeps a forgotten one harmless.
ProgressInfo::ProgressInfo()
    : flags(0), value(0), total(0), icon(nullptr), animation(nullptr), frameCount(0), frameDelay(0) {}
ProgressInfo::ProgressInfo(const ProgressInfo& other)
    : flags(other.flags),
      value(other.value),
      total(other.total),
      text(other.text),
      secondText(other.secondText),
      icon(other.icon),
      animation(other.animation),
      frameCount(other.frameCount),
      frameDelay(other.frameDelay) {}
ProgressInfo::~ProgressInfo() = default;

Cancelable::~Cancelable() = default;

std::uint32_t Cancelable::cancel() { return flag_.exchange(1, std::memory_order_acq_rel); }

bool Cancelable::isCancelled() { return flag_.load(std::memory_order_acquire) == 1; }

// ---- Messenger --------------------------------------------------------------

void setMessengerTraceSink(MessengerTraceSink sink) { traceSink.store(sink, std::memory_order_release); }

MessengerAnswer Messenger::ask(const MessengerMessage& message) { return {message.id, show(message)}; }

void Messenger::log(const MessengerMessage& message) {
  const Variant arguments[2] = {Variant(texts(message)), Variant(buttonList(message.flags))};
  trace(kindLevel(message.flags), message.errorCode, String(Common::catalogueText(2227, u"{0}: {1}")), arguments);
}

void Messenger::logAnswer(const MessengerMessage& message, std::uint32_t answer) {
  const Variant arguments[2] = {Variant(logLine(message)), Variant(buttonList(answer))};
  trace(2, message.errorCode, String(Common::catalogueText(2228, u"{0}: User response: {1}")), arguments);
}

void Messenger::logResult(const MessengerMessage& message, const MessengerAnswer& result) {
  logAnswer(message, result.answer);
}

String Messenger::buttonLabel(std::uint32_t answer) {
  for (const Label& l : labels)
    if (l.answer == answer) return String(Common::catalogueText(l.slot, l.text));
  return String();
}

String Messenger::buttonList(std::uint32_t flags) {
  String list;
  for (std::uint64_t bit = 0x20; bit <= 0x200000; bit <<= 1) {
    if (!(flags & bit)) continue;
    // Bits without a label (custom buttons, the default-button index) are not buttons to name.
    const String label = buttonLabel(static_cast<std::uint32_t>(bit));
    if (label.isEmpty()) continue;
    for (std::int32_t i = 0; i < label.length(); ++i)
      if (label[i] != hotKeyMark) list.append(label[i]);
    list.append(u'/');
  }
  if (list.isEmpty()) return String(Common::catalogueText(2226, u"None"));
  list.truncate(list.length() - 1);
  return list;
}

String Messenger::logLine(const MessengerMessage& message) {
  const String pattern(Common::catalogueText(2227, u"{0}: {1}"));
  return formatMessage2(pattern, Variant(texts(message)), Variant(buttonList(message.flags)));
}

std::uint32_t Messenger::errorText(const Common::Error& error, String& text, String& advice) {
  Common::Error e = error;
  // Facilities 14 and 18 only wrap the error that matters.
  while (e && ((e.code() >> 16) == 14 || (e.code() >> 16) == 18)) e = e.cause();
  if (!e || e.code() == 0) {
    text = String(Common::catalogueText(2229, u"Internal error"));
    return 0x10000;
  }
  text = formatMessage1(String(u"{0,error,message}"), Variant(e));
  if (text.isEmpty()) {
    // The pattern names three arguments: the text, a number that chooses
    // whether the parenthesis shows, and what goes into it (the code).
    const String pattern(Common::catalogueText(2230, u"Internal error: {0} {1, choice, 0#|0<({2})}"));
    const String completed(Common::catalogueText(2231, u"Operation has completed with errors."));
    const String code = formatMessage1(String(u"0x{0,number,hex}"), Variant(e.code()));
    text = formatMessage3(pattern, Variant(completed), Variant(e.code()), Variant(code));
  }
  if (const char16_t* w = e.wideField("advice"))
    advice = String(w);
  else if (const char* n = e.narrowField("advice"))
    advice = narrowToWide(n);
  return e.code();
}

}  // namespace Processor
