#include "msi/model/error.h"

#include "platform/msi/msi.h"

namespace Msi {
namespace {

std::uint64_t raiseSite(std::uint32_t location, std::uint32_t module) {
  return (static_cast<std::uint64_t>(module) << 32) | location;
}

}  // namespace

Error::Error(std::uint32_t location, std::uint32_t module, std::uint32_t number)
    : Common::Error(raiseSite(location, module), number) {}

Error::Error(std::uint32_t location, std::uint32_t module, std::uint32_t number, const std::u16string& text)
    : Common::Error(raiseSite(location, module), number, text.c_str()) {}

DbError::DbError(std::uint32_t location, std::uint32_t module, std::uint32_t number)
    : Error(location, module, number, lastErrorText()) {}

DbError::DbError(std::uint32_t location, std::uint32_t module, std::uint32_t number, const std::u16string& prefix)
    : Error(location, module, number, lastErrorText(&prefix)) {}

std::u16string lastErrorText(const std::u16string* prefix) {
  std::u16string text;
  MSIHANDLE record = MsiGetLastErrorRecord();
  if (record) {
    DWORD count = 0;
    WCHAR empty[1] = {0};
    if (MsiFormatRecordW(0, record, empty, &count) == ERROR_MORE_DATA) {
      std::u16string buffer(count + 1, u'\0');
      DWORD room = count + 1;
      if (MsiFormatRecordW(0, record, buffer.data(), &room) == ERROR_SUCCESS) {
        buffer.resize(room);
        text = std::move(buffer);
      }
    }
    MsiCloseHandle(record);
  }
  if (prefix) {
    if (!text.empty()) text = u"\nError detailes: " + text;
    text = *prefix + text;
  }
  return text;
}

}  // namespace Msi
