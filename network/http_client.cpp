#include "network/http_client.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <mutex>

#include "core/catalogue.h"
#include "core/error.h"
#include "core/text_convert.h"
#include "core/trace.h"
#include "files/fs_error.h"
#include "files/memory_file.h"
#include "platform/win32/windows.h"
#include "system/number_text.h"
#include "xml/xml_node.h"

namespace LiveUpdate {
namespace {

std::atomic<Network::CheckCertificateCallback*> certificateCallback{nullptr};
std::atomic<TlsConnector> tlsConnector{nullptr};

[[noreturn]] void throwHttpError(std::uint64_t site) {
  throw Common::Error(site, kHttpError, Common::catalogueText(2350, u"HTTP error."));
}
[[noreturn]] void throwConnectionError(std::uint64_t site) {
  throw Common::Error(site, kHttpConnectionError, Common::catalogueText(1283, u"Connection via HTTP error."));
}
[[noreturn]] void throwInternalError(std::uint64_t site) {
  throw Common::Error(site, kInternalError, Common::catalogueText(1294, u"Internal error."));
}
[[noreturn]] void throwFailedCheck(std::uint64_t site, const char* expression) {
  throw Common::Error(site, kFailedCheck, expression);
}
[[noreturn]] void throwTransferError(std::uint64_t site, const std::string& text,
                                     const Common::Error& cause = Common::Error()) {
  Common::Error e(site, kHttpTransferError, text.c_str());
  if (cause) e.setCause(cause);
  throw e;
}

}  // namespace

struct HttpInterrupt::State {
  std::mutex lock;
  Network::StreamSocket* current = nullptr;  // the query's TCP connection
  bool interrupted = false;
};

namespace {

// The connection of every query: another thread may end a blocked transfer.
// Both directions are shut down, which wakes the blocked call at once; the
// handle itself stays until the owner destroys the socket, so it can never be
// reused under the owner's feet. While the answer head is read, every wait is
// bounded by what is left of the head's time.
class MyInterruptibleTCPSocket final : public Network::TCPSocket {
 public:
  MyInterruptibleTCPSocket(const std::string& host, std::uint16_t port, std::shared_ptr<HttpInterrupt::State> token,
                           std::shared_ptr<std::atomic<bool>> cut)
      : TCPSocket(host, port), token_(std::move(token)), cut_(std::move(cut)),
        receiveMs_(Network::socketTimeouts().receiveMs) {
    if (!token_) return;
    std::lock_guard<std::mutex> guard(token_->lock);
    token_->current = this;
    if (token_->interrupted) interrupt();
  }
  ~MyInterruptibleTCPSocket() override {
    if (!token_) return;
    std::lock_guard<std::mutex> guard(token_->lock);
    if (token_->current == this) token_->current = nullptr;
  }

  bool interrupt() override {
    cut_->store(true);
    if (handle_ != INVALID_SOCKET) ::shutdown(handle_, SD_BOTH);
    return true;
  }

  void startHead(std::uint32_t ms) {
    if (!ms) return;
    headEnd_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    head_ = true;
    waitMs_ = receiveMs_ ? receiveMs_ : UINT32_MAX;
  }
  void endHead() {
    if (!head_) return;
    head_ = false;
    if (waitMs_ != (receiveMs_ ? receiveMs_ : UINT32_MAX)) setWait(receiveMs_);
  }

  std::size_t receive(void* data1, std::size_t size1, void* data2, std::size_t size2, bool partial) override {
    if (!head_) return TCPSocket::receive(data1, size1, data2, size2, partial);
    auto* p1 = static_cast<char*>(data1);
    auto* p2 = static_cast<char*>(data2);
    std::size_t total = 0;
    while (size1 || size2) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(headEnd_ - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      const auto ms = static_cast<std::uint64_t>(left.count());
      // Lowered in steps, so that a steady head costs no call per byte.
      if (waitMs_ > ms + ms / 8 + 1) setWait(static_cast<std::uint32_t>(ms));
      std::size_t n = TCPSocket::receive(size1 ? p1 : p2, size1 ? size1 : size2, size1 ? p2 : nullptr,
                                         size1 ? size2 : 0, true);
      if (!n) break;
      total += n;
      if (partial) break;
      std::size_t first = std::min(n, size1);
      p1 += first;
      size1 -= first;
      p2 += n - first;
      size2 -= n - first;
    }
    return total;
  }

