// kvupdated: a small update service on 127.0.0.1 for tests and for trying the
// update client. It answers infoUpdates from <root>/catalogue.xml (the
// children of the answer's `product`), getUpdates with a link to
// /files/<name> and the file's MD5, and serves <root>/<name> with byte
// ranges, over HTTP and, with a certificate, HTTPS. It can be told to
// misbehave. Prints "http <port>" and "https <port>" once it listens.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

struct Options {
  std::string root;
  int httpPort = 0;
  int httpsPort = -1;  // no HTTPS unless asked
  std::string cert, key, log;
  long dropAfter = -1;    // file GETs: close after this many body bytes
  int dropTimes = 0;      // ... for this many GETs
  int dropPosts = 0;      // close the first POSTs without answering
  bool ignoreRange = false;
  bool wrongHash = false;
  bool errorRoot = false;
  bool stall = false;     // never answer a POST
  bool abrupt = false;    // a drop sends no TLS close notification
  long stallAfter = -1;   // file GETs: go silent after this many body bytes
  bool lowerHash = false;
};

Options options;
std::atomic<int> dropsLeft{0}, postDropsLeft{0};
std::mutex logLock;

// One connection, plain or TLS.
struct Conn {
  int fd = -1;
  SSL* ssl = nullptr;
  long send(const char* p, std::size_t n) {
    if (ssl) return SSL_write(ssl, p, static_cast<int>(n));
    return ::send(fd, p, n, MSG_NOSIGNAL);
  }
  long recv(char* p, std::size_t n) {
    if (ssl) return SSL_read(ssl, p, static_cast<int>(n));
    return ::recv(fd, p, n, 0);
  }
  bool sendAll(std::string_view s) {
    std::size_t at = 0;
    while (at < s.size()) {
      long n = send(s.data() + at, s.size() - at);
      if (n <= 0) return false;
      at += static_cast<std::size_t>(n);
    }
    return true;
  }
  bool abrupt = false;
  void close() {
    if (ssl) {
      if (!abrupt) SSL_shutdown(ssl);
      SSL_free(ssl);
    }
    ::close(fd);
  }
};

std::string readFile(const std::string& path, bool& ok) {
  std::ifstream in(path, std::ios::binary);
  ok = static_cast<bool>(in);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string md5Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(data.data(), data.size(), digest, &n, EVP_md5(), nullptr);
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned i = 0; i < n; ++i) {
    out.push_back(hex[digest[i] >> 4]);
    out.push_back(hex[digest[i] & 15]);
  }
  return out;
}

// A file's MD5, remembered by path, size and change time: a large package is
// hashed once, not for every getUpdates.
std::string fileMd5Hex(const std::string& path) {
  static std::mutex lock;
  static std::map<std::string, std::pair<std::string, std::string>> known;  // path -> (stamp, hash)
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return md5Hex(std::string());
  const std::string stamp = std::to_string(st.st_size) + "/" + std::to_string(st.st_mtim.tv_sec) + "." +
                            std::to_string(st.st_mtim.tv_nsec) + "/" + std::to_string(st.st_ino);
  {
    std::lock_guard<std::mutex> g(lock);
    auto it = known.find(path);
    if (it != known.end() && it->second.first == stamp) return it->second.second;
  }
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  EVP_DigestInit_ex(md, EVP_md5(), nullptr);
  std::ifstream in(path, std::ios::binary);
  std::vector<char> piece(1 << 20);
  while (in) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    if (in.gcount() > 0) EVP_DigestUpdate(md, piece.data(), static_cast<std::size_t>(in.gcount()));
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_DigestFinal_ex(md, digest, &n);
  EVP_MD_CTX_free(md);
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned i = 0; i < n; ++i) {
    out.push_back(hex[digest[i] >> 4]);
    out.push_back(hex[digest[i] & 15]);
  }
  std::lock_guard<std::mutex> g(lock);
  known[path] = {stamp, out};
  return out;
}

std::string header(const std::string& head, const char* name) {
  std::string lower = head;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string key = std::string("\r\n") + name + ":";
  std::size_t at = lower.find(key);
  if (at == std::string::npos) return {};
  std::size_t start = at + key.size();
  while (start < head.size() && head[start] == ' ') ++start;
  return head.substr(start, head.find("\r\n", start) - start);
}

void logLine(const std::string& line) {
  if (options.log.empty()) return;
  std::lock_guard<std::mutex> g(logLock);
  std::ofstream(options.log, std::ios::app) << line << "\n";
}

std::string unescape(std::string s) {
  const std::pair<const char*, const char*> entities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
  for (auto [from, to] : entities)
    for (std::size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += std::strlen(to))
      s.replace(at, std::strlen(from), to);
  return s;
}

