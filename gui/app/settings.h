// The application's settings store over the system's file library. Includes
// FOX.
#pragma once

#include "platform/fox/fx_settings.h"

class FXKRegistry : public FX::FXHookedRegistry {
 public:
  FXKRegistry(const FX::FXString& appKey, const FX::FXString& vendorKey);

  void* openRead(const FX::FXString& path) override;
  void* openWrite(const FX::FXString& path) override;
  bool readLine(char* buffer, int size, void* file) override;
  void closeFile(void* file) override;
  void writeText(const char* text, void* file) override;
  void writeLineEnd(void* file) override;
  bool finishWrite(void* file) override;
  bool write(void* = nullptr) override;
};
