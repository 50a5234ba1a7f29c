// Test servers on 127.0.0.1: a scripted HTTP server that captures every raw
// request, and a port that refuses connections. Header-only, for tests; it uses
// the system's sockets, so files that include it must not include winsock.h.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace NetTest {

// What the server does with one request.
struct Reply {
  std::string bytes;       // written as they stand
  bool stall = false;      // then keep the connection open, silent, until stop
  bool keepOpen = false;   // then read the next request on the same connection
  bool dropFirst = false;  // close without writing anything
  int trickleMs = 0;       // write one byte at a time, this long apart,
  std::size_t trickleFrom = 0;  // from this byte on (those before go at once)
};

class HttpServer {
 public:
  // `script` gets the raw request and its number (0 first, counted over all
  // connections) and says what to answer.
  using Script = std::function<Reply(const std::string& request, int index)>;

  explicit HttpServer(Script script) : script_(std::move(script)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 64) != 0)
      throw std::runtime_error("test server cannot listen");
    socklen_t n = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
    if (::pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    acceptor_ = std::thread([this] { acceptLoop(); });
  }
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  ~HttpServer() { stop(); }

  std::uint16_t port() const { return port_; }

  void stop() {
    if (stopped_.exchange(true)) return;
    char c = 0;
    (void)!::write(stopPipe_[1], &c, 1);
    acceptor_.join();
    std::vector<std::thread> workers;
    {
      std::lock_guard<std::mutex> g(lock_);
      workers.swap(workers_);
    }
    for (auto& t : workers) t.join();
    ::close(listener_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
  }

  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> g(lock_);
    return requests_;
  }
  std::string request(std::size_t i) const {
    std::lock_guard<std::mutex> g(lock_);
    return i < requests_.size() ? requests_[i] : std::string();
  }
  int connections() const { return connections_.load(); }

 private:
  // Waits for `fd` to read; false once the server stops.
  bool waitReadable(int fd) {
    pollfd p[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    while (::poll(p, 2, -1) < 0) {
    }
    return !(p[1].revents & POLLIN);
  }

  void acceptLoop() {
    for (;;) {
      if (!waitReadable(listener_)) return;
      int c = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      ++connections_;
      std::lock_guard<std::mutex> g(lock_);
      workers_.emplace_back([this, c] { serve(c); });
    }
  }

  // One request: the head up to the empty line, then a body of the length
  // that "Content-length" gives (any letter case).
  bool readRequest(int c, std::string& pending, std::string& out) {
    for (;;) {
      std::size_t end = pending.find("\r\n\r\n");
      if (end != std::string::npos) {
        std::size_t headEnd = end + 4;
        std::size_t body = 0;
        std::string lower = pending.substr(0, headEnd);
        for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        std::size_t at = lower.find("\r\ncontent-length:");
        if (at != std::string::npos) body = std::strtoul(lower.c_str() + at + 17, nullptr, 10);
        if (pending.size() >= headEnd + body) {
          out = pending.substr(0, headEnd + body);
          pending.erase(0, headEnd + body);
          return true;
        }
      }
      if (!waitReadable(c)) return false;
      char buf[4096];
      ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) return false;
      pending.append(buf, static_cast<std::size_t>(n));
    }
  }

  void serve(int c) {
    std::string pending, request;
    while (readRequest(c, pending, request)) {
      int index;
      {
        std::lock_guard<std::mutex> g(lock_);
        index = static_cast<int>(requests_.size());
        requests_.push_back(request);
      }
      Reply r = script_(request, index);
      if (r.dropFirst) break;
      std::size_t sent = 0;
      while (sent < r.bytes.size()) {
        const bool trickle = r.trickleMs && sent >= r.trickleFrom;
        if (trickle && sent) {
          pollfd p{stopPipe_[0], POLLIN, 0};
          if (::poll(&p, 1, r.trickleMs) != 0) break;
        }
        const std::size_t piece = trickle ? 1 : r.trickleMs ? r.trickleFrom - sent : r.bytes.size() - sent;
        ssize_t n = ::send(c, r.bytes.data() + sent, piece, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      if (r.stall) {
        pollfd p{stopPipe_[0], POLLIN, 0};
        while (::poll(&p, 1, -1) < 0) {
        }
        break;
      }
      if (!r.keepOpen) break;
    }
    ::close(c);
  }

  Script script_;
  int listener_ = -1;
  int stopPipe_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  std::atomic<bool> stopped_{false};
  std::atomic<int> connections_{0};
  std::thread acceptor_;
  mutable std::mutex lock_;
  std::vector<std::thread> workers_;
  std::vector<std::string> requests_;
};

// A port on 127.0.0.1 that refuses connections: bound, never listening.
class RefusingPort {
 public:
  RefusingPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
  }
  ~RefusingPort() { ::close(fd_); }
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// A port on 127.0.0.1 that listens with the smallest backlog and never
// accepts: once its queue is full, further connects hang.
class FullListener {
 public:
  FullListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 0);
    socklen_t n = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
  }
  ~FullListener() { ::close(fd_); }
  FullListener(const FullListener&) = delete;
  FullListener& operator=(const FullListener&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// A 127.0.0.1 address in the Windows socket-address layout (AF_INET has the
// same value and layout on both sides).
inline void loopbackAddress(unsigned char (&area)[28], int& length, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::memset(area, 0, sizeof area);
  std::memcpy(area, &a, sizeof a);
  length = sizeof a;
}

// The response head of a status with extra header lines (each ending CRLF).
inline std::string responseHead(const std::string& statusLine, const std::string& headers = "") {
  return statusLine + "\r\n" + headers + "\r\n";
}

}  // namespace NetTest