std::string answer(int code, const std::string& reason, const std::string& headers, const std::string& body) {
  return "HTTP/1.0 " + std::to_string(code) + " " + reason + "\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

void stallUntilPeerGoes(Conn& c) {
  char b[256];
  while (c.recv(b, sizeof b) > 0) {
  }
}

void servePost(Conn& c, const std::string& body, const std::string& base) {
  if (postDropsLeft.fetch_sub(1) > 0) return;
  if (options.stall) return stallUntilPeerGoes(c);
  const std::string head = "<updates protocol-version=\"1\" status=\"0\" description=\"";
  std::string xml;
  if (options.errorRoot) {
    xml = "<error id=\"42\" description=\"Refused by request\"/>";
  } else if (body.find("action=\"infoUpdates\"") != std::string::npos) {
    bool ok;
    std::string catalogue = readFile(options.root + "/catalogue.xml", ok);
    xml = head + "infoUpdates\"><product status=\"" + (ok ? "0" : "3") + "\">" + catalogue + "</product></updates>";
  } else if (body.find("action=\"getUpdates\"") != std::string::npos) {
    std::size_t a = body.find("<file>"), b = body.find("</file>");
    if (a == std::string::npos || b == std::string::npos) {
      c.sendAll(answer(400, "Bad Request", "", ""));
      return;
    }
    const std::string name = unescape(body.substr(a + 6, b - a - 6));
    std::string hash = options.wrongHash ? std::string(32, '0') : fileMd5Hex(options.root + "/" + name);
    if (options.lowerHash)
      for (char& ch : hash) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    xml = head + "getUpdates\"><product><update link=\"" + base + "/files/" + name + "\" hash=\"" + hash +
          "\"/></product></updates>";
  } else {
    c.sendAll(answer(400, "Bad Request", "", ""));
    return;
  }
  c.sendAll(answer(200, "OK", "Content-Type: text/xml\r\n", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + xml));
}

// Sends `count` bytes of the open file from `offset`, a piece at a time, so
// that a large package is never held whole in memory.
bool sendFileRange(Conn& c, int fd, std::uint64_t offset, std::uint64_t count) {
  std::vector<char> piece(1 << 20);
  while (count > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(count, piece.size()));
    const ssize_t n = ::pread(fd, piece.data(), want, static_cast<off_t>(offset));
    if (n <= 0) return false;
    if (!c.sendAll(std::string_view(piece.data(), static_cast<std::size_t>(n)))) return false;
    offset += static_cast<std::uint64_t>(n);
    count -= static_cast<std::uint64_t>(n);
  }
  return true;
}

void serveFile(Conn& c, const std::string& name, const std::string& range) {
  const int fd = name.find("..") != std::string::npos ? -1 : ::open((options.root + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    c.sendAll(answer(404, "Not Found", "", ""));
    return;
  }
  const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  std::uint64_t begin = 0, end = size == 0 ? 0 : size - 1;
  bool partial = false;
  if (!range.empty() && !options.ignoreRange && range.rfind("bytes=", 0) == 0) {
    begin = std::strtoull(range.c_str() + 6, nullptr, 10);
    std::size_t dash = range.find('-');
    if (dash != std::string::npos && dash + 1 < range.size()) end = std::strtoull(range.c_str() + dash + 1, nullptr, 10);
    if (begin >= size || end < begin) {
      ::close(fd);
      c.sendAll(answer(416, "Range Not Satisfiable", "", ""));
      return;
    }
    end = std::min(end, size - 1);
    partial = true;
  }
  const std::uint64_t length = size == 0 ? 0 : end - begin + 1;
  std::string head = partial ? "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes " + std::to_string(begin) + "-" +
                                   std::to_string(end) + "/" + std::to_string(size) + "\r\n"
                             : std::string("HTTP/1.0 200 OK\r\n");
  head += "Content-Length: " + std::to_string(length) + "\r\n\r\n";
  if (!c.sendAll(head)) return (void)::close(fd);
  if (options.stallAfter >= 0) {
    sendFileRange(c, fd, begin, std::min<std::uint64_t>(length, static_cast<std::uint64_t>(options.stallAfter)));
    ::close(fd);
    return stallUntilPeerGoes(c);
  }
  if (options.dropAfter >= 0 && dropsLeft.fetch_sub(1) > 0) {
    sendFileRange(c, fd, begin, std::min<std::uint64_t>(length, static_cast<std::uint64_t>(options.dropAfter)));
    ::close(fd);
    c.abrupt = options.abrupt;
    return;
  }
  sendFileRange(c, fd, begin, length);
  ::close(fd);
}

void serve(Conn c, bool tls, int port) {
  std::string pending;
  char buf[16384];
  std::size_t headEnd;
  while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos) {
    long n = c.recv(buf, sizeof buf);
    if (n <= 0 || pending.size() > 65536) return c.close();
    pending.append(buf, static_cast<std::size_t>(n));
  }
  const std::string head = pending.substr(0, headEnd + 2);
  const std::size_t length = std::strtoul(header(head, "content-length").c_str(), nullptr, 10);
  std::string body = pending.substr(headEnd + 4);
  while (body.size() < length) {
    long n = c.recv(buf, sizeof buf);
    if (n <= 0) return c.close();
    body.append(buf, static_cast<std::size_t>(n));
  }
  const std::string line = head.substr(0, head.find("\r\n"));
  const std::string range = header(head, "range");
  logLine(line + (range.empty() ? "" : " " + range));
  const std::size_t sp1 = line.find(' '), sp2 = line.find(' ', sp1 + 1);
  const std::string method = line.substr(0, sp1), path = line.substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string base = std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port);
  if (method == "POST")
    servePost(c, body, base);
  else if (method == "GET" && path.rfind("/files/", 0) == 0)
    serveFile(c, path.substr(7), range);
  else
    c.sendAll(answer(404, "Not Found", "", ""));
  c.close();
}

