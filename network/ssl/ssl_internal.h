// Parts of the TLS client that the factory fixes but tests reach: the
// certificate policy, the roles, and the shared DH key.
#pragma once

#include <cstdint>
#include <memory>

#include "network/ssl/ssl.h"

namespace Network {

struct PolicyFlags {
  bool own;     // present an own certificate
  bool verify;  // verify the peer
};
// Throws 0x303F3 when the policy refuses the combination.
PolicyFlags applyPolicy(std::uint32_t policy, std::int16_t role, bool hasSource);

// The factory with a role (0 client, 1 server, other either) and protocol family.
std::unique_ptr<SSLClient> createSSLClientAs(const SSLSettings& settings, StreamSocket* transport, std::int16_t role,
                                             std::uint32_t family);

// Bits of the process-wide DH group, made on first use.
int sharedDhBits();

}  // namespace Network