 private:
  void setWait(std::uint32_t ms) {
    waitMs_ = ms ? ms : UINT32_MAX;
    DWORD value = ms;
    setsockopt(handle_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value), sizeof value);
  }

  std::shared_ptr<HttpInterrupt::State> token_;
  std::shared_ptr<std::atomic<bool>> cut_;
  std::uint32_t receiveMs_;
  bool head_ = false;
  std::chrono::steady_clock::time_point headEnd_;
  std::uint64_t waitMs_ = UINT32_MAX;
};

// The body of an answer: never more than the answer announced, and an end
// before that is a transfer error, not the end of the data.
class HttpBody final : public Network::StreamSocket {
 public:
  HttpBody(std::unique_ptr<Network::StreamSocket> inner, bool framed, std::uint64_t length,
           std::shared_ptr<std::atomic<bool>> cut)
      : inner_(std::move(inner)), framed_(framed), left_(length), length_(length), cut_(std::move(cut)) {
    if (!cut_) cut_ = std::make_shared<std::atomic<bool>>(false);
  }

  bool setNoDelay(bool on) override { return inner_->setNoDelay(on); }
  void startTransferThreads() override { inner_->startTransferThreads(); }
  bool send(const void* data1, std::size_t size1, const void* data2, std::size_t size2, const void* data3,
            std::size_t size3) override {
    return inner_->send(data1, size1, data2, size2, data3, size3);
  }
  std::size_t receive(void* data1, std::size_t size1, void* data2, std::size_t size2, bool partial) override {
    if (framed_) {
      size1 = static_cast<std::size_t>(std::min<std::uint64_t>(size1, left_));
      size2 = static_cast<std::size_t>(std::min<std::uint64_t>(size2, left_ - size1));
      if (!size2) data2 = nullptr;
    }
    if (!size1 && !size2) return 0;
    if (!size1) {
      data1 = data2;
      size1 = size2;
      data2 = nullptr;
      size2 = 0;
    }
    std::size_t n;
    try {
      n = inner_->receive(data1, size1, data2, size2, partial);
    } catch (const Common::Error& e) {
      if (cut_->load()) return 0;
      throwTransferError(KV_SITE, "The connection failed after " + std::to_string(length_ - left_) +
                                      " bytes of the body.", e);
    }
    if (framed_) {
      left_ -= n;
      const bool ended = n == 0 || (!partial && n < size1 + size2);
      if (ended && left_ && !cut_->load())
        throwTransferError(KV_SITE, "The connection ended after " + std::to_string(length_ - left_) + " of " +
                                        std::to_string(length_) + " bytes of the body.");
    }
    return n;
  }
  bool interrupt() override {
    cut_->store(true);
    return inner_->interrupt();
  }
  void close() override { inner_->close(); }
  void detach(std::vector<unsigned char>& blob, SOCKET& handle) override { inner_->detach(blob, handle); }
  Network::Socket& socket() override { return inner_->socket(); }

