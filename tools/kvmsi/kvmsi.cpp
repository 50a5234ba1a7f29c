// kvmsi: a look into an installer package through the object model.
//   kvmsi PACKAGE                 summary and every property
//   kvmsi PACKAGE get NAME        one property's value (exit 1 when missing)
//   kvmsi PACKAGE set NAME VALUE  sets (or adds) a property and commits
//   kvmsi PACKAGE summary         the summary fields alone
//   kvmsi PACKAGE tree            features, their components and files, with target folders
//   kvmsi PACKAGE files           every file's key and target path
// PACKAGE is a Windows path or a Unix path (seen through drive Z:).
#include <cstdio>
#include <string>

#include "core/text_convert.h"
#include "msi/entities/directory.h"
#include "msi/entities/property.h"
#include "msi/entities/tree.h"
#include "msi/model/error.h"
#include "msi/model/package.h"
#include "platform/win32/fileops.h"
#include "platform/win32/paths.h"

namespace {

std::string utf8(const std::u16string& s) {
  std::string out;
  Common::toUtf8(out, s.c_str(), static_cast<std::ptrdiff_t>(s.size()));
  return out;
}

std::u16string wide(const char* s) {
  std::u16string out;
  Common::fromUtf8(out, s);
  return out;
}

// An absolute Windows path: Unix paths are read through drive Z:.
std::u16string packagePath(const char* arg) {
  std::u16string path = wide(arg);
  if (!path.empty() && path[0] == u'/') path = u"Z:" + path;
  WCHAR full[4096];
  DWORD n = GetFullPathNameW(path.c_str(), 4096, full, nullptr);
  return n && n < 4096 ? std::u16string(full, n) : path;
}

void printSummary(Msi::MsiPackage& package) {
  Msi::IMsiSummary* s = package.summary();
  Msi::IMsiSummaryEx* x = package.summaryEx();
  std::printf("Subject: %s\n", utf8(s->subject()).c_str());
  std::printf("Author: %s\n", utf8(s->author()).c_str());
  std::printf("Template: %s\n", utf8(x->templateText()).c_str());
  std::printf("Revision number: %s\n", utf8(s->revisionNumber()).c_str());
  std::printf("Page count: %d\n", x->pageCount());
  std::printf("Word count: %d\n", x->wordCount());
}

void printProperties(Msi::MsiPackage& package) {
  for (const std::u16string& name : package.propertyKeys().keys()) {
    Msi::IMsiProperty* p = package.property(name, false);
    if (p) std::printf("%s=%s\n", utf8(p->name()).c_str(), utf8(p->value()).c_str());
  }
}

const char* kindName(Msi::MsiComponent::Kind kind) {
  switch (kind) {
    case Msi::MsiComponent::Kind::File: return "file";
    case Msi::MsiComponent::Kind::Registry: return "registry";
    case Msi::MsiComponent::Kind::Odbc: return "odbc";
    case Msi::MsiComponent::Kind::Directory: return "directory";
    case Msi::MsiComponent::Kind::Assembly: return "assembly";
  }
  return "?";
}

void printFeature(Msi::MsiPackage& package, Msi::MsiFeature& feature, int depth) {
  std::string indent(2 * depth, ' ');
  std::printf("%s%s: %s\n", indent.c_str(), utf8(feature.key()).c_str(), utf8(feature.title()).c_str());
  for (const std::u16string& ck : feature.componentKeys()) {
    Msi::MsiComponent* c = package.find<Msi::MsiComponent>(ck);
    if (!c) continue;
    std::printf("%s  %s [%s] %s\n", indent.c_str(), utf8(ck).c_str(), kindName(c->kind()),
                utf8(c->directoryTargetPath()).c_str());
    for (const std::u16string& fk : c->fileKeys())
      if (Msi::MsiFile* f = package.find<Msi::MsiFile>(fk))
        std::printf("%s    %s %s\n", indent.c_str(), utf8(fk).c_str(), utf8(f->targetPath()).c_str());
  }
  // Children in the order the package lists them; a parent key that loops is
  // not followed past the depth of the whole list.
  if (static_cast<std::size_t>(depth) > package.featureKeys().size()) return;
  for (const std::u16string& k : package.featureKeys().keys()) {
    Msi::MsiFeature* child = package.find<Msi::MsiFeature>(k);
    if (child && child != &feature && child->parentKey() == feature.key()) printFeature(package, *child, depth + 1);
  }
}

void printTree(Msi::MsiPackage& package) {
  for (const std::u16string& k : package.featureKeys().keys()) {
    Msi::MsiFeature* f = package.find<Msi::MsiFeature>(k);
    if (f && (f->parentKey().empty() || !package.find<Msi::MsiFeature>(f->parentKey()))) printFeature(package, *f, 0);
  }
}

void printFiles(Msi::MsiPackage& package) {
  for (const std::u16string& k : package.fileKeys().keys())
    if (Msi::MsiFile* f = package.find<Msi::MsiFile>(k))
      std::printf("%s\t%s\n", utf8(k).c_str(), utf8(f->targetPath()).c_str());
}

std::string describe(const Common::Error& e) {
  std::string text;
  for (Common::Error c = e; c; c = c.cause()) {
    if (!text.empty()) text += "\n  caused by ";
    text += "error " + std::to_string(c.code());
    std::u16string t = c.text();
    if (!t.empty()) text += ": " + utf8(t);
  }
  return text;
}

int usage() {
  std::fputs(
      "usage: kvmsi PACKAGE                 summary and every property\n"
      "       kvmsi PACKAGE get NAME        one property's value\n"
      "       kvmsi PACKAGE set NAME VALUE  set or add a property, then commit\n"
      "       kvmsi PACKAGE summary         the summary alone\n"
      "       kvmsi PACKAGE tree            features, components and files\n"
      "       kvmsi PACKAGE files           every file's target path\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string command = argc > 2 ? argv[2] : "";
  bool view = command == "summary" || command == "tree" || command == "files";
  if (!(argc == 2 || (view && argc == 3) || (command == "get" && argc == 4) ||
        (command == "set" && argc == 5)))
    return usage();
  try {
    bool readOnly = command != "set";
    auto package = Msi::MsiPackage::open(packagePath(argv[1]), readOnly);
    if (command.empty()) {
      printSummary(*package);
      std::printf("\n");
      printProperties(*package);
    } else if (command == "summary") {
      printSummary(*package);
    } else if (command == "tree") {
      printTree(*package);
    } else if (command == "files") {
      printFiles(*package);
    } else if (command == "get") {
      Msi::IMsiProperty* p = package->property(wide(argv[3]), false);
      if (!p) return 1;
      std::printf("%s\n", utf8(p->value()).c_str());
    } else {
      package->addProperty(wide(argv[3]), wide(argv[4]));
      package->commit();
    }
    return 0;
  } catch (const Common::Error& e) {
    // The plain reason first when there is one, the codes after.
    if (GetFileAttributesW(packagePath(argv[1]).c_str()) == INVALID_FILE_ATTRIBUTES)
      std::fprintf(stderr, "kvmsi: %s: no such file\n  %s\n", argv[1], describe(e).c_str());
    else
      std::fprintf(stderr, "kvmsi: %s\n", describe(e).c_str());
    return 1;
  }
}