int listenOn(int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0) return -1;
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  port = ntohs(a.sin_port);
  return fd;
}

int usage() {
  std::fprintf(stderr,
               "usage: kvupdated --root DIR [--port N] [--tls-port N --cert PEM --key PEM] [--log FILE]\n"
               "  misbehaving: [--drop-after BYTES [--drop-times K]] [--drop-posts K] [--ignore-range]\n"
               "               [--wrong-hash] [--error-root] [--stall] [--abrupt]\n"
               "               [--stall-after BYTES] [--lower-hash]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  options.dropTimes = 1 << 30;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--root") options.root = next();
    else if (a == "--port") options.httpPort = std::atoi(next().c_str());
    else if (a == "--tls-port") options.httpsPort = std::atoi(next().c_str());
    else if (a == "--cert") options.cert = next();
    else if (a == "--key") options.key = next();
    else if (a == "--log") options.log = next();
    else if (a == "--drop-after") options.dropAfter = std::atol(next().c_str());
    else if (a == "--drop-times") options.dropTimes = std::atoi(next().c_str());
    else if (a == "--drop-posts") options.dropPosts = std::atoi(next().c_str());
    else if (a == "--ignore-range") options.ignoreRange = true;
    else if (a == "--wrong-hash") options.wrongHash = true;
    else if (a == "--error-root") options.errorRoot = true;
    else if (a == "--stall") options.stall = true;
    else if (a == "--abrupt") options.abrupt = true;
    else if (a == "--stall-after") options.stallAfter = std::atol(next().c_str());
    else if (a == "--lower-hash") options.lowerHash = true;
    else return usage();
  }
  if (options.root.empty()) return usage();
  ::signal(SIGPIPE, SIG_IGN);
  dropsLeft = options.dropTimes;
  postDropsLeft = options.dropPosts;

  int httpPort = options.httpPort;
  int httpFd = listenOn(httpPort);
  if (httpFd < 0) return std::perror("listen"), 1;
  SSL_CTX* ctx = nullptr;
  int httpsPort = options.httpsPort, httpsFd = -1;
  if (httpsPort >= 0) {
    ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx || SSL_CTX_use_certificate_chain_file(ctx, options.cert.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, options.key.c_str(), SSL_FILETYPE_PEM) != 1) {
      ERR_print_errors_fp(stderr);
      return 1;
    }
    httpsFd = listenOn(httpsPort);
    if (httpsFd < 0) return std::perror("listen"), 1;
  }
  std::printf("http %d\n", httpPort);
  if (httpsFd >= 0) std::printf("https %d\n", httpsPort);
  std::fflush(stdout);

  for (;;) {
    pollfd p[2] = {{httpFd, POLLIN, 0}, {httpsFd, POLLIN, 0}};
    if (::poll(p, httpsFd >= 0 ? 2 : 1, -1) < 0) continue;
    for (int k = 0; k < 2; ++k) {
      if (!(p[k].revents & POLLIN)) continue;
      Conn c;
      c.fd = ::accept4(p[k].fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (c.fd < 0) continue;
      const bool tls = k == 1;
      std::thread([c, tls, ctx, httpPort, httpsPort]() mutable {
        if (tls) {
          c.ssl = SSL_new(ctx);
          SSL_set_fd(c.ssl, c.fd);
          if (SSL_accept(c.ssl) != 1) {
            SSL_free(c.ssl);
            ::close(c.fd);
            return;
          }
        }
        serve(c, tls, tls ? httpsPort : httpPort);
      }).detach();
    }
  }
}
