// The trust the TLS benchmarks give the programs they time: the system's roots
// and the test CA, as a root folder for the layer and as one bundle file for
// curl and openssl.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "network/ssl/test_pki.h"

namespace bench {

// Fills `world`/roots with links to the regular files of /etc/ssl/certs and a
// copy of the test CA, points KV_CERT_ROOT at it and says how many roots it
// took; writes the system bundle and the test CA to `world`/bundle.pem and
// gives that file's path.
inline std::string trust_system_and_test_roots(const std::filesystem::path& world) {
  const PkiTest::Pki& pki = PkiTest::Pki::get();
  const std::string roots = world.string() + "/roots";
  std::filesystem::create_directories(roots);
  std::filesystem::copy_file(pki.path("ca.pem"), roots + "/ca.pem");
  int linked = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/etc/ssl/certs", ec)) {
    if (!entry.is_regular_file(ec)) continue;
    std::filesystem::create_symlink(std::filesystem::canonical(entry.path()),
                                    std::filesystem::path(roots) / entry.path().filename(), ec);
    linked += !ec;
  }
  const std::string bundle = world.string() + "/bundle.pem";
  std::ofstream(bundle, std::ios::binary) << PkiTest::readFile("/etc/ssl/certs/ca-certificates.crt")
                                           << PkiTest::readFile(pki.path("ca.pem"));
  std::printf("trusted roots: %d entries of /etc/ssl/certs and the test CA\n", linked);
  if (linked < 100) std::printf("  (few roots: is ca-certificates installed?)\n");
  ::setenv("KV_CERT_ROOT", roots.c_str(), 1);
  return bundle;
}

}  // namespace bench
