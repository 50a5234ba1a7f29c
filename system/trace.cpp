#include "system/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/error.h"
#include "core/error_format.h"
#include "core/text_convert.h"
#include "core/trace.h"
#include "platform/win32/windows.h"
#include "system/number_text.h"

namespace Common {

namespace {

constexpr int kInitialThreshold = 2;
std::atomic<int> threshold{kInitialThreshold};

// The default sinks.
void (*defaultText)(int, std::uint32_t, std::uint32_t, const char16_t*) = consoleTraceText;
int (*defaultFormat)(int, std::uint32_t, std::uint32_t, const char16_t*, const TraceArgument*,
                     int) = consoleTraceFormat;
int (*defaultError)(int, const Error&) = consoleTraceError;

// Made on the first registration, freed at exit; a trace issued by a later
// exit routine then sees no registered sink.
std::vector<TraceSink>* sinks = nullptr;
struct SinksOwner {
  ~SinksOwner() {
    delete sinks;
    sinks = nullptr;
  }
} sinksOwner;

int noConsole(int) { return -1; }
std::atomic<ConsolePutChar> putChar{noConsole};

// UTF-16 to the ANSI code page, three bytes per character at most.
std::string toAnsi(const char16_t* text) {
  if (!text) return {};
  std::size_t length = 0;
  while (text[length]) ++length;
  std::string out(3 * length + 1, '\0');
  int n = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length) + 1, out.data(),
                              static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(n > 0 ? static_cast<std::size_t>(n) - 1 : 0);
  return out;
}

void writeAnsi(int level, std::uint32_t facility, std::uint32_t number, const char16_t* text) {
  std::string ansi = toAnsi(text);
  if (!ansi.empty()) writeTraceLine(level, facility, number, ansi.c_str());
}

std::u16string fullText(const Error& error) {
  Processor::String s = Processor::formatError(error);
  if (s.isBogus() || s.isEmpty()) return {};
  return std::u16string(s.getBuffer(), static_cast<std::size_t>(s.length()));
}

}  // namespace

void TraceValue::clear(TraceValue& value) noexcept {
  switch (value.tag) {
    case kWideText: delete[] value.value.wide; break;
    case kNarrowText: delete[] value.value.narrow; break;
    case kBinary: delete[] value.value.binary.data; break;
    case kReserved: std::free(value.value.owned); break;
    default: break;
  }
  value.tag = kNone;
  value.value.binary = {nullptr, 0};
}

void setTraceThreshold(int level) { threshold.store(level, std::memory_order_relaxed); }
int traceThreshold() { return threshold.load(std::memory_order_relaxed); }

const char* traceLevelLetter(int level) {
  switch (level) {
    case 1: return "D";
    case 2: return "I";
    case 3: return "W";
    case 4:
    case 5: return "E";
    default: return "?";
  }
}

void traceText(int level, std::uint32_t facility, std::uint32_t number, const char16_t* text) {
  if (level < traceThreshold()) return;
  defaultText(level, facility, number, text);
  if (!sinks) return;
  for (const TraceSink& s : *sinks) s.text(level, facility, number, text);
}

void traceNarrowText(int level, std::uint32_t facility, std::uint32_t number, const char* text) {
  char16_t* wide = nullptr;
  Processor::toWideBuffer(wide, text);
  std::unique_ptr<char16_t[]> owner(wide);
  traceText(level, facility, number, wide ? wide : u"");
}

int traceFormat(int level, std::uint32_t facility, std::uint32_t number, const char16_t* pattern,
                const TraceArgument* arguments, int count) {
  if (level < traceThreshold()) return 0;
  int result = defaultFormat(level, facility, number, pattern, arguments, count);
  if (!sinks) return result;
  for (const TraceSink& s : *sinks) {
    if (s.format) {
      result = s.format(level, facility, number, pattern, arguments, count);
    } else {
      std::u16string text = traceArgumentsText(pattern, arguments, count);
      s.text(level, facility, number, text.c_str());
    }
  }
  return result;
}

int traceError(int level, const Error& error) {
  if (level < traceThreshold()) return 0;
  int result = defaultError(level, error);
  if (!sinks) return result;
  for (const TraceSink& s : *sinks) {
    if (s.error) {
      result = s.error(level, error);
    } else {
      std::u16string text = fullText(error);
      s.text(level, errorFacility(error.code()), errorNumber(error.code()), text.c_str());
    }
  }
  return result;
}

