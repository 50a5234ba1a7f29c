// Errors as text for people: the plain multi-line text of a chain (logs,
// message boxes, the "full" error style) and the parts the "error" field kind
// picks.
#pragma once

#include "core/error.h"
#include "core/string.h"

namespace Processor {

// Own message, "(0x<code>)", one line per field and the Tag line, for every
// record of the chain; appended to `out`. Returns the length of `out`.
std::int32_t errorPlainText(String& out, const Common::Error& error);
// The same parts as paragraphs of an HTML page, texts escaped.
std::int32_t errorHtmlText(String& out, const Common::Error& error);
// The record's own text, or the system's or the file library's text for it.
String errorOwnMessage(const Common::Error& error);
// A field's value: text as it is (quoted when asked; empty text gives
// nothing), a number as "1,234 (0x4D2)".
String errorFieldText(const Common::Error& error, const char* name, bool quoted);
String formatError(const Common::Error& error);

}  // namespace Processor
