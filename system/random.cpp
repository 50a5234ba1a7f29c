#include "system/random.h"

#include <atomic>

#include "platform/win32/windows.h"
#include "system/locks.h"

namespace Common {
namespace {

RecursiveLock setupLock;
std::atomic<bool> ready{false};
HCRYPTPROV provider = 0;
bool providerAllowed = true;

void setUp() {
  RecursiveLockGuard guard(setupLock);
  if (ready.load(std::memory_order_acquire)) return;
  HCRYPTPROV p = 0;
  if (providerAllowed && !CryptAcquireContextA(&p, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) p = 0;
  provider = p;
  ready.store(true, std::memory_order_release);
}

}  // namespace

bool randomBytes(void* buffer, std::size_t length, bool) {
  if (!ready.load(std::memory_order_acquire)) setUp();
  BYTE* out = static_cast<BYTE*>(buffer);
  if (provider) {
    std::size_t done = 0;
    while (done < length) {
      DWORD part = static_cast<DWORD>(length - done > 0x10000000 ? 0x10000000 : length - done);
      if (!CryptGenRandom(provider, part, out + done)) break;
      done += part;
    }
    return done == length;
  }
  // A time-seeded rand() would hand out guessable bytes as if they were
  // random: without the kernel's source there are none.
  return length == 0;
}

namespace detail {
void resetRandomSource(bool allowProvider) {
  RecursiveLockGuard guard(setupLock);
  if (provider) CryptReleaseContext(provider, 0);
  provider = 0;
  providerAllowed = allowProvider;
  ready.store(false, std::memory_order_release);
}
}  // namespace detail

}  // namespace Common
