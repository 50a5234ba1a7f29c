// Process-wide trace logging. An event has a level (1 debug, 2 info,
// 3 warning, 4 and 5 error), an error code split into facility and number,
// and a text, a pattern with named arguments or a whole error. Events below
// the threshold are dropped; the rest go to the default sink (the console
// writer) and then to every registered sink, in registration order.
//
// Nothing here locks: register sinks and the console hook before other
// threads trace; every sink must itself be safe for concurrent calls.
#pragma once

#include <cstdint>
#include <string>

namespace Common {

class Error;

// One traced argument value, a plain record so that sinks need not know the
// core's variants. Tags 4, 7, 10 and 11 own their pointer; release them with
// TraceValue::clear. Sinks copy what they keep.
struct TraceValue {
  enum Tag : std::uint32_t {
    kLong = 0,
    kULong = 1,
    kDate = 2,  // milliseconds since 1970-01-01 UTC
    kDouble = 3,
    kWideText = 4,
    kLong64 = 5,
    kULong64 = 6,
    kNarrowText = 7,
    kBool = 8,
    kNone = 9,
    kBinary = 10,
    kReserved = 11,
  };
  std::uint32_t tag = kNone;
  union {
    std::int32_t l;
    std::uint32_t ul;
    double d;
    char16_t* wide;
    std::int64_t l64;
    std::uint64_t ul64;
    char* narrow;
    bool b;
    struct {
      unsigned char* data;
      std::uint32_t length;
    } binary;
    void* owned;  // tag 11, from malloc
  } value = {.binary = {nullptr, 0}};

  // Frees the owned copy of tags 4, 7, 10 and 11; leaves tag 9, all zero.
  static void clear(TraceValue& value) noexcept;
};

struct TraceArgument {
  const char* name;  // not owned
  TraceValue value;
};

// A registered sink. `text` is required; without `format` a pattern event
// reaches `text` as traceArgumentsText, without `error` an error event reaches
// it as the error's full text.
struct TraceSink {
  void (*text)(int level, std::uint32_t facility, std::uint32_t number, const char16_t* text);
  int (*format)(int level, std::uint32_t facility, std::uint32_t number, const char16_t* pattern,
                const TraceArgument* arguments, int count);
  int (*error)(int level, const Error& error);
};

inline constexpr int kTraceDebug = 1;
inline constexpr int kTraceInfo = 2;
inline constexpr int kTraceWarning = 3;
inline constexpr int kTraceError = 4;

void setTraceThreshold(int level);
int traceThreshold();
// "D", "I", "W", "E" for 1 to 5; "?" for any other level.
const char* traceLevelLetter(int level);

void traceText(int level, std::uint32_t facility, std::uint32_t number, const char16_t* text);
// Bytes widened by value.
void traceNarrowText(int level, std::uint32_t facility, std::uint32_t number, const char* text);
// The last pattern function's value, or 0.
int traceFormat(int level, std::uint32_t facility, std::uint32_t number, const char16_t* pattern,
                const TraceArgument* arguments, int count);
// The last error function's value, or 0.
int traceError(int level, const Error& error);

// The pattern as it stands (not formatted), then '; name="value", ...' for
// the arguments.
std::u16string traceArgumentsText(const char16_t* pattern, const TraceArgument* arguments, int count);

// Adds a sink (copied) after those registered before; removes the first
// registered sink with the same text function. For set-up before tracing
// starts, never while other threads trace.
void addTraceSink(const TraceSink& sink);
void removeTraceSink(const TraceSink& sink);

// The default sinks: the event as one console line in the OEM code page.
void consoleTraceText(int level, std::uint32_t facility, std::uint32_t number, const char16_t* text);
int consoleTraceFormat(int level, std::uint32_t facility, std::uint32_t number, const char16_t* pattern,
                       const TraceArgument* arguments, int count);
int consoleTraceError(int level, const Error& error);

// Formatting flags of formatTraceLine.
inline constexpr unsigned kTraceRemoveMarkup = 0x1;
inline constexpr unsigned kTraceLineBreak = 0x2;

// Level letter, code as eight upper-case hexadecimal digits, ":", the text
// (tags in "<...>" removed with kTraceRemoveMarkup), a final line break with
// kTraceLineBreak.
std::string formatTraceLine(int level, std::uint32_t facility, std::uint32_t number, const char* text, unsigned flags);
// formatTraceLine with both flags, in the OEM code page, through consolePrintf.
void writeTraceLine(int level, std::uint32_t facility, std::uint32_t number, const char* text);

// The console's character output: one character in, the character or -1 out.
// By default nothing is written and consolePrintf returns 0 at once.
using ConsolePutChar = int (*)(int ch);
// Installs `hook` (null restores the default); returns the previous one.
ConsolePutChar setConsolePutChar(ConsolePutChar hook);
// printf-style; the characters handed to the hook, or -1 when formatting failed.
int consolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace Common
