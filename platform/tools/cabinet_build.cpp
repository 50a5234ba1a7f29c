#include "platform/tools/cabinet_build.h"

#include <libgcab.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "platform/win32/windows.h"
#include "platform/win32/kernel32/folders.h"

namespace layer_tools {
namespace {

// The uncompressed data of one cabinet folder is addressed with 32 bits and
// Windows' own tools stop short of 2 GB.
constexpr unsigned long long kMaxData = 0x7FFF8000ULL;

std::string narrow(std::u16string_view s) { return win32::utf16_to_utf8(s); }

std::string system_text(DWORD code) {
  WCHAR buffer[512];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                           512, nullptr);
  while (n > 0 && (buffer[n - 1] == u'\n' || buffer[n - 1] == u'\r' || buffer[n - 1] == u' ')) --n;
  std::string text = n ? narrow(std::u16string_view(buffer, n)) : "error " + std::to_string(code);
  return text;
}

template <typename T>
struct Unref {
  void operator()(T* p) const {
    if (p) g_object_unref(p);
  }
};
template <typename T>
using Ref = std::unique_ptr<T, Unref<T>>;


// The Unix path of a source the caller may read, as a Windows program opening
// it for reading would find it (share modes of other holders included).
bool readable_source(const DdfFile& f, std::string& unix_path, unsigned long long& size, std::string& message) {
  HANDLE h = CreateFileW(f.source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    message = "cannot open " + narrow(f.source) + ": " + system_text(GetLastError());
    return false;
  }
  LARGE_INTEGER n{};
  const bool sized = GetFileSizeEx(h, &n);
  CloseHandle(h);
  win32::MappedPath m;
  if (!sized || !win32::map_path(f.source.c_str(), m) || m.state != win32::PathState::Exists) {
    message = "cannot read " + narrow(f.source);
    return false;
  }
  struct stat st;
  if (::stat(m.unix_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    message = narrow(f.source) + " is not a file";
    return false;
  }
  unix_path = m.unix_path;
  size = static_cast<unsigned long long>(n.QuadPart);
  return true;
}

bool output_folder(const Ddf& ddf, std::string& folder, std::string& message) {
  std::u16string dir = ddf.disk_directory;
  if (dir.empty()) {
    WCHAR buffer[MAX_PATH + 1];
    DWORD n = GetCurrentDirectoryW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH) {
      message = "no current folder";
      return false;
    }
    dir.assign(buffer, n);
  }
  win32::MappedPath m;
  struct stat st;
  if (!win32::map_path(dir.c_str(), m) || m.state != win32::PathState::Exists ||
      ::stat(m.unix_path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    message = "the output folder " + narrow(dir) + " does not exist";
    return false;
  }
  folder = m.unix_path;
  return true;
}

}  // namespace

bool build_cabinet(const Ddf& ddf, DdfError& fault) {
  fault = DdfError{};
  std::string& message = fault.message;
  if (ddf.files.empty()) return true;
  std::string folder;
  if (!output_folder(ddf, folder, message)) return false;

  Ref<GCabCabinet> cab(gcab_cabinet_new());
  Ref<GCabFolder> cabFolder(gcab_folder_new(ddf.compress ? GCAB_COMPRESSION_MSZIP : GCAB_COMPRESSION_NONE));
  unsigned long long total = 0;
  for (const DdfFile& f : ddf.files) {
    std::string path;
    unsigned long long size = 0;
    if (!readable_source(f, path, size, message)) {
      fault.line = f.line;
      return false;
    }
    total += size;
    if (total >= kMaxData) {
      fault.line = f.line;
      message = "the cabinet would hold 2 GB or more";
      return false;
    }
    Ref<GFile> file(g_file_new_for_path(path.c_str()));
    Ref<GCabFile> member(gcab_file_new_with_file(narrow(f.name).c_str(), file.get()));
    GError* error = nullptr;
    if (!gcab_folder_add_file(cabFolder.get(), member.get(), FALSE, nullptr, &error)) {
      fault.line = f.line;
      message = error ? error->message : "cannot add the file";
      if (error) g_error_free(error);
      return false;
    }
  }
  GError* error = nullptr;
  if (!gcab_cabinet_add_folder(cab.get(), cabFolder.get(), &error)) {
    message = error ? error->message : "cannot make the cabinet";
    if (error) g_error_free(error);
    return false;
  }

  const std::string name = narrow(ddf.cabinet_name);
  const std::string target = folder + "/" + name;
  const std::string temporary = folder + "/." + name + "." + std::to_string(::getpid()) + ".part";
  win32::FolderChange change(folder);
  bool ok = false;
  {
    Ref<GFile> out(g_file_new_for_path(temporary.c_str()));
    Ref<GFileOutputStream> stream(
        g_file_replace(out.get(), nullptr, FALSE, G_FILE_CREATE_REPLACE_DESTINATION, nullptr, &error));
    if (stream) {
      ok = gcab_cabinet_write_simple(cab.get(), G_OUTPUT_STREAM(stream.get()), nullptr, nullptr, nullptr, &error);
      // Closing writes what is buffered; its failure is the cabinet's.
      if (!g_output_stream_close(G_OUTPUT_STREAM(stream.get()), nullptr, ok ? &error : nullptr)) ok = false;
    }
  }
  if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
    message = "cannot write " + name + ": " + system_text(win32::set_last_error_from_errno(errno));
    ::unlink(temporary.c_str());
    return false;
  }
  if (!ok) {
    message = "cannot write " + name + ": " + (error ? error->message : "unknown failure");
    if (error) g_error_free(error);
    ::unlink(temporary.c_str());
    return false;
  }
  change.done(name);
  return true;
}

}  // namespace layer_tools