 private:
  std::unique_ptr<Network::StreamSocket> inner_;
  bool framed_;
  std::uint64_t left_, length_;
  std::shared_ptr<std::atomic<bool>> cut_;
};


std::string narrow(const Processor::String& s) { return s.toNarrow(); }

// The update client's trace: level 0, facility 86, number 4.
void trace(const char* pattern, std::initializer_list<std::pair<std::string, Processor::Variant>> values = {}) {
  const std::vector<std::pair<std::string, Processor::Variant>> v(values);
  Processor::traceValues(0, 86, 4, Processor::String(pattern), v.data(), static_cast<std::int32_t>(v.size()));
}

std::u16string widen(const std::string& s) {
  std::u16string w(s.size(), u'\0');
  for (std::size_t i = 0; i < s.size(); ++i) w[i] = static_cast<unsigned char>(s[i]);
  return w;
}

std::uint16_t defaultPort(const Processor::String& scheme) {
  if (scheme == "http") return 80;
  if (scheme == "https") return 443;
  return 0;
}

std::string hostField(const UriResource& uri) {
  std::string host = narrow(uri.host());
  if (uri.port() != defaultPort(uri.scheme())) host += ":" + std::to_string(uri.port());
  return host;
}

// "user:password" as it stands; a separate second text is joined with ":".
std::string basicCredentials(const Processor::String& first, const Processor::String& second) {
  std::string plain = narrow(first);
  if (!second.isEmpty() || plain.find(':') == std::string::npos) plain += ":" + narrow(second);
  std::string encoded((plain.size() + 2) / 3 * 4, '\0');
  const auto* bytes = reinterpret_cast<const unsigned char*>(plain.data());
  char* end = Processor::base64Encode<char>(encoded.data(), bytes, bytes + plain.size());
  encoded.resize(static_cast<std::size_t>(end - encoded.data()));
  return encoded;
}

bool startsWithNoCase(const std::string& line, const char* name) {
  std::size_t n = std::strlen(name);
  if (line.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(line[i])) != std::tolower(static_cast<unsigned char>(name[i])))
      return false;
  return true;
}

// What the header lines of a body answer say about the body.
struct BodyHeaders {
  bool hasLength = false;
  std::uint64_t length = 0;
  bool hasRange = false;
  std::string range;  // the Content-Range value
};

bool parseDecimal(const std::string& text, std::size_t& at, std::uint64_t& value) {
  std::size_t start = at;
  value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    if (value > (UINT64_MAX - 9) / 10) return false;
    value = value * 10 + static_cast<unsigned>(text[at++] - '0');
  }
  return at > start;
}

std::size_t skipBlanks(const std::string& text, std::size_t at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  return at;
}

// The header lines after the status line, up to the empty line. A length
// that is no number, or two that differ, leave the body's end unknown: an
// HTTP error.
void readHeaders(Network::StreamSocket& socket, BodyHeaders* body) {
  std::string line;
  for (int count = 0;; ++count) {
    if (count > kHttpHeaderLineLimit) throwHttpError(KV_SITE);
    readHttpLine(socket, line);
    if (line.empty()) return;
    if (!body) continue;
    if (startsWithNoCase(line, "content-length:")) {
      std::size_t at = skipBlanks(line, 15);
      std::uint64_t value;
      if (!parseDecimal(line, at, value) || skipBlanks(line, at) != line.size()) throwHttpError(KV_SITE);
      if (body->hasLength && body->length != value) throwHttpError(KV_SITE);
      body->hasLength = true;
      body->length = value;
    } else if (startsWithNoCase(line, "content-range:")) {
      if (body->hasRange) throwHttpError(KV_SITE);
      body->hasRange = true;
      body->range = line.substr(14);
    }
  }
}

// "bytes B-E/T" (T may be "*"): true with the length of the part when it is
// the range asked for, begin to end, or its start up to the end of a file
// that ends before `end`.
bool rangeMatches(const std::string& value, std::uint64_t begin, std::uint64_t end, std::uint64_t& length) {
  std::size_t at = skipBlanks(value, 0);
  if (value.compare(at, 6, "bytes ") != 0) return false;
  at = skipBlanks(value, at + 6);
  std::uint64_t first, last, total = 0;
  if (!parseDecimal(value, at, first) || at >= value.size() || value[at++] != '-') return false;
  if (!parseDecimal(value, at, last) || at >= value.size() || value[at++] != '/') return false;
  bool knownTotal = false;
  if (at < value.size() && value[at] == '*') {
    ++at;
  } else {
    if (!parseDecimal(value, at, total)) return false;
    knownTotal = true;
  }
  if (skipBlanks(value, at) != value.size()) return false;
  if (first != begin || last < first) return false;
  if (knownTotal && last >= total) return false;
  if (last != end && !(knownTotal && last == total - 1 && last < end)) return false;
  length = last - first + 1;
  return true;
}

