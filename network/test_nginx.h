// Debian's nginx as a test server: started by the test on 127.0.0.1 with its
// own configuration in a temporary folder, serving the folder's "www", and
// stopped (by its process id) when the object goes. Header-only, for tests;
// uses the system's calls, so files that include it must not include
// winsock.h.
//
// More server blocks (a TLS listener, say) go in through `extraServers`: the
// text is placed inside the http block after the plain server, with every
// "@DIR@" replaced by the folder.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace NetTest {

// A port on 127.0.0.1 that was free a moment ago.
inline std::uint16_t freeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(fd);
  return ntohs(a.sin_port);
}

inline bool acceptsConnections(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

class Nginx {
 public:
  static constexpr const char* kProgram = "/usr/sbin/nginx";

  static bool available() { return ::access(kProgram, X_OK) == 0; }

  explicit Nginx(const std::string& extraServers = "", const std::vector<std::uint16_t>& extraPorts = {}) {
    const char* base = std::getenv("KV_TEST_TMP");
    std::filesystem::path parent = base && *base ? base : std::filesystem::temp_directory_path().string();
    std::filesystem::create_directories(parent);
    std::string pattern = (parent / "nginx-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    ::chmod(dir_.c_str(), 0755);
    std::filesystem::create_directories(dir_ / "www");
    ::chmod((dir_ / "www").c_str(), 0755);
    port_ = freeLoopbackPort();

    std::string extra = extraServers;
    for (std::size_t at; (at = extra.find("@DIR@")) != std::string::npos;) extra.replace(at, 5, dir_.string());
    const std::string d = dir_.string();
    std::ofstream conf(dir_ / "nginx.conf");
    conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
         << "pid " << d << "/nginx.pid;\nerror_log " << d << "/error.log;\n"
         << "events { worker_connections 64; }\n"
         << "http {\n  access_log off;\n  default_type application/octet-stream;\n  sendfile on;\n"
         << "  client_body_temp_path " << d << "/body;\n  proxy_temp_path " << d << "/proxy;\n"
         << "  fastcgi_temp_path " << d << "/fastcgi;\n  uwsgi_temp_path " << d << "/uwsgi;\n"
         << "  scgi_temp_path " << d << "/scgi;\n"
         << "  server {\n    listen 127.0.0.1:" << port_ << ";\n    root " << d << "/www;\n  }\n"
         << extra << "\n}\n";
    conf.close();

    const std::string confPath = (dir_ / "nginx.conf").string();
    const std::string errPath = (dir_ / "error.log").string();
    const char* argv[] = {kProgram, "-p", d.c_str(), "-c", confPath.c_str(), "-e", errPath.c_str(), nullptr};
    if (::posix_spawn(&pid_, kProgram, nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
      throw std::runtime_error("nginx did not start");
    std::vector<std::uint16_t> ports = extraPorts;
    ports.push_back(port_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (std::uint16_t p : ports) {
      while (!acceptsConnections(p)) {
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
          pid_ = -1;
          throw std::runtime_error("nginx ended: " + log());
        }
        if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("nginx does not listen: " + log());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  }
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;

  ~Nginx() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status;
      ::waitpid(pid_, &status, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::uint16_t port() const { return port_; }
  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path www() const { return dir_ / "www"; }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

  // Writes `bytes` under www, readable by the server's user.
  void serve(const std::string& name, const std::string& bytes) const {
    const auto path = www() / name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ::chmod(path.c_str(), 0644);
  }

  std::string log() const {
    std::ifstream in(dir_ / "error.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path dir_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace NetTest