std::u16string traceArgumentsText(const char16_t* pattern, const TraceArgument* arguments, int count) {
  std::u16string out = pattern ? pattern : u"";
  if (count <= 0 || !arguments) return out;
  out += u"; ";
  for (int i = 0; i < count; ++i) {
    if (i > 0) out += u", ";
    for (const char* n = arguments[i].name; n && *n; ++n) out += static_cast<char16_t>(static_cast<unsigned char>(*n));
    out += u"=\"";
    Processor::String value = Processor::traceParameterToVariant(arguments[i].value).toString();
    if (!value.isBogus() && !value.isEmpty()) out.append(value.getBuffer(), static_cast<std::size_t>(value.length()));
    out += u'"';
  }
  return out;
}

void addTraceSink(const TraceSink& sink) {
  if (!sink.text) return;
  if (!sinks) sinks = new std::vector<TraceSink>;
  sinks->push_back(sink);
}

void removeTraceSink(const TraceSink& sink) {
  if (!sinks) return;
  for (auto it = sinks->begin(); it != sinks->end(); ++it) {
    if (it->text == sink.text) {
      sinks->erase(it);
      return;
    }
  }
}

void consoleTraceText(int level, std::uint32_t facility, std::uint32_t number, const char16_t* text) {
  writeAnsi(level, facility, number, text);
}

int consoleTraceFormat(int level, std::uint32_t facility, std::uint32_t number, const char16_t* pattern,
                       const TraceArgument* arguments, int count) {
  std::u16string text = traceArgumentsText(pattern, arguments, count);
  writeAnsi(level, facility, number, text.c_str());
  return 0;
}

int consoleTraceError(int level, const Error& error) {
  std::u16string text = fullText(error);
  writeAnsi(level, errorFacility(error.code()), errorNumber(error.code()), text.c_str());
  return 0;
}

std::string formatTraceLine(int level, std::uint32_t facility, std::uint32_t number, const char* text,
                            unsigned flags) {
  std::string line = traceLevelLetter(level);
  char hex[9] = {};
  *formatHex32(hex, makeErrorCode(facility, number), 0) = 0;
  line += hex;
  line += ':';
  bool inTag = false;
  for (const char* p = text ? text : ""; *p; ++p) {
    const char c = *p;
    if (!(flags & kTraceRemoveMarkup)) {
      line += c;
    } else if (!inTag) {
      if (c == '<')
        inTag = true;
      else
        line += c;
    } else if (c == '<') {
      // "<<" stands for a literal "<".
      line += c;
      inTag = false;
    } else if (c == '>') {
      inTag = false;
    }
  }
  if (flags & kTraceLineBreak) line += '\n';
  return line;
}

void writeTraceLine(int level, std::uint32_t facility, std::uint32_t number, const char* text) {
  std::string line = formatTraceLine(level, facility, number, text, kTraceRemoveMarkup | kTraceLineBreak);
  std::string oem(3 * line.size() + 1, '\0');
  CharToOemA(line.c_str(), oem.data());
  consolePrintf("%s", oem.c_str());
}

ConsolePutChar setConsolePutChar(ConsolePutChar hook) {
  return putChar.exchange(hook ? hook : noConsole);
}

int consolePrintf(const char* format, ...) {
  const ConsolePutChar hook = putChar.load();
  if (hook == noConsole) return 0;
  va_list args;
  va_start(args, format);
  va_list measureArgs;
  va_copy(measureArgs, args);
  int measured = std::vsnprintf(nullptr, 0, format, measureArgs);
  va_end(measureArgs);
  if (measured < 0) measured = 1024;
  char stackBuffer[200];
  std::unique_ptr<char[]> heap;
  char* buffer = stackBuffer;
  std::size_t size = sizeof stackBuffer;
  if (measured >= 200) {
    size = static_cast<std::size_t>(measured) + 1;
    heap.reset(new (std::nothrow) char[size]);
    buffer = heap.get();
  }
  int written = buffer ? std::vsnprintf(buffer, size, format, args) : -1;
  va_end(args);
  if (written < 0) return -1;
  int handed = 0;
  for (const char* p = buffer; *p; ++p) {
    if (hook(static_cast<unsigned char>(*p)) == -1) break;
    ++handed;
  }
  return handed;
}

}  // namespace Common
