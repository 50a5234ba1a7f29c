// The byte stream under every network exchange, and its plain TCP form.
// Nothing here throws: failures show in the results, and callers raise errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/windows.h"

namespace Network {

// Holds one socket handle; INVALID_SOCKET when there is none.
class Socket {
 public:
  Socket() = default;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  virtual ~Socket();
  // closesocket's result, or INVALID_SOCKET's value when there was no handle.
  virtual int closeSocket();
  virtual void unusedHook() = 0;
  virtual int unusedValue() = 0;

  SOCKET handle() const { return handle_; }

 protected:
  SOCKET handle_ = INVALID_SOCKET;
};

class StreamSocket {
 public:
  virtual ~StreamSocket();
  virtual bool setNoDelay(bool on) = 0;
  virtual void startTransferThreads();
  // True when every byte of the three pieces went out; a 0 length marks an
  // unused piece.
  virtual bool send(const void* data1, std::size_t size1, const void* data2, std::size_t size2,
                    const void* data3, std::size_t size3) = 0;
  // Bytes received into the two pieces. With `partial` it returns after the
  // first chunk; otherwise it fills both unless the peer closes or fails first.
  virtual std::size_t receive(void* data1, std::size_t size1, void* data2, std::size_t size2, bool partial) = 0;
  // Another thread's way to end a blocked transfer; false when unsupported.
  virtual bool interrupt() = 0;
  // Ends the sending direction; the peer's remaining data can still be read.
  virtual void close() = 0;
  // Hands the handle out (the object no longer closes it) with the stream's
  // state as a blob.
  virtual void detach(std::vector<unsigned char>& blob, SOCKET& handle) = 0;
  virtual Socket& socket() = 0;
};

// Waits of every TCP connection made after the call, in milliseconds (0 waits
// without limit). The defaults are long: they only end a stalled peer.
struct SocketTimeouts {
  std::uint32_t connectMs = 60'000;
  std::uint32_t sendMs = 120'000;
  std::uint32_t receiveMs = 300'000;
  // The whole head of an HTTP answer, TLS handshake included: a server that
  // trickles it byte by byte is cut off here.
  std::uint32_t answerHeadMs = 120'000;
};
void setSocketTimeouts(const SocketTimeouts& timeouts);
SocketTimeouts socketTimeouts();

class TCPSocket : public Socket, public StreamSocket {
 public:
  // Resolves and connects to the first address that accepts; the handle stays
  // INVALID_SOCKET when none does.
  TCPSocket(const std::string& host, std::uint16_t port);
  ~TCPSocket() override;

  int closeSocket() override;
  void unusedHook() override;
  int unusedValue() override;

  bool setNoDelay(bool on) override;
  bool send(const void* data1, std::size_t size1, const void* data2, std::size_t size2, const void* data3,
            std::size_t size3) override;
  std::size_t receive(void* data1, std::size_t size1, void* data2, std::size_t size2, bool partial) override;
  bool interrupt() override;
  void close() override;
  void detach(std::vector<unsigned char>& blob, SOCKET& handle) override;
  Socket& socket() override;
};

// One resolved address in the Windows socket-address layout.
struct SocketAddress {
  unsigned char address[28] = {};
  int length = 0;
};

// Windows Sockets 2.0 start-up, once per process.
bool ensureWinSock();
// Empties `list`, then appends the addresses of `host` in the resolver's order.
bool resolveHost(std::vector<SocketAddress>& list, const std::string& host, int family, int type, int protocol,
                 std::uint16_t port);
// A socket that child processes never inherit, or INVALID_SOCKET.
SOCKET createSocketHandle(int family, int type, int protocol);

// Test seam: while set, resolveHost answers with this function's list.
using HostResolver = bool (*)(std::vector<SocketAddress>& list, const std::string& host, std::uint16_t port);
void setHostResolver(HostResolver resolver);

}  // namespace Network
