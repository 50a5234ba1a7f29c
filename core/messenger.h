// How library code talks to the user without knowing the user interface:
// message records shown through a Messenger (which answers with the pressed
// button), progress records sent to a Progress sink, and a cancel flag that a
// long job polls. The GUI implements Messenger and Progress; the records are
// plain values owned by whoever builds them and only borrowed by a call.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "core/error.h"
#include "core/object.h"
#include "core/string.h"

namespace Processor {

// One message: its texts, the related error code, the flags word (kind,
// log request, buttons, default button, GUI options) and named extras.
struct MessengerMessage {
  MessengerMessage();
  ~MessengerMessage();

  std::uint32_t id;         // the caller's; handed back unchanged by ask
  std::uint32_t errorCode;  // facility << 16 | number, 0 for none
  String text;
  String details;           // the advice; logs join it to the text after a line feed
  std::uint32_t flags;
  // Optional parts of the GUI's message window; the core neither sets nor reads them.
  String caption;
  String buttonTexts;       // captions of the four custom buttons, tab-separated
  String linkText;
  String link;
  std::map<std::uint32_t, std::string> reportFields;
  std::map<std::string, String> values;  // "countdown_interval" among them
};

// One progress report. Senders set the flags (and the value) themselves.
struct ProgressInfo {
  ProgressInfo();
  ProgressInfo(const ProgressInfo& other);
  ProgressInfo& operator=(const ProgressInfo& other) = default;
  ~ProgressInfo();

  std::uint32_t flags;
  std::uint32_t value;  // a percentage when the flags say so
  std::uint32_t total;  // carried for the receiver; the core neither sets nor reads it
  String text;          // the current activity
  String secondText;
};

// Flag words the core sends: work running without a known total, and work
// whose `value` holds the done percentage.
inline constexpr std::uint32_t progressRunning = 0x101;
inline constexpr std::uint32_t progressPercent = 0x143;

// A cancel request: the user-interface thread sets it, the worker polls it.
class Cancelable {
 public:
  Cancelable() = default;
  Cancelable(const Cancelable&) = delete;
  Cancelable& operator=(const Cancelable&) = delete;
  virtual ~Cancelable();
  // Raises the flag; answers its previous value (0 the first time).
  virtual std::uint32_t cancel();
  virtual bool isCancelled();

 protected:
  std::atomic<std::uint32_t> flag_{0};
};

// The message flags word.
namespace MessageFlag {
inline constexpr std::uint32_t kindMask = 0xF;
inline constexpr std::uint32_t kindError = 1;
inline constexpr std::uint32_t kindInformation = 2;
inline constexpr std::uint32_t kindConfirmation = 3;
inline constexpr std::uint32_t kindWarning = 4;
inline constexpr std::uint32_t log = 0x10;  // the implementation logs before showing
// Answer flags, one per button.
inline constexpr std::uint32_t ok = 0x20;
inline constexpr std::uint32_t yes = 0x40;
inline constexpr std::uint32_t no = 0x80;
inline constexpr std::uint32_t restart = 0x100;
inline constexpr std::uint32_t retry = 0x200;
inline constexpr std::uint32_t ignore = 0x400;
inline constexpr std::uint32_t ignoreAll = 0x800;
inline constexpr std::uint32_t custom1 = 0x1000;  // labels of custom buttons come with the message
inline constexpr std::uint32_t custom2 = 0x2000;
inline constexpr std::uint32_t custom3 = 0x4000;
inline constexpr std::uint32_t custom4 = 0x8000;
inline constexpr std::uint32_t quit = 0x10000;
inline constexpr std::uint32_t cancel = 0x20000;
inline constexpr std::uint32_t shutdown = 0x80000;
// Index of the default button among the buttons present.
inline constexpr std::uint32_t defaultButtonShift = 20;
inline constexpr std::uint32_t defaultButtonMask = 0x300000;
}  // namespace MessageFlag

// What ask answers: the message's id beside the pressed button.
struct MessengerAnswer {
  std::uint32_t id;
  std::uint32_t answer;
};

class Messenger : public virtual Interface {
  PROCESSOR_INTERFACE(Messenger, 0xa058be10u)
 public:
  // Shows the message and pairs the answer with the message's id.
  virtual MessengerAnswer ask(const MessengerMessage& message);
  // Shows the message and blocks until answered; the pressed button's flag,
  // 0 when no button ended it.
  virtual std::uint32_t show(const MessengerMessage& message) = 0;
  // Traces the log line at the level of the message's kind.
  virtual void log(const MessengerMessage& message);
  // Traces the user's answer (answer flags).
  virtual void logAnswer(const MessengerMessage& message, std::uint32_t answer);
  virtual void logResult(const MessengerMessage& message, const MessengerAnswer& result);
  virtual void close(std::uint32_t id) = 0;
  virtual void closeAll() = 0;

  // The catalogue label of one answer flag (U+2382 marks the hot key), empty
  // for flags without a label.
  static String buttonLabel(std::uint32_t answer);
  // The labels of the buttons in `flags`, hot-key marks removed, joined by
  // "/"; the catalogue text "None" when there are none.
  static String buttonList(std::uint32_t flags);
  // The message's text, a line feed and its details, then ": " and the buttons.
  static String logLine(const MessengerMessage& message);
  // The text (and advice, from the "advice" field) to show for an error;
  // answers the code of the error reported (0x10000 when there is none).
  static std::uint32_t errorText(const Common::Error& error, String& text, String& advice);
};

class Progress : public virtual Interface {
  PROCESSOR_INTERFACE(Progress, 0xa2584a10u)
 public:
  // True: go on. The core's callers ignore the answer.
  virtual bool report(const ProgressInfo& info) = 0;
};

// Where Messenger::log and logAnswer send their lines (level, facility,
// number, text). Null (the default) drops them. The trace library installs
// its sink here.
using MessengerTraceSink = void (*)(std::int32_t level, std::uint32_t facility, std::uint32_t number,
                                    const String& text);
void setMessengerTraceSink(MessengerTraceSink sink);

}  // namespace Processor
