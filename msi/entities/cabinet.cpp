#include "msi/entities/cabinet.h"

#include <algorithm>
#include <vector>

#include "msi/entities/tree.h"
#include "msi/model/command.h"
#include "msi/model/error.h"
#include "msi/model/package.h"
#include "msi/model/text.h"
#include "platform/win32/windows.h"

namespace Msi {

namespace {

constexpr const char16_t* kDefaultName = u"data1.cab";

bool exists(const std::u16string& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::u16string join(const std::u16string& folder, const std::u16string& name) {
  if (folder.empty()) return name;
  if (folder.back() == u'\\' || folder.back() == u'/') return folder + name;
  return folder + u"\\" + name;
}

std::u16string nameOf(const std::u16string& path) {
  std::size_t at = path.find_last_of(u"\\/");
  return at == std::u16string::npos ? path : path.substr(at + 1);
}

// The directive file, closed and deleted on every road, with makecab's report
// files: those are removed only when the run made them, never a user's own.
class DirectiveFile {
 public:
  explicit DirectiveFile(const std::u16string& name) : name_(name) {
    for (int i = 0; i < 2; ++i) hadReport_[i] = exists(kReports[i]);
  }
  DirectiveFile(const DirectiveFile&) = delete;
  DirectiveFile& operator=(const DirectiveFile&) = delete;
  ~DirectiveFile() {
    close();
    if (written_) DeleteFileW(name_.c_str());
    for (int i = 0; i < 2; ++i)
      if (!hadReport_[i]) DeleteFileW(kReports[i]);
  }
  bool write(const std::string& text) {
    handle_ = CreateFileW(name_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    written_ = true;
    DWORD done = 0;
    bool ok = WriteFile(handle_, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) && done == text.size();
    close();
    return ok;
  }

 private:
  static constexpr const char16_t* kReports[2] = {u"setup.rpt", u"setup.inf"};
  void close() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  std::u16string name_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  bool written_ = false;
  bool hadReport_[2] = {false, false};
};

// A file removed again unless kept.
struct TemporaryFile {
  std::u16string path;
  ~TemporaryFile() {
    if (!path.empty()) DeleteFileW(path.c_str());
  }
};

}  // namespace

MsiCab::MsiCab(MsiPackage* package) : MsiCab(package, kDefaultName, kDdfFileName) {}

MsiCab::MsiCab(MsiPackage* package, const std::u16string& cabinetName, const std::u16string& ddfFileName)
    : MsiStorable(package->database()), package_(package), cabinetName_(cabinetName), ddfFileName_(ddfFileName) {}

void MsiCab::addFile(MsiFile* file) {
  if (!file) return;
  std::u16string key = file->key();
  if (std::find(fileKeys_.begin(), fileKeys_.end(), key) != fileKeys_.end())
    throw Error(MSI_LOCATION, kModule, 92, u"the file " + key + u" is in the cabinet " + cabinetName_ + u" already");
  if (read_)
    throw Error(MSI_LOCATION, kModule, 96, u"the cabinet " + cabinetName_ + u" holds files of the package already");
  fileKeys_.push_back(key);
  file->setAttributes(0x88);
}

void MsiCab::remove() { package_->removeCabinet(this); }

void MsiCab::setExternal(bool external) {
  if (external == external_) return;
  external_ = external;
  // A cabinet file already beside the package goes into the package at the next save.
  embedPending_ = !external && (read_ || ownsFile_);
  markModified();
}

std::list<MsiFile*> MsiCab::listedFiles() {
  std::list<MsiFile*> files;
  // A file removed since it was added has nothing to put into the cabinet.
  for (const std::u16string& key : fileKeys_)
    if (MsiFile* f = package_->find<MsiFile>(key)) files.push_back(f);
  return files;
}

std::int32_t MsiCab::renumberFiles(std::int32_t start) {
  if (read_ && fileKeys_.empty()) return std::max(start, lastSequence_);
  lastSequence_ = start;
  for (MsiFile* file : listedFiles()) file->setSequence(toString(++lastSequence_));
  return lastSequence_;
}

std::string MsiCab::ddfText(const std::u16string& cabinetFile, const std::u16string& folder) {
  std::u16string text = u".OPTION EXPLICIT\n.Set UniqueFiles=\"ON\"\n.Set MaxDiskSize=0\n.Set MaxCabinetSize=0\n"
                        u";.Set GenerateInf=OFF\n;.Set CompressionType=LZX\n.Set Compress=ON\n"
                        u".Set CabinetNameTemplate=" +
                        cabinetFile + u"\n.Set DiskDirectory1=" + folder + u"\n";
  for (MsiFile* file : listedFiles()) {
    std::u16string source = file->sourcePath();
    // Quoted, so that blanks stay inside the path; a quote or line break
    // would end the path or the line early.
    if (source.empty() || source.find_first_of(u"\"\r\n") != std::u16string::npos)
      throw Error(MSI_LOCATION, kModule, 97, u"the source path of the file " + file->key() + u" cannot be listed");
    text += u"\"" + source + u"\" " + file->key() + u"\n";
  }
  std::string out;
  for (char ch : win32::utf16_to_utf8(text)) {
    if (ch == '\n') out.push_back('\r');
    out.push_back(ch);
  }
  return out;
}

std::u16string MsiCab::build(const std::u16string& folder) {
  // makecab writes into a new file of its own, so that no file already
  // beside the package is ever overwritten by a build that then fails.
  WCHAR made[MAX_PATH] = {0};
  if (GetTempFileNameW(folder.c_str(), u"cab", 0, made) == 0)
    throw Error(MSI_LOCATION, kModule, 94, u"no cabinet file can be made in " + folder);
  TemporaryFile output{made};
  {
    DirectiveFile ddf(ddfFileName_);
    if (!ddf.write(ddfText(nameOf(output.path), folder))) throw Error(MSI_LOCATION, kModule, 90, ddfFileName_);
    std::u16string line = u"makecab.exe /f " + ddfFileName_;
    std::vector<WCHAR> command(line.begin(), line.end());
    command.push_back(0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0x08000020, nullptr, nullptr, &startup,
                        &process))
      throw DbError(MSI_LOCATION, kModule, 1200);
    WaitForMultipleObjects(1, &process.hProcess, FALSE, INFINITE);
    DWORD exitCode = 1;
    if (!GetExitCodeProcess(process.hProcess, &exitCode)) exitCode = 1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (exitCode != 0)
      throw Error(MSI_LOCATION, kModule, 94,
                  u"makecab.exe failed with " + toString(static_cast<std::int32_t>(exitCode)));
  }
  WIN32_FILE_ATTRIBUTE_DATA facts{};
  if (!GetFileAttributesExW(output.path.c_str(), GetFileExInfoStandard, &facts) ||
      (facts.nFileSizeLow == 0 && facts.nFileSizeHigh == 0))
    throw Error(MSI_LOCATION, kModule, 94, u"makecab.exe left no cabinet " + output.path);
  std::u16string result = output.path;
  output.path.clear();
  return result;
}

void MsiCab::embed(const std::u16string& cabinetPath) {
  try {
    MsiCommand insert(database_);
    insert.setText(u"Insert Into `_Streams` (`Name`, `Data`) Values (?, ?)");
    insert.bind(cabinetName_);
    insert.bind(cabinetPath);
    insert.run(nullptr);
  } catch (const DbError&) {
    MsiCommand update(database_);
    update.setText(u"Update `_Streams` Set `Data` = ? Where `Name` = ?");
    update.bind(cabinetPath);
    update.bind(cabinetName_);
    update.run(nullptr);
  } catch (const Error& e) {
    Error outer(MSI_LOCATION, kModule, 93);
    outer.setCause(e);
    throw outer;
  }
}

void MsiCab::afterSave(int) {
  const std::u16string& folder = package_->sourceFolder();
  std::u16string target = join(folder, cabinetName_);
  std::size_t listed = fileKeys_.size();
  if (listed != builtCount_ && !listedFiles().empty()) {
    // An external cabinet never replaces a file it did not write.
    if (external_ && !ownsFile_ && exists(target))
      throw Error(MSI_LOCATION, kModule, 95, u"the cabinet file " + target + u" exists already");
    TemporaryFile built{build(folder)};
    if (external_) {
      if (!MoveFileExW(built.path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        throw Error(MSI_LOCATION, kModule, 94, u"the cabinet cannot be moved to " + target);
      built.path.clear();
      ownsFile_ = true;
    } else {
      embed(built.path);
    }
    builtCount_ = listed;
    embedPending_ = false;
    return;
  }
  if (embedPending_ && !external_ && exists(target)) {
    // The cabinet already beside the package goes in as it is; a file the
    // package did not make stays where it is.
    embed(target);
    if (ownsFile_) DeleteFileW(target.c_str());
    ownsFile_ = false;
    embedPending_ = false;
  }
}

bool MsiCab::matches(const MsiRow& row) const {
  return row.field(Singleton<MediaTableDescription>::instance()->columnName(0)) == diskId_;
}

void MsiCab::loadFrom(const MsiRow& row) {
  const auto* d = Singleton<MediaTableDescription>::instance();
  diskId_ = row.field(d->columnName(0));
  lastSequence_ = toInt(row.field(d->columnName(1)));
  diskPrompt_ = row.field(d->columnName(2));
  const std::u16string& cabinet = row.field(d->columnName(3));
  // "#" marks a cabinet stored in the package.
  external_ = cabinet.empty() || cabinet[0] != u'#';
  cabinetName_ = external_ ? cabinet : cabinet.substr(1);
  volumeLabel_ = row.field(d->columnName(4));
  source_ = row.field(d->columnName(5));
  read_ = true;
}

void MsiCab::writeTo(MsiRow& row) const {
  const auto* d = Singleton<MediaTableDescription>::instance();
  row.field(d->columnName(0)) = diskId_;
  row.field(d->columnName(1)) = toString(lastSequence_);
  row.field(d->columnName(2)) = diskPrompt_;
  row.field(d->columnName(3)) = external_ ? cabinetName_ : u"#" + cabinetName_;
  row.field(d->columnName(4)) = volumeLabel_;
  row.field(d->columnName(5)) = source_;
}

}  // namespace Msi
