// Cabinets as merge modules carry them: refused by the structure check, or
// read and unpacked by the cabinet library without a crash or a hang.
#include <libgcab.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz/fuzz_check.h"
#include "platform/msi/cabinet_check.h"

namespace {

const std::string& folder() {
  static const std::string path = [] {
    std::string p = (std::filesystem::temp_directory_path() / "fuzz-cabinet-XXXXXX").string();
    FUZZ_CHECK(::mkdtemp(p.data()) != nullptr);
    return p;
  }();
  return path;
}

// Members are unpacked under generated names, as the merge does.
gboolean rename_member(GCabFile* file, gpointer data) {
  int* n = static_cast<int*>(data);
  gcab_file_set_extract_name(file, ("f" + std::to_string((*n)++)).c_str());
  return TRUE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 20) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const msi_layer::CabinetCheck check = msi_layer::checkCabinetBytes(bytes);
  if (!check.ok) {
    FUZZ_CHECK(!check.problem.empty());
    return 0;
  }
  GInputStream* in = g_memory_input_stream_new_from_data(data, static_cast<gssize>(size), nullptr);
  GCabCabinet* cab = gcab_cabinet_new();
  GError* e = nullptr;
  if (gcab_cabinet_load(cab, in, nullptr, &e)) {
    GFile* to = g_file_new_for_path(folder().c_str());
    int n = 0;
    gcab_cabinet_extract(cab, to, &rename_member, nullptr, &n, nullptr, &e);
    g_object_unref(to);
  }
  if (e) g_error_free(e);
  g_object_unref(cab);
  g_object_unref(in);
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder(), ec)) std::filesystem::remove_all(entry, ec);
  return 0;
}
