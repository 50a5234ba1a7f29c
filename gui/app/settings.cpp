#include "gui/app/settings.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <string>

#include "core/catalogue.h"
#include "core/text_convert.h"
#include "files/windows_dir.h"
#include "gui/app/korvane_app.h"
#include "platform/win32/windows.h"

using namespace FX;

namespace {

std::u16string wide(const FXString& s) {
  std::u16string out;
  Common::fromUtf8(out, s.text());
  return out;
}

// The files the hooks hand to the store. A write goes to a new file beside
// the settings file, which takes its place only once everything is written.
struct SettingsFile {
  std::unique_ptr<i_file> in;
  std::unique_ptr<o_file> out;
  std::u16string path, temporary;
};

std::atomic<unsigned> writeSerial{0};

}  // namespace

FXKRegistry::FXKRegistry(const FXString& appKey, const FXString& vendorKey) : FXHookedRegistry(appKey, vendorKey) {}

void* FXKRegistry::openRead(const FXString& path) {
  win32_dir* dir = current_dir();
  if (!dir) return nullptr;
  ri_file* f = dir->open_file(wide(path).c_str(), false);
  dir->clear_error();
  if (!f) return nullptr;
  auto* file = new SettingsFile;
  file->in.reset(f);
  return file;
}

void* FXKRegistry::openWrite(const FXString& path) {
  win32_dir* dir = current_dir();
  if (!dir) return nullptr;
  const std::u16string p = wide(path);
  // The folders of a first write are made on the way.
  for (std::size_t at = p.find(u'\\', 3); at != std::u16string::npos; at = p.find(u'\\', at + 1)) {
    dir->create_dir(p.substr(0, at).c_str(), nullptr);
    dir->clear_error();
  }
  const std::string tag = "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++writeSerial) + ".new";
  const std::u16string temporary = p + std::u16string(tag.begin(), tag.end());
  ro_file* f = dir->create_file(temporary.c_str(), false, nullptr);
  dir->clear_error();
  if (!f) return nullptr;
  auto* file = new SettingsFile;
  file->out.reset(f);
  file->path = p;
  file->temporary = temporary;
  return file;
}

bool FXKRegistry::finishWrite(void* handle) {
  auto* file = static_cast<SettingsFile*>(handle);
  if (!file) return false;
  bool ok = file->out != nullptr;
  if (ok) {
    file->out->flush();
    ok = file->out->Good();
    file->out.reset();
  }
  // The old file stays until the new one is whole.
  if (ok) ok = MoveFileExW(file->temporary.c_str(), file->path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
  if (!ok && !file->temporary.empty()) DeleteFileW(file->temporary.c_str());
  delete file;
  return ok;
}

bool FXKRegistry::readLine(char* buffer, int size, void* handle) {
  if (size == 0) return false;
  if (size <= 1) {
    buffer[0] = 0;
    return false;
  }
  auto* file = static_cast<SettingsFile*>(handle);
  int stored = 0;
  bool readAny = false;
  while (stored < size - 1 && file && file->in) {
    char c = 0;
    file->in->read_exact(&c, 1);
    if (file->in->Bad()) break;  // the end of the file sets the sticky error
    readAny = true;
    if (c == '\n') break;
    if (c == '\r') continue;
    buffer[stored++] = c;
  }
  buffer[stored] = 0;
  return readAny;
}

void FXKRegistry::closeFile(void* file) { delete static_cast<SettingsFile*>(file); }

void FXKRegistry::writeText(const char* text, void* handle) {
  auto* file = static_cast<SettingsFile*>(handle);
  if (file && file->out && text) file->out->write_exact(text, static_cast<std::uint32_t>(std::strlen(text)));
}

void FXKRegistry::writeLineEnd(void* handle) {
  auto* file = static_cast<SettingsFile*>(handle);
  if (file && file->out) file->out->write_exact("\r\n", 2);
}

bool FXKRegistry::write(void*) { return FXHookedRegistry::write(nullptr); }

// ---- the application's services over it ----

FXHookedRegistry* FXKorvaneApp::createRegistry() { return new FXKRegistry(getAppName(), getVendorName()); }

namespace {
bool endsAbove0(const FXWString& file, const char16_t* ext) {
  const std::u16string text = file.text();
  const std::size_t at = text.rfind(ext);
  return at != std::u16string::npos && at > 0;
}
}  // namespace


void FXKorvaneApp::setHelpFile(const FXWString& file, HelpViewer viewer) {
  helpFile_ = file;
  helpViewer_ = viewer;
  if (helpFile_.empty()) {
    const FXString stored = reg().readStringEntry("SETTINGS", "HelpFile", "");
    std::u16string w;
    Common::fromUtf8(w, stored.text());
    helpFile_ = FXWString(w);
  }
  if (helpFile_.empty() || viewer) return;
  if (endsAbove0(helpFile_, u".chm")) helpViewer_ = &FXKorvaneApp::htmlHelpViewer;
  if (endsAbove0(helpFile_, u".hll")) helpViewer_ = &FXKorvaneApp::winHelpViewer;
}

bool FXKorvaneApp::hasHelpViewer() { return !helpFile_.empty() && helpViewer_; }

FXWString FXKorvaneApp::getWorkingDir() {
  HKEY key = nullptr;
  const char16_t* path = Common::catalogueText(2258, u"Software\\Korvane\\DovecrestHome\\Settings");
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return FXWString();
  DWORD type = 0, size = 0;
  std::u16string value;
  if (RegQueryValueExW(key, u"WorkingDir", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size >= 2) {
    value.resize(size / 2);
    if (RegQueryValueExW(key, u"WorkingDir", nullptr, &type, reinterpret_cast<LPBYTE>(value.data()), &size) !=
        ERROR_SUCCESS)
      value.clear();
    value.resize(std::min<std::size_t>(value.size(), size / 2));
    while (!value.empty() && value.back() == 0) value.pop_back();
  }
  RegCloseKey(key);
  if (!value.empty() && value.back() == u'\\') value.pop_back();
  return FXWString(value);
}
