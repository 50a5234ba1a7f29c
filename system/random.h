// Random bytes from the system's cryptographic provider.
#pragma once

#include <cstddef>

namespace Common {

// Fills the buffer from the provider. When the provider is missing or fails,
// returns false whatever `strongOnly` says; the buffer's content is then the
// caller's business.
bool randomBytes(void* buffer, std::size_t length, bool strongOnly);

namespace detail {
// Tests only: set the source up again, with or without a provider.
void resetRandomSource(bool allowProvider);
}  // namespace detail

}  // namespace Common