std::string statusText(const UriResource& uri, std::uint16_t code, const std::string& reason) {
  return narrow(uri.scheme()) + "-server return: url=\"" + narrow(uri.text()) + "\", code=\"" +
         std::to_string(code) + "\", reason=\"" + reason + "\"";
}

[[noreturn]] void throwStatusError(std::uint64_t site, const UriResource& uri, std::uint16_t code,
                                   const std::string& reason) {
  throw Common::Error(site, kHttpStatusError, statusText(uri, code, reason).c_str());
}

// CONNECT through the proxy; on return the connection is a tunnel to the target.
void openTunnel(Network::StreamSocket& socket, const UriResource& target, bool authentication,
                const Processor::String& credentials) {
  const std::string authority = narrow(target.host()) + ":" + std::to_string(target.port());
  std::string head = "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority + "\r\n";
  if (authentication) head += "Proxy-Authorization: Basic " + basicCredentials(credentials, {}) + "\r\n";
  head += "\r\n";
  if (!socket.send(head.data(), head.size(), nullptr, 0, nullptr, 0)) throwConnectionError(KV_SITE);
  std::uint16_t code;
  std::string reason;
  readStatusLine(socket, code, reason);
  if (code / 100 != 2) throwStatusError(KV_SITE, target, code, reason);
  readHeaders(socket, nullptr);
}

}  // namespace

void setCheckCertificateCallback(Network::CheckCertificateCallback* callback) { certificateCallback = callback; }
Network::CheckCertificateCallback* checkCertificateCallback() { return certificateCallback.load(); }
void setTlsConnector(TlsConnector connector) { tlsConnector = connector; }

bool isRetryableHttpError(std::uint32_t code) {
  return code == kHttpError || code == kHttpConnectionError || code == kHttpTransferError;
}

int httpAttemptLimit() { return 5; }

void buildHttpRequest(std::string& out, int method, std::uint64_t begin, std::uint64_t end, const UriResource& uri,
                      std::uint32_t contentLength, bool useProxy, const Processor::String& /*proxyHost*/,
                      std::uint16_t /*proxyPort*/, bool proxyAuthentication, const Processor::String& credential1,
                      const Processor::String& credential2) {
  out.clear();
  if (method == HttpPost)
    out += "POST ";
  else if (method == HttpGet)
    out += "GET ";
  else
    throwInternalError(KV_SITE);
  out += narrow(useProxy ? uri.text() : uri.path());
  out += " HTTP/1.0\r\n";
  if (contentLength > 0) out += "Content-Type: text/xml\r\nContent-length: " + std::to_string(contentLength) + "\r\n";
  if (begin > 0 && begin <= end) out += "Range: bytes=" + std::to_string(begin) + "-" + std::to_string(end) + "\r\n";
  out += "Host: " + hostField(uri) + "\r\n";
  // Proxy credentials are for the proxy alone: never sent to the target.
  if (proxyAuthentication && useProxy)
    out += "Proxy-Authorization: Basic " + basicCredentials(credential1, credential2) + "\r\n";
  out += "\r\n";
}

void readHttpLine(Network::StreamSocket& socket, std::string& line) {
  line.clear();
  for (;;) {
    char c;
    if (socket.receive(&c, 1, nullptr, 0, false) != 1) throwHttpError(KV_SITE);
    if (c == '\n') throwHttpError(KV_SITE);
    if (c == '\r') {
      if (socket.receive(&c, 1, nullptr, 0, false) != 1) throwHttpError(KV_SITE);
      if (c != '\n') throwHttpError(KV_SITE);
      return;
    }
    if (line.size() >= kHttpLineLimit) throwHttpError(KV_SITE);
    line += c;
  }
}

