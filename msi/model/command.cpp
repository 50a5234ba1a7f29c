#include "msi/model/command.h"

#include <algorithm>

#include "msi/model/database.h"
#include "msi/model/error.h"
#include "msi/model/handle.h"
#include "msi/model/identifiers.h"
#include "msi/model/text.h"

namespace Msi {

namespace {

constexpr std::uint32_t kModule = 0x2a7ab4a1;

[[noreturn]] void raise(std::uint32_t location, std::uint32_t number, UINT result) {
  throw DbError(location, kModule, number, systemErrorText(result));
}

// Reads a record field with the two-call size protocol into `buffer`.
UINT readField(MSIHANDLE record, UINT field, std::vector<WCHAR>& buffer, std::u16string& out) {
  if (buffer.size() < 64) buffer.resize(64);
  DWORD size = static_cast<DWORD>(buffer.size());
  UINT r = MsiRecordGetStringW(record, field, buffer.data(), &size);
  if (r == ERROR_MORE_DATA) {
    buffer.resize(size + 2);
    size = static_cast<DWORD>(buffer.size());
    r = MsiRecordGetStringW(record, field, buffer.data(), &size);
  }
  if (r == ERROR_SUCCESS) out.assign(buffer.data(), size);
  return r;
}

// The leading decimal number of a text, as _wtoi reads it.
int leadingNumber(const std::u16string& text) {
  std::size_t i = 0;
  bool negative = false;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  std::int64_t v = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    v = v * 10 + (text[i] - u'0');
    if (v > 0x80000000LL) v = 0x80000000LL;
  }
  return static_cast<int>(negative ? -v : v);
}

bool isUnknownTypeLetter(const Error& e) {
  if (e.code() != 1132) return false;
  Common::Error cause = e.cause();
  return cause.code() == 1134;
}

}  // namespace

MsiCommand::~MsiCommand() {
  if (open_) {
    open_ = false;
    MsiViewClose(view_);
    MsiCloseHandle(view_);
    view_ = 0;
  }
}

void MsiCommand::setParameter(std::size_t index, const std::u16string& value) {
  if (index >= values_.size()) throw DbError(MSI_LOCATION, kModule, 1105);
  values_[index] = value;
}

void MsiCommand::reset() {
  values_.clear();
  text_.clear();
  columns_.clear();
}

void MsiCommand::run(MsiRecordset* recordset) {
  try {
    std::size_t markers = static_cast<std::size_t>(std::count(text_.begin(), text_.end(), u'?'));
    if (markers != values_.size()) throw DbError(MSI_LOCATION, kModule, 1144);
    open();
    execute(recordset);
    fetch(recordset);
    close();
  } catch (const Error& e) {
    // The view must not stay open, or every later run of this command fails.
    if (open_) {
      open_ = false;
      MsiViewClose(view_);
      MsiCloseHandle(view_);
      view_ = 0;
    }
    DbError outer(MSI_LOCATION, kModule, 1145);
    outer.setCause(e);
    throw outer;
  } catch (...) {
    if (open_) {
      open_ = false;
      MsiViewClose(view_);
      MsiCloseHandle(view_);
      view_ = 0;
    }
    throw DbError(MSI_LOCATION, kModule, 1145);
  }
}

void MsiCommand::open() {
  try {
    if (open_) throw DbError(MSI_LOCATION, kModule, 1141);
    lastResult_ = MsiDatabaseOpenViewW(database_->handle(), text_.c_str(), &view_);
    if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1121, lastResult_);
  } catch (const Error& e) {
    DbError outer(MSI_LOCATION, kModule, 1142);
    outer.setCause(e);
    throw outer;
  } catch (...) {
    throw DbError(MSI_LOCATION, kModule, 1142);
  }
  open_ = true;
}

void MsiCommand::execute(MsiRecordset* recordset) {
  if (!open_) throw DbError(MSI_LOCATION, kModule, 1146);
  lastResult_ = 0;
  HandleGuard params(MsiCreateRecord(static_cast<UINT>(values_.size())));
  HandleGuard names, types;
  lastResult_ = MsiViewGetColumnInfo(view_, MSICOLINFO_NAMES, names.out());
  if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1125, lastResult_);
  lastResult_ = MsiViewGetColumnInfo(view_, MSICOLINFO_TYPES, types.out());
  if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1125, lastResult_);

  if (recordset) recordset->clear();
  columns_.clear();

  UINT count = MsiRecordGetFieldCount(names.get());
  if (count == static_cast<UINT>(-1)) count = 0;
  std::u16string typeText, name;
  for (UINT i = 1; i <= count; ++i) {
    lastResult_ = readField(types.get(), i, buffer_, typeText);
    if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1131, lastResult_);
    if (typeText.empty()) continue;
    MsiColumn column;
    try {
      column = MsiColumn::fromInstallerType(typeText);
    } catch (const Error& e) {
      if (!isUnknownTypeLetter(e)) throw;
      column = MsiColumn::fromInstallerType(u"S255");
    }
    lastResult_ = readField(names.get(), i, buffer_, name);
    if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1131, lastResult_);
    if (name.empty()) createGuid(name);
    column.setName(name);
    columns_.add(new MsiColumn(column));
    if (recordset) recordset->addColumn(column);
  }

  for (std::size_t j = 0; j < values_.size(); ++j) {
    const std::u16string& v = values_[j];
    UINT field = static_cast<UINT>(j + 1);
    MsiColumn::Type type = j < columns_.count() ? columns_.at(j).type() : MsiColumn::String;
    switch (type) {
      case MsiColumn::Object:
        lastResult_ = MsiRecordSetStreamW(params.get(), field, v.c_str());
        break;
      case MsiColumn::Short:
      case MsiColumn::Long:
      case MsiColumn::TemporaryInteger:
        lastResult_ = MsiRecordSetInteger(params.get(), field, v.empty() ? MSI_NULL_INTEGER : leadingNumber(v));
        break;
      default:
        lastResult_ = MsiRecordSetStringW(params.get(), field, v.c_str());
        break;
    }
    if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1131, lastResult_);
  }

  // On failure the layer's last error record stays for the DbError's text.
  lastResult_ = MsiViewExecute(view_, params.get());
  if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1122, lastResult_);
}

void MsiCommand::fetch(MsiRecordset* recordset) {
  if (!recordset) return;
  std::size_t n = columns_.count();
  for (;;) {
    HandleGuard record;
    lastResult_ = MsiViewFetch(view_, record.out());
    if (lastResult_ == ERROR_NO_MORE_ITEMS) break;
    // Anything but the normal end is a failure, never a silently short result.
    if (lastResult_ != ERROR_SUCCESS) raise(MSI_LOCATION, 1123, lastResult_);
    MsiRow* row = recordset->newRow();
    for (std::size_t b = 0; b < n; ++b) {
      if (columns_.at(b).type() == MsiColumn::Object) continue;
      lastResult_ = readField(record.get(), static_cast<UINT>(b + 1), buffer_, row->fieldAt(b));
      if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1131, lastResult_);
    }
  }
}

void MsiCommand::close() {
  if (!open_) return;
  open_ = false;
  MSIHANDLE view = view_;
  view_ = 0;
  lastResult_ = MsiViewClose(view);
  if (!succeeded(lastResult_)) {
    MsiCloseHandle(view);
    raise(MSI_LOCATION, 1144, lastResult_);
  }
  lastResult_ = MsiCloseHandle(view);
  if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1144, lastResult_);
}

}  // namespace Msi
