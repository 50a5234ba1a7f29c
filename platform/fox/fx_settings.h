// The settings store of the toolkit build: FOX's FXSettings read from and
// written to one file through hooks that a derived store overrides (the
// system's own file library), as lines "[section]" and "key=value". The base
// hooks open nothing, so the base store lives in memory only. Includes FOX.
#pragma once

#include <fx.h>

namespace FX {

class FXHookedRegistry : public FXSettings {
 public:
  FXHookedRegistry(const FXString& appKey, const FXString& vendorKey);

  const FXString& getAppKey() const { return appKey_; }
  const FXString& getVendorKey() const { return vendorKey_; }
  // The settings file: "%APPDATA%\vendor\application.ini" (a Windows path);
  // "settings" when the application has no name.
  virtual FXString settingsPath() const;

  // Hooks, in this order of use.
  virtual void* openRead(const FXString& path);
  virtual void* openWrite(const FXString& path);
  virtual bool readLine(char* buffer, int size, void* file);
  virtual void closeFile(void* file);
  virtual void writeText(const char* text, void* file);
  virtual void writeLineEnd(void* file);
  // Ends a write: true when everything went to the file and it took the old
  // one's place. The base closes the file and answers true.
  virtual bool finishWrite(void* file);

  // Reads the file over what is held; false when it does not open.
  bool read();
  // Writes everything when something changed since the last read or write.
  // Names and values that the line format would not give back as they are go
  // in double quotes with C escapes. A failed write answers false and keeps
  // the modified flag.
  virtual bool write(void* = nullptr);

 private:
  FXString appKey_, vendorKey_;
};

}  // namespace FX
