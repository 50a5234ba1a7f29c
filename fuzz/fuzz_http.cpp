// HTTP answers as a server sends them, through a socket pair into the HTTP
// client's answer reader. The first byte chooses the range asked (bits 0-1:
// none, 5-9, 5-99, 100-199), partial reads (bit 2) and whether the body is
// read as a response document (bit 3); the second the size of the reads; the
// rest is what the server sends before it closes.
// Properties: no crash, no hang; the body handed out is the bytes after the
// head, never more than were sent nor than the answer announced; an answer
// that announced more than it sent fails with the transfer error.
// This file also uses the C library's socket headers.
#define WIN32_LEAN_AND_MEAN

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "core/error.h"
#include "fuzz/fuzz_check.h"
#include "network/http_client.h"
#include "network/stream_socket.h"
#include "network/uri_resource.h"
#include "xml/xml_node.h"

namespace {

// The reading end of the pair as the client's own TCP socket.
class PairSocket final : public Network::TCPSocket {
 public:
  explicit PairSocket(int fd) : TCPSocket(std::string(), 0) { handle_ = static_cast<SOCKET>(fd); }
};

bool startsNoCase(const std::string& s, std::size_t at, const char* name) {
  for (std::size_t i = 0; name[i]; ++i) {
    if (at + i >= s.size()) return false;
    char c = s[at + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != name[i]) return false;
  }
  return true;
}

// The value of the first header line named `name` (lower case, with the
// colon) in `head`, or false.
bool headerValue(const std::string& head, const char* name, std::string& value) {
  for (std::size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) {
    if (startsNoCase(head, at + 2, name)) {
      std::size_t start = at + 2 + std::char_traits<char>::length(name);
      value = head.substr(start, head.find("\r\n", start) - start);
      return true;
    }
  }
  return false;
}

// Plain digits between optional blanks.
bool number(const std::string& text, std::uint64_t& value) {
  std::size_t at = text.find_first_not_of(" \t");
  std::size_t end = text.find_last_not_of(" \t");
  if (at == std::string::npos || end - at > 18) return false;
  value = 0;
  for (std::size_t i = at; i <= end; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return true;
}

void send_all(int fd, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = Network::ensureWinSock();
  FUZZ_CHECK(ready);
  if (size < 2) return 0;
  static const std::uint64_t ranges[4][2] = {{0, 0}, {5, 9}, {5, 99}, {100, 199}};
  const std::uint64_t begin = ranges[data[0] & 3][0], end = ranges[data[0] & 3][1];
  const bool partial = (data[0] & 4) != 0, asDocument = (data[0] & 8) != 0;
  const std::size_t piece = 1 + static_cast<std::size_t>(data[1]) * 7;
  const std::string answer(reinterpret_cast<const char*>(data) + 2, size - 2);

  int pair[2];
  FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0);
  // Small answers fit the pair's buffer; larger ones need a writer of their own.
  std::thread writer;
  if (answer.size() <= 32 * 1024)
    send_all(pair[1], answer);
  else
    writer = std::thread(send_all, pair[1], answer);

  static const auto uri = LiveUpdate::createUriResource(u"http://fuzz.example/f");
  const std::size_t headEnd = answer.find("\r\n\r\n");
  std::string body;
  std::uint32_t code = 0;
  bool isBody = false;    // a body was handed out and read
  bool complete = false;  // ... to its end without an error
  try {
    LiveUpdate::HttpAnswer a =
        LiveUpdate::readHttpAnswer(std::make_unique<PairSocket>(pair[0]), begin, end, *uri);
    if (!a.body) {
      FUZZ_CHECK(a.code == 301 || a.code == 302 || a.code == 303 || a.code == 307);
    } else {
      isBody = true;
      FUZZ_CHECK(a.code == 200 || a.code == 206);
      FUZZ_CHECK((a.code == 206) == (begin > 0));
      FUZZ_CHECK(headEnd != std::string::npos);
      if (asDocument) {
        xml_document document;
        try {
          LiveUpdate::readResponseDocument(*a.body, document);
        } catch (const Common::Error& e) {
          FUZZ_CHECK(e.code() == LiveUpdate::kProtocolError || e.code() == LiveUpdate::kHttpTransferError ||
                     e.code() == LiveUpdate::kHttpError);
        }
        isBody = false;
      } else {
        std::string buffer(piece, '\0');
        for (;;) {
          std::size_t n = a.body->receive(buffer.data(), buffer.size(), nullptr, 0, partial);
          FUZZ_CHECK(n <= buffer.size());
          body.append(buffer, 0, n);
          FUZZ_CHECK(body.size() <= answer.size());
          if (n == 0 || (!partial && n < buffer.size())) break;
        }
        complete = true;
      }
    }
  } catch (const Common::Error& e) {
    code = e.code();
    FUZZ_CHECK(code == LiveUpdate::kHttpError || code == LiveUpdate::kHttpStatusError ||
               code == LiveUpdate::kHttpTransferError || code == LiveUpdate::kFailedCheck);
  }
  if (writer.joinable()) writer.join();

  if (isBody || code == LiveUpdate::kHttpTransferError) {
    FUZZ_CHECK(headEnd != std::string::npos);
    const std::string head = answer.substr(0, headEnd + 2);
    const std::string sent = answer.substr(headEnd + 4);
    // The body is what came after the head, in order, and no more.
    FUZZ_CHECK(body.size() <= sent.size());
    FUZZ_CHECK_EQUAL(body, sent.substr(0, body.size()));
    std::string value;
    std::uint64_t announced;
    if (headerValue(head, "content-length:", value) && number(value, announced)) {
      // An announced length is all there is, or the transfer failed.
      if (complete) FUZZ_CHECK(body.size() == announced);
      if (announced > sent.size()) FUZZ_CHECK(code == LiveUpdate::kHttpTransferError);
    }
    if (complete && begin > 0) {
      // Never more than the range asked, and no range at all gives no body.
      FUZZ_CHECK(body.size() <= end - begin + 1);
      FUZZ_CHECK(headerValue(head, "content-range:", value));
    }
  }
  return 0;
}
