// Small services the Windows directories share: the time-zone bias of file
// times, the per-thread network impersonation token and the scope that runs
// an operation under it, the four security pieces of a file with their
// serialised form, and the native object name of a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/windows.h"

// UTC = local time + bias, in milliseconds.
std::int64_t time_zone_bias_ms();

// The calling thread's own value when it has one, else the process-wide one;
// null unless a component sets one.
HANDLE network_impersonation_token();
// Sets the process-wide value, or the calling thread's own; answers the
// previous value in the way of Common::ThreadLocal::set.
HANDLE set_network_impersonation_token(HANDLE token, bool process_wide);

// Runs the rest of a scope under the network impersonation token when
// `enable` is set and a token exists; the thread's former identity comes back
// at its end.
class NetworkImpersonationScope {
 public:
  explicit NetworkImpersonationScope(bool enable);
  ~NetworkImpersonationScope();
  NetworkImpersonationScope(const NetworkImpersonationScope&) = delete;
  NetworkImpersonationScope& operator=(const NetworkImpersonationScope&) = delete;

 private:
  // Null: nothing was done; -1: the thread was not impersonating.
  HANDLE saved_ = nullptr;
};

// The DACL, group, owner and SACL of a file, in that order, each as a
// self-relative security descriptor (empty when absent).
class SecurityInfoHolder {
 public:
  SecurityInfoHolder();

  // Reads every piece that can be read; false only when the system lacks
  // GetFileSecurityW.
  bool read(const char16_t* path);
  // Writes every non-empty piece, in order. False when the system lacks
  // SetFileSecurityW or a piece failed; the last error is then the first
  // failure's.
  bool write(const char16_t* path);
  // Four little-endian lengths, each followed by its piece; answers the size.
  std::uint32_t save(std::vector<std::uint8_t>& out) const;
  // The form save writes. False (and every piece empty) when the data is too
  // short for its four lengths or a length runs past its end.
  bool load(const void* data, std::size_t size);

  const std::vector<std::uint8_t>& piece(int index) const { return pieces_[index].bytes; }
  static constexpr SECURITY_INFORMATION kind(int index) {
    constexpr SECURITY_INFORMATION kinds[4] = {DACL_SECURITY_INFORMATION, GROUP_SECURITY_INFORMATION,
                                               OWNER_SECURITY_INFORMATION, SACL_SECURITY_INFORMATION};
    return kinds[index];
  }

  // Tests: looks the two entry points up again (after hiding one).
  static void look_up_entry_points();

 private:
  struct Piece {
    std::vector<std::uint8_t> bytes;
  };
  Piece pieces_[4];
};

struct UNICODE_STRING {
  USHORT Length;         // bytes
  USHORT MaximumLength;  // bytes
  LPWSTR Buffer;
};

struct OBJECT_ATTRIBUTES {
  ULONG Length;
  HANDLE RootDirectory;
  UNICODE_STRING* ObjectName;
  ULONG Attributes;
  PVOID SecurityDescriptor;
  PVOID SecurityQualityOfService;
};

#define OBJ_CASE_INSENSITIVE 0x00000040L
#define OBJ_KERNEL_HANDLE 0x00000200L

// The "\??\" name of a Win32 path and the attributes record that refers to it.
class NativeObjectName {
 public:
  explicit NativeObjectName(const char16_t* path);
  NativeObjectName(const NativeObjectName&) = delete;
  NativeObjectName& operator=(const NativeObjectName&) = delete;

  const std::u16string& text() const { return text_; }
  OBJECT_ATTRIBUTES* attributes() { return &attributes_; }

 private:
  std::u16string text_;
  UNICODE_STRING name_{};
  OBJECT_ATTRIBUTES attributes_{};
};
