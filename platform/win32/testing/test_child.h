// Tests that talk to a second copy of their own program: the child runs one
// test chosen by a gtest filter and reads and writes lines over two pipes,
// whose descriptors it finds in the environment.
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace win32_test {

struct Child {
  pid_t pid = 0;
  int to = -1, from = -1;
};

// Starts this program running only `test`, with `env` and the descriptors of
// its ends of the pipes (named `inName` and `outName`) in its environment,
// which this process then drops again.
inline Child startChild(const char* test, const char* inName, const char* outName,
                        const std::vector<std::pair<const char*, std::string>>& env) {
  int down[2], up[2];
  EXPECT_EQ(::pipe(down), 0);
  EXPECT_EQ(::pipe(up), 0);
  for (const auto& [name, value] : env) ::setenv(name, value.c_str(), 1);
  ::setenv(inName, std::to_string(down[0]).c_str(), 1);
  ::setenv(outName, std::to_string(up[1]).c_str(), 1);
  char self[] = "/proc/self/exe";
  std::string filter = std::string("--gtest_filter=") + test;
  char* argv[] = {self, filter.data(), nullptr};
  Child c;
  EXPECT_EQ(::posix_spawn(&c.pid, self, nullptr, nullptr, argv, environ), 0);
  for (const auto& [name, value] : env) ::unsetenv(name);
  ::unsetenv(inName);
  ::unsetenv(outName);
  ::close(down[0]);
  ::close(up[1]);
  c.to = down[1];
  c.from = up[0];
  return c;
}

// Closes the pipes and waits for the child; gives its wait status.
inline int finishChild(Child& c) {
  ::close(c.to);
  ::close(c.from);
  int status = 0;
  ::waitpid(c.pid, &status, 0);
  return status;
}

// One line from the other side, without its newline; what came before the
// end of the pipe when no newline came.
inline std::string hear(int fd) {
  std::string line;
  char c;
  while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

}  // namespace win32_test
