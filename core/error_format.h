// Errors as text for people: the plain multi-line text of a chain (logs,
// message boxes, the "full" error style), the same as an HTML page, and the
// parts the "error" field kind picks.
#pragma once

#include "core/error.h"
#include "core/string.h"

namespace Processor {

// The text forms of an error chain. Stateless: any thread, at once.
class ErrorFormat {
 public:
  virtual ~ErrorFormat() = default;
  // Own message, "(0x<code>)", one line per field and the Tag line, for every
  // record of the chain; appended to `out`. Returns the length of `out`.
  virtual std::int32_t plainText(String& out, const Common::Error& error) = 0;
  // "<html><body>", each record as three paragraphs (headline, fields, tag),
  // "</body></html>"; appended to `out`. Returns the length of `out`.
  virtual std::int32_t htmlText(String& out, const Common::Error& error) = 0;
  // A new formatter owned by the caller; null when memory runs out.
  static ErrorFormat* create();
};

class ErrorFormatImpl final : public ErrorFormat {
 public:
  std::int32_t plainText(String& out, const Common::Error& error) override;
  std::int32_t htmlText(String& out, const Common::Error& error) override;
  // The plain text of an error 0x10002 raised at `site` whose cause is the
  // Win32 error.
  std::int32_t formatWin32(String& out, std::uint32_t win32Error, std::uint64_t site);
};

std::int32_t errorPlainText(String& out, const Common::Error& error);
// Texts are escaped ('<', '&', '"'): paths and user text must stay text.
std::int32_t errorHtmlText(String& out, const Common::Error& error);
// The head's own text, or for a file-library code without one the catalogue
// text of that code; empty otherwise.
String errorMessageText(const Common::Error& error);
// The head's own text, or the system's text of a system error, or
// errorMessageText's fallback.
String errorOwnMessage(const Common::Error& error);
// A field's value: text as it is (quoted when asked; empty text gives
// nothing), a number as "1,234 (0x4D2)".
String errorFieldText(const Common::Error& error, const char* name, bool quoted);
// The plain text of the whole chain.
String formatError(const Common::Error& error);

}  // namespace Processor
