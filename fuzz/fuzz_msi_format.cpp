// Formatted texts expanded against a small package: every input either expands
// or raises Msi::Error; nothing crashes, hangs or reads past the text.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/text_convert.h"
#include "fuzz/fuzz_msi.h"
#include "msi/entities/formatted_string.h"
#include "msi/model/error.h"
#include "msi/model/package.h"

namespace {

// Properties, a directory chain, a component and a file, opened once.
Msi::MsiPackage& package() {
  static std::unique_ptr<Msi::MsiPackage> opened = Msi::MsiPackage::open(
      fuzzmsi::makePackage(
          "fuzz_msi_format",
          {u"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL "
           u"LOCALIZABLE PRIMARY KEY `Property`)",
           u"CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
           u"`DefaultDir` CHAR(255) NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)",
           u"CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), "
           u"`Directory_` CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), "
           u"`KeyPath` CHAR(72) PRIMARY KEY `Component`)",
           u"CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, "
           u"`FileName` CHAR(255) NOT NULL LOCALIZABLE, `FileSize` LONG NOT NULL, `Version` CHAR(72), "
           u"`Language` CHAR(20), `Attributes` SHORT, `Sequence` SHORT NOT NULL PRIMARY KEY `File`)",
           u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('A', '1')",
           u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('R', 'A')",
           u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('L', '[A]{[R]}')",
           u"INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('TARGETDIR', '', "
           u"'SourceDir')",
           u"INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('D', 'TARGETDIR', "
           u"'APP|App:Src')",
           u"INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`, `KeyPath`) VALUES "
           u"('C', '{11111111-2222-3333-4444-555555555555}', 'D', 0, 'F')",
           u"INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Sequence`) VALUES ('F', 'C', "
           u"'A.TXT|a.txt', 1, 1)"}),
      true);
  return *opened;
}

template <class F>
void expand(const std::u16string& text) {
  F formatted(&package(), text);
  try {
    const std::u16string& result = formatted.format();
    // A second call gives the kept text without expanding again.
    FUZZ_CHECK(formatted.format() == result);
  } catch (const Msi::Error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  std::u16string text;
  Common::fromUtf8(text, std::string(reinterpret_cast<const char*>(data), size).c_str());
  expand<Msi::MsiFormattedString>(text);
  expand<Msi::MsiFormattedStringExt>(text);
  return 0;
}