void readStatusLine(Network::StreamSocket& socket, std::uint16_t& code, std::string& reason) {
  std::string status;
  readHttpLine(socket, status);
  const std::size_t codeStart = status.find(' ');
  if (codeStart == std::string::npos) throwHttpError(KV_SITE);
  const std::size_t codeEnd = status.find(' ', codeStart + 1);
  if (codeEnd == std::string::npos) throwHttpError(KV_SITE);
  std::uint64_t value;
  const std::string number = status.substr(codeStart + 1, codeEnd - codeStart - 1);
  if (!Common::parseNumber(&value, number.c_str(), 10)) throwHttpError(KV_SITE);
  // Only three digits name a status; the low bits of a larger number would
  // pass for one.
  if (value < 100 || value > 599) throwHttpError(KV_SITE);
  code = static_cast<std::uint16_t>(value);
  if (!(status.length() > codeEnd + 1)) throwFailedCheck(KV_SITE, "status.length() > codeEnd + 1");
  reason = status.substr(codeEnd + 1);
}

bool readLocationHeader(Network::StreamSocket& socket, std::string& value) {
  std::string line;
  for (int count = 0;; ++count) {
    if (count > kHttpHeaderLineLimit) throwHttpError(KV_SITE);
    readHttpLine(socket, line);
    if (line.empty()) return false;
    if (line.compare(0, 10, "Location: ") == 0) {
      value = line.substr(10);
      return true;
    }
  }
}

HttpInterrupt::HttpInterrupt() : state(std::make_shared<State>()) {}

void HttpInterrupt::interrupt() {
  std::lock_guard<std::mutex> guard(state->lock);
  state->interrupted = true;
  if (state->current) state->current->interrupt();
}

bool HttpInterrupt::interrupted() const {
  std::lock_guard<std::mutex> guard(state->lock);
  return state->interrupted;
}

void HttpInterrupt::reset() {
  std::lock_guard<std::mutex> guard(state->lock);
  state->interrupted = false;
}

HttpAnswer readHttpAnswer(std::unique_ptr<Network::StreamSocket> connection, std::uint64_t begin, std::uint64_t end,
                          const UriResource& uri, std::shared_ptr<std::atomic<bool>> cut) {
  const bool rangeAsked = begin > 0 && begin <= end;
  HttpAnswer answer;
  readStatusLine(*connection, answer.code, answer.reason);
  trace("Server return", {{"status", Processor::Variant(static_cast<std::uint32_t>(answer.code))}});
  BodyHeaders headers;
  switch (answer.code) {
    case 200:
      readHeaders(*connection, &headers);
      // The whole file where a part was asked: its bytes would land at the
      // wrong place.
      if (rangeAsked)
        throwTransferError(KV_SITE, "The server sent the whole file instead of bytes " + std::to_string(begin) +
                                        "-" + std::to_string(end) + ".");
      break;
    case 206: {
      if (!rangeAsked) throwHttpError(KV_SITE);
      readHeaders(*connection, &headers);
      std::uint64_t length = 0;
      if (!headers.hasRange || !rangeMatches(headers.range, begin, end, length) ||
          (headers.hasLength && headers.length != length))
        throwTransferError(KV_SITE, "The server sent another part than bytes " + std::to_string(begin) + "-" +
                                        std::to_string(end) + ": \"" + headers.range + "\".");
      headers.hasLength = true;
      headers.length = length;
      break;
    }
    case 301:
    case 302:
    case 303:
    case 307:
      if (!readLocationHeader(*connection, answer.location)) throwHttpError(KV_SITE);
      return answer;
    default:
      throwStatusError(KV_SITE, uri, answer.code, answer.reason);
  }
  answer.body = std::make_unique<HttpBody>(std::move(connection), headers.hasLength, headers.length, std::move(cut));
  return answer;
}

