#include "network/http_client.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>

#include "core/catalogue.h"
#include "core/error.h"
#include "core/text_convert.h"
#include "core/trace.h"
#include "files/memory_file.h"
#include "platform/win32/winsock.h"
#include "system/number_text.h"
#include "xml/xml_node.h"

namespace LiveUpdate {
namespace {

std::atomic<Network::CheckCertificateCallback*> certificateCallback{nullptr};
std::atomic<TlsConnector> tlsConnector{nullptr};

// The connection of every query: another thread may end a blocked transfer.
// Both directions are shut down, which wakes the blocked call at once; the
// handle itself stays until the owner destroys the socket, so it can never be
// reused under the owner's feet.
class MyInterruptibleTCPSocket final : public Network::TCPSocket {
 public:
  using TCPSocket::TCPSocket;
  bool interrupt() override {
    if (handle_ != INVALID_SOCKET) ::shutdown(handle_, SD_BOTH);
    return true;
  }
};

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

// The header lines after the status line, up to the empty line; hands the
// "Content-Range" value (when any) to the caller.
void readHeaders(Network::StreamSocket& socket, std::string* contentRange) {
  std::string line;
  for (int count = 0;; ++count) {
    if (count > kHttpHeaderLineLimit) throwHttpError(KV_SITE);
    readHttpLine(socket, line);
    if (line.empty()) return;
    if (contentRange && startsWithNoCase(line, "content-range:")) *contentRange = line.substr(14);
  }
}

bool parseDecimal(const std::string& text, std::size_t& at, std::uint64_t& value) {
  std::size_t start = at;
  value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    if (value > (UINT64_MAX - 9) / 10) return false;
    value = value * 10 + static_cast<unsigned>(text[at++] - '0');
  }
  return at > start;
}

// "bytes B-E/T" (T may be "*") that starts at `begin` and ends within `end`.
bool rangeMatches(const std::string& value, std::uint64_t begin, std::uint64_t end) {
  std::size_t at = value.find_first_not_of(' ');
  if (at == std::string::npos || value.compare(at, 6, "bytes ") != 0) return false;
  at += 6;
  std::uint64_t first, last;
  if (!parseDecimal(value, at, first) || at >= value.size() || value[at++] != '-') return false;
  if (!parseDecimal(value, at, last) || at >= value.size() || value[at] != '/') return false;
  return first == begin && last >= first && last <= end;
}

// A server that ignores the range sends the whole body: drop what lies before it.
void skipBytes(Network::StreamSocket& socket, std::uint64_t count) {
  std::vector<char> buffer(64 * 1024);
  while (count) {
    std::size_t want = count < buffer.size() ? static_cast<std::size_t>(count) : buffer.size();
    std::size_t got = socket.receive(buffer.data(), want, nullptr, 0, true);
    if (!got) throwHttpError(KV_SITE);
    count -= got;
  }
}

[[noreturn]] void throwStatusError(std::uint64_t site, const UriResource& uri, std::uint16_t code,
                                   const std::string& reason) {
  std::string text = narrow(uri.scheme()) + "-server return: url=\"" + narrow(uri.text()) + "\", code=\"" +
                     std::to_string(code) + "\", reason=\"" + reason + "\"";
  throw Common::Error(site, kHttpStatusError, text.c_str());
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

std::unique_ptr<Network::StreamSocket> httpQuery(ProtocolConfigurationAccessor& accessor, const UriResource& uri,
                                                 const void* body, std::uint32_t length, int method,
                                                 std::uint64_t begin, std::uint64_t end) {
  trace("Query server", {{"server", Processor::Variant(uri.text())},
                         {"begin", Processor::Variant(static_cast<unsigned long long>(begin))},
                         {"end", Processor::Variant(static_cast<unsigned long long>(end))}});
  Processor::RefPtr<const UriResource> current(&uri);
  const bool rangeAsked = begin > 0 && begin <= end;
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
    auto tcp = std::make_unique<MyInterruptibleTCPSocket>(host, port);
    if (tcp->handle() == INVALID_SOCKET) throwConnectionError(KV_SITE);
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

    std::uint16_t code;
    std::string reason;
    readStatusLine(*connection, code, reason);
    trace("Server return", {{"status", Processor::Variant(static_cast<std::uint32_t>(code))}});
    switch (code) {
      case 200:
        readHeaders(*connection, nullptr);
        if (rangeAsked) skipBytes(*connection, begin);
        return connection;
      case 206: {
        if (!rangeAsked) throwHttpError(KV_SITE);
        std::string range;
        readHeaders(*connection, &range);
        // Bytes of another range would land at the wrong place of the file.
        if (!rangeMatches(range, begin, end)) throwHttpError(KV_SITE);
        return connection;
      }
      case 301:
      case 302:
      case 303:
      case 307: {
        if (++redirects > kHttpRedirectLimit) throwHttpError(KV_SITE);
        std::string location;
        if (!readLocationHeader(*connection, location)) throwHttpError(KV_SITE);
        Processor::RefPtr<UriResource> next = createUriResource(widen(location));
        // Leaving TLS for plain text would hand the exchange to anyone between.
        if (tls && !(next->scheme() == "https")) throwHttpError(KV_SITE);
        current = next;
        trace("New location", {{"url", Processor::Variant(location.c_str())}});
        connection.reset();
        if (code == 303) {
          // "See other": fetched with GET, without the body.
          method = HttpGet;
          body = nullptr;
          length = 0;
        }
        continue;
      }
      default:
        throwStatusError(KV_SITE, *current, code, reason);
    }
  }
}

std::unique_ptr<Network::StreamSocket> httpPost(ProtocolConfigurationAccessor& accessor, const UriResource& uri,
                                                const void* body, std::uint32_t length) {
  return httpQuery(accessor, uri, body, length, HttpPost, 0, 0);
}

std::unique_ptr<Network::StreamSocket> httpGetRange(ProtocolConfigurationAccessor& accessor, const UriResource& uri,
                                                    std::uint64_t begin, std::uint64_t end) {
  return httpQuery(accessor, uri, nullptr, 0, HttpGet, begin, end);
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
  // back one ">" at a time until the rest loads.
  std::size_t n = data.size();
  for (;;) {
    auto last = std::find(std::make_reverse_iterator(data.begin() + static_cast<std::ptrdiff_t>(n)), data.rend(),
                          static_cast<unsigned char>('>'));
    if (last == data.rend())
      throw Common::Error(KV_SITE, kProtocolError, Common::catalogueText(1299, u"Internal protocol error."));
    n = static_cast<std::size_t>(data.rend() - last);
    file->set_size(n);
    file->rewind();
    if (document.load(*file)) return;
    if (--n == 0) return;
  }
}

}  // namespace LiveUpdate
