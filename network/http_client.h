// The update client's HTTP/1.0 client: one request per call (a POST of a
// document or a GET of a byte range), directly or through the configured
// proxy, following redirects; the answer is the open connection at the first
// byte of the body.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "network/stream_socket.h"
#include "network/uri_resource.h"

class xml_document;

namespace Network {
class CheckCertificateCallback;
}

namespace LiveUpdate {

constexpr std::uint32_t kHttpError = 0x5659D8;            // "HTTP error."
constexpr std::uint32_t kHttpStatusError = 0x5659DA;      // a status the client does not take
constexpr std::uint32_t kHttpConnectionError = 0x5659DB;  // "Connection via HTTP error."
constexpr std::uint32_t kHttpTransferError = 0x5659DC;  // a body that is not the one announced or asked for
constexpr std::uint32_t kProtocolError = 0x565208;        // "Internal protocol error."

enum HttpMethod : int { HttpPost = 0, HttpGet = 1 };

// Bounds on what a server may send: redirects followed in one query, one
// header line, the header lines of one answer, a response document, the
// loads tried on a response document whose end is damaged.
constexpr int kHttpRedirectLimit = 10;
constexpr std::size_t kHttpLineLimit = 8 * 1024;
constexpr int kHttpHeaderLineLimit = 256;
constexpr std::size_t kHttpDocumentLimit = 32 * 1024 * 1024;
constexpr int kHttpDocumentLoads = 3;

// The process-wide callback that TLS connections consult; not owned.
void setCheckCertificateCallback(Network::CheckCertificateCallback* callback);
Network::CheckCertificateCallback* checkCertificateCallback();

// Makes the TLS connection of an "https" exchange over a connected transport
// (through a proxy, the transport is already the tunnel). Installed by the TLS
// client; without one, "https" fails with "Internal error.".
using TlsConnector = std::unique_ptr<Network::StreamSocket> (*)(std::unique_ptr<Network::TCPSocket> transport,
                                                                const UriResource& target);
void setTlsConnector(TlsConnector connector);

// Another thread's way to end a query at any point after its connection is
// made: while the answer head is read, and afterwards the body it handed
// out. The query then fails with "Canceled." (0x4000F); a body being read
// ends early. Interrupting holds until `reset`, so a query that starts later
// ends at once. Copies share one state.
class HttpInterrupt {
 public:
  HttpInterrupt();
  void interrupt();
  bool interrupted() const;
  void reset();

  struct State;
  std::shared_ptr<State> state;
};

std::unique_ptr<Network::StreamSocket> httpPost(ProtocolConfigurationAccessor& accessor, const UriResource& uri,
                                                const void* body, std::uint32_t length,
                                                HttpInterrupt* interrupt = nullptr);
// begin 0 asks no range; both ends are inclusive.
std::unique_ptr<Network::StreamSocket> httpGetRange(ProtocolConfigurationAccessor& accessor, const UriResource& uri,
                                                    std::uint64_t begin, std::uint64_t end,
                                                    HttpInterrupt* interrupt = nullptr);
// Throws Common::Error on every failure; see the codes above. The body
// handed out ends where the answer says (Content-Length, or the range sent);
// a connection that ends before throws kHttpTransferError from `receive`.
std::unique_ptr<Network::StreamSocket> httpQuery(ProtocolConfigurationAccessor& accessor, const UriResource& uri,
                                                 const void* body, std::uint32_t length, int method,
                                                 std::uint64_t begin, std::uint64_t end,
                                                 HttpInterrupt* interrupt = nullptr);

// One answer, read from the status line on. A body (200, or 206 to a ranged
// request) comes as a stream framed by the answer's length; a redirect gives
// its location; every other answer throws. `connection` is taken over and,
// for a redirect, closed. `cut`, when given, is set by whoever interrupts the
// connection: a body that ends after it is no transfer error.
struct HttpAnswer {
  std::uint16_t code = 0;
  std::string reason;
  std::string location;
  std::unique_ptr<Network::StreamSocket> body;
};
HttpAnswer readHttpAnswer(std::unique_ptr<Network::StreamSocket> connection, std::uint64_t begin, std::uint64_t end,
                          const UriResource& uri, std::shared_ptr<std::atomic<bool>> cut = nullptr);

// The request head. With a proxy the request line carries the whole address;
// proxy credentials go out (Basic) only with a proxy.
void buildHttpRequest(std::string& out, int method, std::uint64_t begin, std::uint64_t end, const UriResource& uri,
                      std::uint32_t contentLength, bool useProxy, const Processor::String& proxyHost,
                      std::uint16_t proxyPort, bool proxyAuthentication, const Processor::String& credential1,
                      const Processor::String& credential2);

// One line without its CR LF; anything but CR LF as line end is an error.
void readHttpLine(Network::StreamSocket& socket, std::string& line);
void readStatusLine(Network::StreamSocket& socket, std::uint16_t& code, std::string& reason);
// Reads header lines up to the empty line or the first "Location: " line.
bool readLocationHeader(Network::StreamSocket& socket, std::string& value);

void documentToRequestBody(const xml_document& document, std::vector<unsigned char>& body);
// The whole body as a document. Bytes after the last ">" are cut off, and a
// damaged end is cut back to an earlier ">" (at most kHttpDocumentLoads
// loads); a body that still does not load is kProtocolError.
void readResponseDocument(Network::StreamSocket& socket, xml_document& document);

bool isRetryableHttpError(std::uint32_t code);
int httpAttemptLimit();

}  // namespace LiveUpdate