std::unique_ptr<Network::StreamSocket> httpQuery(ProtocolConfigurationAccessor& accessor, const UriResource& uri,
                                                 const void* body, std::uint32_t length, int method,
                                                 std::uint64_t begin, std::uint64_t end, HttpInterrupt* interrupt) {
  trace("Query server", {{"server", Processor::Variant(uri.text())},
                         {"begin", Processor::Variant(static_cast<unsigned long long>(begin))},
                         {"end", Processor::Variant(static_cast<unsigned long long>(end))}});
  Processor::RefPtr<const UriResource> current(&uri);
  std::string head;
  for (int redirects = 0;;) {
    Processor::RefPtr<ProtocolConfiguration> config = accessor.configuration(*current);
    if (!config) throwFailedCheck(KV_SITE, "config");
    const bool useProxy = config->useProxy();
    const Processor::String proxyHost = config->proxyHost();
    const std::uint16_t proxyPort = config->proxyPort();
    const bool authentication = config->proxyAuthentication();
    const Processor::String credentials = config->proxyCredentials();
    config = nullptr;

    const bool tls = current->scheme() == "https";
    // Through a proxy, TLS runs inside a CONNECT tunnel, so the request
    // itself is the one the target expects and carries no proxy credentials.
    const bool tunnel = tls && useProxy;
    buildHttpRequest(head, method, begin, end, *current, length, useProxy && !tunnel, proxyHost, proxyPort,
                     authentication && !tunnel, credentials, Processor::String());

    const std::string host = useProxy ? narrow(proxyHost) : narrow(current->host());
    const std::uint16_t port = useProxy ? proxyPort : current->port();
    trace("Connect to server", {{"host", Processor::Variant(host.c_str())},
                                {"port", Processor::Variant(static_cast<std::uint32_t>(port))}});
    auto cut = std::make_shared<std::atomic<bool>>(false);
    auto tcp = std::make_unique<MyInterruptibleTCPSocket>(host, port, interrupt ? interrupt->state : nullptr, cut);
    if (cut->load()) throw make_fs_error(KV_SITE, fs_error::cancelled);
    if (tcp->handle() == INVALID_SOCKET) throwConnectionError(KV_SITE);
    MyInterruptibleTCPSocket* transport = tcp.get();  // lives as long as the connection
    transport->startHead(Network::socketTimeouts().answerHeadMs);
    HttpAnswer answer;
    try {
      std::unique_ptr<Network::StreamSocket> connection;
      if (tls) {
        trace("Use SSL");
        if (tunnel) openTunnel(*tcp, *current, authentication, credentials);
        TlsConnector connect = tlsConnector.load();
        if (!connect) throwInternalError(KV_SITE);
        connection = connect(std::move(tcp), *current);
      } else {
        connection = std::move(tcp);
      }
      trace("Send request", {{"header", Processor::Variant(head.c_str())}});
      if (!connection->send(head.data(), head.size(), nullptr, 0, nullptr, 0)) throwConnectionError(KV_SITE);
      if (!connection->send(body, length, nullptr, 0, nullptr, 0)) throwConnectionError(KV_SITE);
      answer = readHttpAnswer(std::move(connection), begin, end, *current, cut);
    } catch (const Common::Error&) {
      // Whatever failed after an interrupt failed because of it.
      if (cut->load()) throw make_fs_error(KV_SITE, fs_error::cancelled);
      throw;
    }
    if (answer.body) {
      transport->endHead();
      return std::move(answer.body);
    }

    // A redirect. Repeating a loop or an address the client cannot speak to
    // gives the same answer every time: final, not retryable.
    if (++redirects > kHttpRedirectLimit) {
      Common::Error e = Common::Error(KV_SITE, kHttpStatusError, statusText(*current, answer.code, answer.reason).c_str());
      e.setCause(Common::Error(KV_SITE, kFailedCheck, "redirects <= kHttpRedirectLimit"));
      throw e;
    }
    Processor::RefPtr<UriResource> next = createUriResource(widen(answer.location));
    const bool http = next->scheme() == "http", https = next->scheme() == "https";
    // Leaving TLS for plain text would hand the exchange to anyone between.
    if (!(https || (http && !tls))) {
      Common::Error e = Common::Error(KV_SITE, kHttpStatusError, statusText(*current, answer.code, answer.reason).c_str());
      e.setCause(Common::Error(KV_SITE, kFailedCheck, tls ? "scheme == \"https\"" : "scheme is http or https"));
      throw e;
    }
    current = next;
    trace("New location", {{"url", Processor::Variant(answer.location.c_str())}});
    if (answer.code == 303) {
      // "See other": fetched with GET, without the body.
      method = HttpGet;
      body = nullptr;
      length = 0;
    }
  }
}

