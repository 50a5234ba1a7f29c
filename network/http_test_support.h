// Helpers of the HTTP client's tests: configurable accessors, a stream over
// fixed bytes, error capture.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/error.h"
#include "network/http_client.h"

namespace NetTest {

struct ProxySettings {
  bool useProxy = false;
  std::string host;
  std::uint16_t port = 0;
  bool authentication = false;
  std::string credentials;
};

class TestConfiguration final : public LiveUpdate::ProtocolConfiguration {
 public:
  explicit TestConfiguration(ProxySettings s) : s_(std::move(s)) {}
  bool useProxy() const override { return s_.useProxy; }
  Processor::String proxyHost() const override { return Processor::String(s_.host.c_str()); }
  std::uint16_t proxyPort() const override { return s_.port; }
  bool proxyAuthentication() const override { return s_.authentication; }
  Processor::String proxyCredentials() const override { return Processor::String(s_.credentials.c_str()); }
  bool reservedFlag() const override { return false; }
  void reserved7() override {}
  void reserved8() override {}
  void reserved9() override {}
  void reserved10() override {}
  void reserved11() override {}
  void reserved12() override {}
  void reserved13() override {}

 private:
  ProxySettings s_;
};

// Hands out the same settings for every address and records what was asked.
class TestAccessor final : public LiveUpdate::ProtocolConfigurationAccessor {
 public:
  explicit TestAccessor(ProxySettings s = {}, bool none = false) : s_(std::move(s)), none_(none) {}
  Processor::RefPtr<LiveUpdate::ProtocolConfiguration> configuration(const LiveUpdate::UriResource& r) override {
    std::lock_guard<std::mutex> g(lock_);
    asked_.push_back(r.text().toNarrow());
    if (none_) return nullptr;
    return Processor::makeRef<TestConfiguration>(s_);
  }
  std::vector<std::string> asked() {
    std::lock_guard<std::mutex> g(lock_);
    return asked_;
  }

 private:
  ProxySettings s_;
  bool none_;
  std::mutex lock_;
  std::vector<std::string> asked_;
};

inline Processor::RefPtr<TestAccessor> accessor(ProxySettings s = {}) {
  return Processor::makeRef<TestAccessor>(std::move(s));
}

inline Processor::RefPtr<LiveUpdate::UriResource> uri(const std::string& text) {
  return LiveUpdate::createUriResource(std::u16string(text.begin(), text.end()));
}

inline std::string url(std::uint16_t port, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

// Fixed bytes handed out in chunks of at most `chunk`.
class BytesStream final : public Network::StreamSocket {
 public:
  explicit BytesStream(std::string bytes, std::size_t chunk = 7) : bytes_(std::move(bytes)), chunk_(chunk) {}
  bool setNoDelay(bool) override { return true; }
  bool send(const void*, std::size_t, const void*, std::size_t, const void*, std::size_t) override { return true; }
  std::size_t receive(void* d1, std::size_t n1, void* d2, std::size_t n2, bool partial) override {
    std::size_t total = 0;
    for (auto [d, n] : {std::pair<void*, std::size_t>{d1, n1}, {d2, n2}}) {
      while (n && at_ < bytes_.size()) {
        std::size_t k = std::min({n, chunk_, bytes_.size() - at_});
        std::memcpy(d, bytes_.data() + at_, k);
        at_ += k;
        total += k;
        d = static_cast<char*>(d) + k;
        n -= k;
        if (partial) return total;
      }
    }
    return total;
  }
  bool interrupt() override { return false; }
  void close() override {}
  void detach(std::vector<unsigned char>& blob, SOCKET& handle) override {
    blob.assign(1, 0);
    handle = INVALID_SOCKET;
  }
  Network::Socket& socket() override { std::abort(); }

 private:
  std::string bytes_;
  std::size_t chunk_;
  std::size_t at_ = 0;
};

template <class F>
Common::Error errorOf(F&& f) {
  try {
    f();
  } catch (const Common::Error& e) {
    return e;
  }
  return {};
}

inline std::string narrowText(const Common::Error& e) {
  std::u16string t = e.text();
  return std::string(t.begin(), t.end());
}

// Everything left on the connection.
inline std::string readRest(Network::StreamSocket& s, std::size_t piece = 64 * 1024) {
  std::string out, buf(piece, '\0');
  while (std::size_t n = s.receive(buf.data(), buf.size(), nullptr, 0, false)) {
    out.append(buf, 0, n);
    if (n < buf.size()) break;
  }
  return out;
}

}  // namespace NetTest
