// The install menu's entry point: the wide command line goes to wmain, which
// runs the menu window. With KV_INSTALLMENU_CONSOLE_REPORT set (the start-up
// tests), it instead reports on the console what the program starts from: its
// archive, where the message catalogue came from and a few of its texts, and
// the product configuration's main strings.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/collector.h"
#include "installmenu/app/command_line.h"
#include "installmenu/app/install_menu_app.h"

#include "core/catalogue.h"
#include "core/resource_archive.h"
#include "core/text_convert.h"
#include "files/windows_dir.h"
#include "files/zip_file.h"
#include "xml/product_configuration.h"

namespace {

std::string utf8(const char16_t* text) {
  std::string out;
  if (text) Common::toUtf8(out, text);
  return out;
}

std::u16string widen(const char* text) {
  std::u16string out;
  for (const char* p = text; *p; ++p) out.push_back(static_cast<unsigned char>(*p));
  return out;
}

bool existsIn(i_dir* dir, const char16_t* name) {
  std::unique_ptr<ri_file> f(dir ? dir->open_file(name, false) : nullptr);
  if (dir) dir->clear_error();
  return f != nullptr;
}

// Where the loader found the catalogue, by the loader's own order: the current
// folder, the program's folder, the program archive.
std::string catalogueOrigin(const char16_t* program) {
  const std::u16string name = widen(Common::catalogueFileName);
  i_dir* current = current_dir();
  if (existsIn(current, name.c_str()))
    return "the current folder (" + utf8(current->path()) + ")";
  const char16_t* last = program;
  std::unique_ptr<ri_dir> programDir(current && program ? current->open_parent(&last) : nullptr);
  if (existsIn(programDir.get(), name.c_str()))
    return "the program's folder (" + utf8(programDir->path()) + ")";
  return "the program archive";
}

int report() {
  const char16_t* program = module_path();
  std::printf("Dovecrest Vazedi install menu (console report)\n");
  std::printf("program:   %s\n", utf8(program).c_str());

  zip_file* archive = Common::programArchive();
  if (!archive) {
    std::printf("archive:   none (neither %s nor the program file opens)\n",
                utf8(Common::archiveDatPath(program).c_str()).c_str());
  } else if (archive->Bad() && archive->entry_count() == 0) {
    std::u16string why;
    archive->error().text(why);
    std::printf("archive:   unreadable: %s\n", utf8(why.c_str()).c_str());
  } else {
    if (archive->archive_offset() == 0)
      std::printf("archive:   %s\n", utf8(Common::archiveDatPath(program).c_str()).c_str());
    else
      std::printf("archive:   appended to the program at offset %" PRId64 "\n", archive->archive_offset());
    std::printf("%12s %12s  %s\n", "size", "stored", "member");
    std::unique_ptr<i_dir::iterator> it(archive->iterate());
    for (; it && it->Good(); it->next())
      std::printf("%12" PRIu64 " %12" PRIu64 "  %s\n", it->size(), it->stored_size(), utf8(it->name()).c_str());
  }

  std::printf("catalogue: %u texts from %s\n", Common::catalogueTextCount, catalogueOrigin(program).c_str());
  for (unsigned slot : {439u, 480u, 1982u})
    std::printf("  %4u  %s\n", slot, utf8(Common::catalogueTexts[slot]).c_str());

  if (!Common::productConfiguration()) {
    std::printf("configuration: none (\"%s\" is missing or unreadable)\n", Common::configurationMemberName);
    return 0;
  }
  std::printf("configuration:\n");
  for (const char* key : {"application_sign", "main_title", "main_url", "main_support_url", "check_for_updates_on_startup"}) {
    const char16_t* value = Common::getConfigString(key);
    std::printf("  %-30s %s\n", key, value ? ("\"" + utf8(value) + "\"").c_str() : "(absent)");
  }
  return 0;
}

}  // namespace

int wmain(int argc, char16_t** argv) {
  InstallMenuCommandLine line = splitCommandLine(argc, argv);
  std::vector<char*> narrow;
  for (std::string& a : line.arguments) narrow.push_back(a.data());
  narrow.push_back(nullptr);
  int count = static_cast<int>(line.arguments.size());
  Processor::GC::initialize();
  FXKInstallMenuApp app;
  app.initWithPackage(count, narrow.data(), line.hasPackageFile ? line.packageFile.c_str() : nullptr);
  if (!app.hasDisplay()) {
    const char* set = std::getenv("DISPLAY");
    std::fputs(noDisplayMessage(utf8(argv[0]), app.displayName(), set && *set).c_str(), stderr);
    return 1;
  }
  app.create();
  const int code = app.run();
  app.destroy();
  return code;
}

int main(int argc, char** argv) {
  if (std::getenv("KV_INSTALLMENU_CONSOLE_REPORT")) return report();
  std::vector<std::u16string> wide;
  for (int i = 0; i < argc; ++i) {
    std::u16string w;
    Common::fromUtf8(w, argv[i], std::strlen(argv[i]));
    wide.push_back(std::move(w));
  }
  std::vector<char16_t*> pointers;
  for (auto& w : wide) pointers.push_back(w.data());
  pointers.push_back(nullptr);
  return wmain(argc, pointers.data());
}
