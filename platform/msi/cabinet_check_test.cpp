// Cabinet structure checks against cabinets made by gcab and damaged copies.
#include "platform/msi/cabinet_check.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/msi/msi_fixture.h"

namespace {

class CabinetCheckTest : public msi_test::PackageWorld {};

void put16(std::string& b, std::size_t at, unsigned v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}

TEST_F(CabinetCheckTest, TakesWhatGcabWritesAndRefusesDamage) {
  put("src/a.txt", std::string(50000, 'a'));
  put("src/b.txt", "bee\n");
  int st = -1;
  msi_test::run("cd " + msi_test::quote(c("src")) + " && gcab -c -z -n ../z.cab a.txt b.txt && gcab -c -n ../s.cab b.txt",
                &st);
  ASSERT_EQ(st, 0);
  for (const char* name : {"z.cab", "s.cab"}) {
    const std::string good = get(name);
    ASSERT_TRUE(msi_layer::checkCabinetBytes(good).ok) << name << ": " << msi_layer::checkCabinetBytes(good).problem;
  }
  const std::string cab = get("z.cab");
  // Field offsets of the one-folder cabinet gcab writes: header 36 bytes, the
  // folder entry, then the file entries at the offset the header gives.
  const std::size_t files = static_cast<unsigned char>(cab[16]) | static_cast<unsigned char>(cab[17]) << 8;
  const std::size_t data = static_cast<unsigned char>(cab[36]) | static_cast<unsigned char>(cab[37]) << 8;
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"other signature", "MSCX" + cab.substr(4)},
      {"cut short", cab.substr(0, cab.size() - 1)},
      {"cut in the header", cab.substr(0, 20)},
      {"next cabinet of a set", [&] { std::string b = cab; put16(b, 30, 2); return b; }()},
      {"file of a missing folder", [&] { std::string b = cab; put16(b, files + 8, 1); return b; }()},
      {"file past its folder", [&] { std::string b = cab; put16(b, files + 2, 0x7FFF); return b; }()},
      {"second file overlapping the first", [&] {
         std::string b = cab;
         const std::size_t second = files + 16 + 6;  // after "a.txt"
         put16(b, second + 4, 0x0033);
         put16(b, second + 6, 0);
         return b;
       }()},
      {"name without its end", cab.substr(0, files + 16) + std::string(300, 'n')},
      {"block too large", [&] { std::string b = cab; put16(b, data + 6, 0x8001); return b; }()},
      {"block past the end", [&] { std::string b = cab; put16(b, data + 4, 0xFFFF); return b; }()},
      {"Quantum", [&] { std::string b = cab; put16(b, 42, 2); return b; }()},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_FALSE(msi_layer::checkCabinetBytes(k.bytes).ok);
    EXPECT_FALSE(msi_layer::checkCabinetBytes(k.bytes).problem.empty());
  }
}

}  // namespace
