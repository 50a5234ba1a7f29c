// The core's trace front ends: variants to and from the plain trace values of
// system/trace.h, a pattern formatted with positional variants, and named
// variants handed to the sinks unformatted.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "core/variant.h"
#include "system/trace.h"

namespace Processor {

// Values that cannot be traced become tag 9 (none).
Common::TraceValue variantToTraceValue(const Variant& value);
// Tag 7 comes back as a text, each byte widened; unknown tags as TEmpty.
Variant traceParameterToVariant(const Common::TraceValue& value);

// Below the threshold nothing is formatted. With arguments the pattern is
// formatted as a message pattern; without, it is traced as it stands.
void traceFormat(int level, std::uint32_t facility, std::uint32_t number, const String& pattern,
                 const Variant* arguments, std::int32_t count);
// traceFormat with the two texts as its arguments {0} and {1}.
void traceTwoTexts(int level, std::uint32_t facility, std::uint32_t number, const String& pattern,
                   const String& first, const String& second);
// The pattern and the named values go to the sinks unformatted; the result of
// Common::traceFormat.
int traceValues(int level, std::uint32_t facility, std::uint32_t number, const String& pattern,
                const std::pair<std::string, Variant>* arguments, std::int32_t count);

}  // namespace Processor
