// Random bytes from the system's cryptographic provider, with a weak fallback.
#pragma once

#include <cstddef>

namespace Common {

// Fills the buffer. Without a provider, falls back to the C runtime's generator
// unless `strongOnly` is set, in which case it returns false and leaves the
// buffer alone.
bool randomBytes(void* buffer, std::size_t length, bool strongOnly);

namespace detail {
// Tests only: set the source up again, with or without a provider.
void resetRandomSource(bool allowProvider);
}  // namespace detail

}  // namespace Common