std::unique_ptr<Network::StreamSocket> httpPost(ProtocolConfigurationAccessor& accessor, const UriResource& uri,
                                                const void* body, std::uint32_t length, HttpInterrupt* interrupt) {
  return httpQuery(accessor, uri, body, length, HttpPost, 0, 0, interrupt);
}

std::unique_ptr<Network::StreamSocket> httpGetRange(ProtocolConfigurationAccessor& accessor, const UriResource& uri,
                                                    std::uint64_t begin, std::uint64_t end, HttpInterrupt* interrupt) {
  return httpQuery(accessor, uri, nullptr, 0, HttpGet, begin, end, interrupt);
}

void documentToRequestBody(const xml_document& document, std::vector<unsigned char>& body) {
  std::unique_ptr<Common::MemoryFile> file(Common::CreateMemoryFile());
  if (!file) throwFailedCheck(KV_SITE, "CreateMemoryFile()");
  document.write(*file, 0);
  if (!file->Good()) throwFailedCheck(KV_SITE, "memFile->Good()");
  file->rewind();
  body.resize(static_cast<std::size_t>(file->size()));
  if (!body.empty()) {
    std::uint32_t count = 0;
    file->read(body.data(), static_cast<std::uint32_t>(body.size()), count);
    if (!file->Good()) throwFailedCheck(KV_SITE, "memFile->Good()");
  }
  while (!body.empty() && (body.back() == '\r' || body.back() == '\n')) body.pop_back();
}

void readResponseDocument(Network::StreamSocket& socket, xml_document& document) {
  std::vector<unsigned char> data;
  std::size_t received = 0;
  for (;;) {
    if (data.size() - received < 1024) data.resize(received + std::max<std::size_t>(1024, received / 2));
    std::size_t n = socket.receive(data.data() + received, data.size() - received, nullptr, 0, true);
    if (!n) break;
    received += n;
    if (received > kHttpDocumentLimit) throwHttpError(KV_SITE);
  }
  data.resize(received);

  std::unique_ptr<Common::MemoryFile> file(Common::CreateMemoryFile());
  if (!file) throwFailedCheck(KV_SITE, "CreateMemoryFile()");
  if (!data.empty()) {
    std::uint32_t written = 0;
    file->write(data.data(), static_cast<std::uint32_t>(data.size()), written);
  }
  if (!file->Good()) throwFailedCheck(KV_SITE, "memFile->Good()");
  if (data.empty()) return;

  // Bytes after the last ">" never reach the parser; a damaged end is cut
  // back one ">" at a time, a few times only: every load reads it all.
  std::size_t n = data.size();
  for (int loads = 0; loads < kHttpDocumentLoads; ++loads) {
    auto last = std::find(std::make_reverse_iterator(data.begin() + static_cast<std::ptrdiff_t>(n)), data.rend(),
                          static_cast<unsigned char>('>'));
    if (last == data.rend()) break;
    n = static_cast<std::size_t>(data.rend() - last);
    file->set_size(n);
    file->rewind();
    if (document.load(*file)) return;
    --n;
  }
  throw Common::Error(KV_SITE, kProtocolError, Common::catalogueText(1299, u"Internal protocol error."));
}

}  // namespace LiveUpdate
