// The loopback update service (tools/kvupdated) run as a child process for
// tests: a catalogue folder made per test, its ports read from the child's
// first lines, its request log read back.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace UpdateTest {

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes that repeat no short pattern, so a piece at the wrong offset shows.
inline std::string packageBytes(std::size_t size, unsigned seed = 7) {
  std::string s(size, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

inline std::string md5sum(const std::string& path) {
  std::string out;
  FILE* p = ::popen(("md5sum '" + path + "'").c_str(), "r");
  char buf[128];
  if (p && std::fgets(buf, sizeof buf, p)) out = std::string(buf).substr(0, 32);
  if (p) ::pclose(p);
  return out;
}

class Folder {
 public:
  Folder() {
    const char* base = std::getenv("KV_TEST_TMP");
    std::string parent = base && *base ? base : "/tmp";
    std::filesystem::create_directories(parent);
    std::string templ = parent + "/updates-XXXXXX";
    if (!::mkdtemp(templ.data())) throw std::runtime_error("update folder");
    path = templ;
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string file(const std::string& name) const { return path + "/" + name; }
  std::string path;
};

class Service {
 public:
  // `arguments` after --root and --log; "--tls-port 0 --cert … --key …" for HTTPS.
  Service(const std::string& root, std::vector<std::string> arguments) : log_(root + "/.requests") {
    writeFile(log_, "");
    std::vector<std::string> all = {KV_UPDATED_PROGRAM, "--root", root, "--log", log_};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
      throw std::runtime_error("kvupdated does not start");
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    FILE* f = ::fdopen(out[0], "r");
    char line[64];
    const bool tls = std::find(arguments.begin(), arguments.end(), "--tls-port") != arguments.end();
    for (int i = 0; i < (tls ? 2 : 1) && std::fgets(line, sizeof line, f); ++i) {
      std::string l = line;
      if (l.rfind("http ", 0) == 0) httpPort = std::atoi(l.c_str() + 5);
      if (l.rfind("https ", 0) == 0) httpsPort = std::atoi(l.c_str() + 6);
    }
    std::fclose(f);
    if (!httpPort) throw std::runtime_error("kvupdated does not listen");
  }
  ~Service() {
    ::kill(pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
  }
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  std::string url(const std::string& path = "/service") const {
    return "http://127.0.0.1:" + std::to_string(httpPort) + path;
  }
  std::string httpsUrl(const std::string& path = "/service") const {
    return "https://localhost:" + std::to_string(httpsPort) + path;
  }
  // One line per request: the request line, then the Range value if any.
  std::vector<std::string> requests() const {
    std::vector<std::string> lines;
    std::ifstream in(log_);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }

  int httpPort = 0;
  int httpsPort = 0;

 private:
  std::string log_;
  pid_t pid_ = -1;
};

}  // namespace UpdateTest
