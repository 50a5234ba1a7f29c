#include "platform/fox/fx_settings.h"

#include <string>

#include "platform/win32/process.h"

namespace FX {

FXHookedRegistry::FXHookedRegistry(const FXString& appKey, const FXString& vendorKey)
    : appKey_(appKey), vendorKey_(vendorKey) {}

FXString FXHookedRegistry::settingsPath() const {
  char16_t buffer[512];
  const DWORD n = GetEnvironmentVariableW(u"APPDATA", buffer, 512);
  std::string base;
  for (DWORD i = 0; i < n && n < 512; ++i) {
    // The folder's name is ASCII here; other units would need UTF-8.
    base.push_back(buffer[i] < 0x80 ? static_cast<char>(buffer[i]) : '_');
  }
  if (base.empty()) base = "C:";
  FXString path = base.c_str();
  if (!vendorKey_.empty()) path += "\\" + vendorKey_;
  path += "\\" + (appKey_.empty() ? FXString("settings") : appKey_) + ".ini";
  return path;
}

void* FXHookedRegistry::openRead(const FXString&) { return nullptr; }
void* FXHookedRegistry::openWrite(const FXString&) { return nullptr; }
bool FXHookedRegistry::readLine(char*, int, void*) { return false; }
void FXHookedRegistry::closeFile(void*) {}
void FXHookedRegistry::writeText(const char*, void*) {}
void FXHookedRegistry::writeLineEnd(void*) {}

bool FXHookedRegistry::read() {
  void* file = openRead(settingsPath());
  if (!file) return false;
  const bool wasModified = isModified();
  char line[2048];
  FXString section;
  while (readLine(line, sizeof line, file)) {
    FXString text(line);
    text.trim();
    if (text.empty() || text[0] == '#' || text[0] == ';') continue;
    if (text[0] == '[') {
      const FXint end = text.find(']');
      section = end > 0 ? text.mid(1, end - 1) : FXString();
      continue;
    }
    const FXint eq = text.find('=');
    if (eq <= 0 || section.empty()) continue;
    FXString key = text.left(eq), value = text.mid(eq + 1, text.length());
    key.trim();
    writeStringEntry(section.text(), key.text(), value.text());
  }
  closeFile(file);
  setModified(wasModified);
  return true;
}

bool FXHookedRegistry::write(void*) {
  if (!isModified()) return true;
  void* file = openWrite(settingsPath());
  if (!file) return false;
  for (FXint s = first(); s < size(); s = next(s)) {
    FXStringDict* entries = data(s);
    if (!entries || entries->no() == 0) continue;
    writeText("[", file);
    writeText(key(s), file);
    writeText("]", file);
    writeLineEnd(file);
    for (FXint e = entries->first(); e < entries->size(); e = entries->next(e)) {
      writeText(entries->key(e), file);
      writeText("=", file);
      writeText(entries->data(e), file);
      writeLineEnd(file);
    }
    writeLineEnd(file);
  }
  closeFile(file);
  setModified(false);
  return true;
}

}  // namespace FX
