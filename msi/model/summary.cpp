#include "msi/model/summary.h"

#include <vector>

#include "msi/model/database.h"
#include "msi/model/error.h"
#include "msi/model/handle.h"
#include "msi/model/text.h"

namespace Msi {

namespace {

constexpr std::uint32_t kModule = 0x3a0845a;

[[noreturn]] void raise(std::uint32_t location, std::uint32_t number, UINT result) {
  throw Error(location, kModule, number, systemErrorText(result));
}

// Length first, then the value into a buffer of that length plus one.
void readText(MSIHANDLE summary, UINT pid, std::u16string& out, std::uint32_t lengthNumber,
              std::uint32_t valueNumber) {
  UINT type = 0;
  INT value = 0;
  DWORD size = 0;
  WCHAR empty[1] = {0};
  UINT r = MsiSummaryInfoGetPropertyW(summary, pid, &type, &value, nullptr, empty, &size);
  if (!succeeded(r)) raise(MSI_LOCATION, lengthNumber, r);
  std::vector<WCHAR> buffer(size + 1, 0);
  DWORD room = size + 1;
  r = MsiSummaryInfoGetPropertyW(summary, pid, &type, &value, nullptr, buffer.data(), &room);
  if (!succeeded(r)) raise(MSI_LOCATION, valueNumber, r);
  out.assign(buffer.data(), std::min<DWORD>(room, size));
}

void readInteger(MSIHANDLE summary, UINT pid, std::int32_t& out) {
  UINT type = 0;
  INT value = 0;
  UINT r = MsiSummaryInfoGetPropertyW(summary, pid, &type, &value, nullptr, nullptr, nullptr);
  if (!succeeded(r)) raise(MSI_LOCATION, 1173, r);
  if (type == VT_I4 || type == VT_I2) out = value;
}

void setText(MSIHANDLE summary, UINT pid, const std::u16string& text) {
  UINT r = MsiSummaryInfoSetPropertyW(summary, pid, VT_LPSTR, 0, nullptr, text.c_str());
  if (!succeeded(r)) raise(MSI_LOCATION, 1161, r);
}

void setInteger(MSIHANDLE summary, UINT pid, std::int32_t value) {
  UINT r = MsiSummaryInfoSetPropertyW(summary, pid, VT_I4, value, nullptr, nullptr);
  if (!succeeded(r)) raise(MSI_LOCATION, 1161, r);
}

}  // namespace

void MsiSummary::read(MsiDatabaseInterface& database) {
  HandleGuard summary;
  if (MsiGetSummaryInformationW(database.handle(), nullptr, 9, summary.out()) != ERROR_SUCCESS) return;
  readText(summary.get(), PID_SUBJECT, subject_, 1173, 1173);
  readText(summary.get(), PID_AUTHOR, author_, 1173, 1173);
  readText(summary.get(), PID_REVNUMBER, revisionNumber_, 1173, 1161);
  readText(summary.get(), PID_TEMPLATE, template_, 1173, 1161);
  readInteger(summary.get(), PID_PAGECOUNT, pageCount_);
  readInteger(summary.get(), PID_WORDCOUNT, wordCount_);
}

void MsiSummary::write(MsiDatabaseInterface& database) {
  HandleGuard summary;
  UINT r = MsiGetSummaryInformationW(database.handle(), nullptr, 9, summary.out());
  if (!succeeded(r)) raise(MSI_LOCATION, 1160, r);
  MSIHANDLE h = summary.get();
  setText(h, PID_TITLE, author_ + u" " + subject_ + u" Installation Database");
  setText(h, PID_SUBJECT, subject_);
  setText(h, PID_AUTHOR, author_);
  setText(h, PID_KEYWORDS, author_ + u",Install,MSI," + subject_);
  setText(h, PID_COMMENTS,
          u"This installer database contains the logic and data required to install " + author_ + u" " + subject_ +
              u".");
  setText(h, PID_TEMPLATE, template_.empty() ? std::u16string(u"Intel;1033") : template_);
  if (!revisionNumber_.empty()) setText(h, PID_REVNUMBER, revisionNumber_);
  setInteger(h, PID_PAGECOUNT, pageCount_);
  setInteger(h, PID_WORDCOUNT, wordCount_);
  r = MsiSummaryInfoPersist(h);
  if (!succeeded(r)) raise(MSI_LOCATION, 1162, r);
}

}  // namespace Msi
