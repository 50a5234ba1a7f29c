// Test-only: the far end of the socket layer's tests (winsock_peer_test.cpp).
#pragma once

#include <cstdint>

namespace winsock_peer {

// A socket bound to 127.0.0.1 on a free port; listening or (to refuse
// connections) not.
int listenOn(std::uint16_t& port, bool listening);
int acceptOne(int fd);
long sendBytes(int fd, const char* data, unsigned long size);
long receiveBytes(int fd, char* data, unsigned long size);
void closeFd(int fd);

}  // namespace winsock_peer
