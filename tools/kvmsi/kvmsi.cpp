// kvmsi: a look into an installer package through the object model.
//   kvmsi PACKAGE                 summary and every property
//   kvmsi PACKAGE get NAME        one property's value (exit 1 when missing)
//   kvmsi PACKAGE set NAME VALUE  sets (or adds) a property and commits
//   kvmsi PACKAGE summary         the summary fields alone
//   kvmsi PACKAGE tree            features, their components and files, with target folders
//   kvmsi PACKAGE files           every file's key and target path
//   kvmsi PACKAGE tables          the package's tables, as msiinfo tables lists them
//   kvmsi PACKAGE export TABLE    one table as msiinfo export writes it
//   kvmsi PACKAGE registry        every registry value: root, expanded key, name, type, value
//   kvmsi PACKAGE com             COM classes with their ProgIds, extensions, verbs and MIME types,
//                                 then type libraries and AppIds; each row as msiinfo export writes it
//   kvmsi PACKAGE dialog NAME     a dialog and its controls in tab order, with radio buttons and combo values
//   kvmsi add PACKAGE FEATURE FOLDER   authors a folder's files under a feature
//                                      into one embedded cabinet, then commits
//   kvmsi merge PACKAGE MODULE FEATURE DIRECTORY   merges a merge module
// PACKAGE is a Windows path or a Unix path (seen through drive Z:).
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "core/text_convert.h"
#include "msi/entities/cabinet.h"
#include "msi/entities/com.h"
#include "msi/entities/dialog.h"
#include "msi/entities/directory.h"
#include "msi/entities/property.h"
#include "msi/entities/registry.h"
#include "msi/entities/tree.h"
#include "msi/model/command.h"
#include "msi/model/database.h"
#include "msi/model/error.h"
#include "msi/model/handle.h"
#include "msi/model/text.h"
#include "msi/model/package.h"
#include "platform/win32/windows.h"

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

// A summary field of the package's stream that the model does not keep.
struct SummaryField {
  UINT type = 0;
  INT number = 0;
  FILETIME time{};
  std::u16string text;
};

SummaryField summaryField(Msi::MsiPackage& package, UINT id) {
  SummaryField f;
  Msi::HandleGuard info;
  if (MsiGetSummaryInformationW(package.database()->handle(), nullptr, 0, info.out()) != ERROR_SUCCESS) return f;
  DWORD size = 0;
  WCHAR none[1] = {0};
  UINT r = MsiSummaryInfoGetPropertyW(info.get(), id, &f.type, &f.number, &f.time, none, &size);
  if (r == ERROR_MORE_DATA) {
    std::vector<WCHAR> text(size + 1);
    DWORD room = size + 1;
    if (MsiSummaryInfoGetPropertyW(info.get(), id, &f.type, &f.number, &f.time, text.data(), &room) == ERROR_SUCCESS)
      f.text.assign(text.data(), room);
  } else if (r != ERROR_SUCCESS) {
    f.type = VT_EMPTY;
  }
  return f;
}

// As msiinfo writes a time: local time, asctime's form.
std::string timeText(const FILETIME& t) {
  std::uint64_t ticks = (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  std::time_t seconds = static_cast<std::time_t>(ticks / 10000000 - 11644473600ull);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[64];
  std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y", &local);
  return text;
}

// Every field msiinfo suminfo shows, in its order and words, then the code page.
void printSummary(Msi::MsiPackage& package) {
  Msi::IMsiSummary* s = package.summary();
  Msi::IMsiSummaryEx* x = package.summaryEx();
  auto text = [&](const char* label, UINT id) {
    SummaryField f = summaryField(package, id);
    if (f.type == VT_LPSTR) std::printf("%s: %s\n", label, utf8(f.text).c_str());
  };
  auto number = [&](const char* label, UINT id) {
    SummaryField f = summaryField(package, id);
    if (f.type == VT_I2 || f.type == VT_I4) std::printf("%s: %d (%x)\n", label, f.number, f.number);
  };
  auto time = [&](const char* label, UINT id) {
    SummaryField f = summaryField(package, id);
    if (f.type == VT_FILETIME) std::printf("%s: %s\n", label, timeText(f.time).c_str());
  };
  text("Title", PID_TITLE);
  std::printf("Subject: %s\n", utf8(s->subject()).c_str());
  std::printf("Author: %s\n", utf8(s->author()).c_str());
  text("Keywords", PID_KEYWORDS);
  text("Comments", PID_COMMENTS);
  std::printf("Template: %s\n", utf8(x->templateText()).c_str());
  text("Last author", PID_LASTAUTHOR);
  std::printf("Revision number (UUID): %s\n", utf8(s->revisionNumber()).c_str());
  time("Last printed", PID_LASTPRINTED);
  time("Created", PID_CREATE_DTM);
  time("Last saved", PID_LASTSAVE_DTM);
  std::printf("Version: %d (%x)\n", x->pageCount(), x->pageCount());
  std::printf("Source: %d (%x)\n", x->wordCount(), x->wordCount());
  number("Restrict", PID_CHARCOUNT);
  text("Application", PID_APPNAME);
  number("Security", PID_SECURITY);
  number("Code page", PID_CODEPAGE);
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

// The tables the file holds, in the order of its _Tables. Read before the
// package object opens the file: the package adds the tables it works with
// (Property) to its open database when they are missing, and those are no
// part of the file.
std::vector<std::u16string> storedTables(const std::u16string& path) {
  Msi::MsiDatabaseInterface database;
  database.open(path, true);
  Msi::MsiRecordset names;
  Msi::MsiCommand query(&database);
  query.setText(u"SELECT `Name` FROM `_Tables`");
  query.run(&names);
  std::vector<std::u16string> out;
  for (Msi::MsiRow* row : names) out.push_back(row->fieldAt(0));
  return out;
}

// The tables in the order msiinfo tables gives: the two stream-backed ones, then the stored ones.
void printTables(const std::vector<std::u16string>& stored) {
  std::printf("_SummaryInformation\n_ForceCodepage\n");
  for (const std::u16string& name : stored) std::printf("%s\n", utf8(name).c_str());
}

std::u16string typeText(const Msi::MsiColumn& c) {
  std::u16string t;
  switch (c.type()) {
    case Msi::MsiColumn::Short: t = u"i2"; break;
    case Msi::MsiColumn::Long: t = u"i4"; break;
    case Msi::MsiColumn::Object: t = u"v0"; break;
    default: t = (c.isLocalizable() ? u"l" : u"s") + Msi::toString(c.size()); break;
  }
  if (c.isNullable()) t[0] = static_cast<char16_t>(t[0] - u'a' + u'A');
  return t;
}

// msiinfo export's text: names, types, the table with its keys, then the rows,
// each line ending in CR LF; a stream field is named "Table.key".
bool exportTable(Msi::MsiPackage& package, const std::vector<std::u16string>& stored, const std::u16string& table) {
  if (std::find(stored.begin(), stored.end(), table) == stored.end()) return false;
  Msi::MsiRecordset rows;
  Msi::MsiCommand query(package.database());
  query.setText(u"SELECT * FROM `" + table + u"`");
  query.run(&rows);
  Msi::HandleGuard keys;
  if (MsiDatabaseGetPrimaryKeysW(package.database()->handle(), table.c_str(), keys.out()) != ERROR_SUCCESS)
    return false;
  std::u16string names, types, keyLine = table;
  for (const Msi::MsiColumn* c : query.columns()) {
    names += (names.empty() ? u"" : u"\t") + c->name();
    types += (types.empty() ? u"" : u"\t") + typeText(*c);
  }
  std::vector<std::size_t> keyPositions;
  UINT keyCount = MsiRecordGetFieldCount(keys.get());
  for (UINT k = 1; k <= keyCount && keyCount != static_cast<UINT>(-1); ++k) {
    WCHAR name[256] = {0};
    DWORD room = 256;
    if (MsiRecordGetStringW(keys.get(), k, name, &room) != ERROR_SUCCESS) return false;
    keyLine += u"\t" + std::u16string(name, room);
    std::size_t i = 0;
    for (const Msi::MsiColumn* c : query.columns()) {
      if (c->name() == std::u16string(name, room)) keyPositions.push_back(i);
      ++i;
    }
  }
  std::string out = utf8(names) + "\r\n" + utf8(types) + "\r\n" + utf8(keyLine) + "\r\n";
  for (Msi::MsiRow* row : rows) {
    std::u16string line;
    std::size_t i = 0;
    for (const Msi::MsiColumn* c : query.columns()) {
      if (i) line += u"\t";
      if (c->type() == Msi::MsiColumn::Object) {
        line += table;
        for (std::size_t p : keyPositions) line += u"." + row->fieldAt(p);
      } else {
        line += row->fieldAt(i);
      }
      ++i;
    }
    out += utf8(line) + "\r\n";
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return true;
}

const char* rootName(std::int32_t root) {
  static const char* const names[] = {"HKCR", "HKCU", "HKLM", "HKU", "HKMU"};
  return root >= 0 && root <= 4 ? names[root] : "HKMU";
}

const char* valueTypeName(std::int32_t type) {
  switch (type) {
    case 1: return "integer";
    case 3: return "multi-string";
    case 4: return "binary";
    default: return "string";
  }
}

// Every Registry row, expanded against the package's properties.
void printRegistry(Msi::MsiPackage& package) {
  if (!package.hasTable(u"Registry")) return;
  Msi::MsiRecordset keys;
  Msi::MsiCommand query(package.database());
  query.setText(u"SELECT `Registry` FROM `Registry`");
  query.run(&keys);
  for (Msi::MsiRow* row : keys) {
    Msi::MsiRegistry* r = package.find<Msi::MsiRegistry>(row->fieldAt(0));
    if (!r) continue;
    std::printf("%s\t%s\t%s\t%s\t%s\t%s\n", utf8(r->key()).c_str(), rootName(r->root()), utf8(r->keyPath()).c_str(),
                utf8(r->name()).c_str(), valueTypeName(r->valueType()), utf8(r->value()).c_str());
  }
}

// A row as the object writes it, tab-separated, after its kind and indentation.
template <class T>
void printRow(Msi::MsiPackage& package, int depth, const char* kind, T& object) {
  Msi::MsiTable& table = package.database()->table(Msi::tableName<typename T::Description>());
  Msi::MsiRow row(table.columns().count(), &table.columns());
  object.writeTo(row);
  std::u16string line;
  for (const std::u16string& v : row.values()) line += u"\t" + v;
  std::printf("%s%s%s\n", std::string(2 * depth, ' ').c_str(), kind, utf8(line).c_str());
}

template <class T>
std::vector<T*> collect(std::unique_ptr<Msi::MsiIterator<T>> it) {
  std::vector<T*> out;
  for (it->reset(); it->valid(); it->next())
    if (T* object = it->current()) out.push_back(object);
  return out;
}

struct ComPrinter {
  Msi::MsiPackage& package;
  std::set<const void*> printed;

  void extension(Msi::MsiExtension& e, int depth) {
    printed.insert(&e);
    printRow(package, depth, "extension", e);
    for (Msi::MsiVerb* v : collect(e.verbs())) printRow(package, depth + 1, "verb", *v);
    for (Msi::MsiMIME* m : collect(e.mimeTypes())) printRow(package, depth + 1, "mime", *m);
  }
  // A ProgId, its extensions, then its children; one whose parents loop is shown once.
  void progId(Msi::MsiProgId& p, int depth) {
    if (!printed.insert(&p).second) return;
    printRow(package, depth, "progid", p);
    for (Msi::MsiExtension* e : collect(p.extensions())) extension(*e, depth + 1);
    for (Msi::MsiProgId* child : collect(p.children())) progId(*child, depth + 1);
  }
  template <class T>
  std::vector<T*> rows() {
    std::list<std::u16string> keys;
    Msi::loadTableKeys<T>(&package, keys);
    std::vector<T*> out;
    for (const std::u16string& k : keys)
      if (T* object = package.identityMap<T>().find(k)) out.push_back(object);
    return out;
  }
  void print() {
    for (Msi::MsiClass* c : rows<Msi::MsiClass>()) {
      printRow(package, 0, "class", *c);
      for (Msi::MsiProgId* p : collect(c->progIds())) progId(*p, 1);
    }
    // What no class reaches.
    for (Msi::MsiProgId* p : rows<Msi::MsiProgId>()) progId(*p, 0);
    for (Msi::MsiExtension* e : rows<Msi::MsiExtension>())
      if (!printed.count(e)) extension(*e, 0);
    for (Msi::MsiTypeLib* t : rows<Msi::MsiTypeLib>()) printRow(package, 0, "typelib", *t);
    for (Msi::MsiAppId* a : rows<Msi::MsiAppId>()) printRow(package, 0, "appid", *a);
  }
};

// False when the package has no such dialog.
bool printDialog(Msi::MsiPackage& package, const std::u16string& name) {
  Msi::MsiDialog* dialog = package.find<Msi::MsiDialog>(name);
  if (!dialog) return false;
  printRow(package, 0, "dialog", *dialog);
  for (Msi::MsiControl* c : collect(dialog->controls(Msi::MsiControl::kAllKinds))) {
    printRow(package, 1, "control", *c);
    if (auto* group = dynamic_cast<Msi::MsiRadioGroup*>(c))
      for (group->reset(); group->valid(); group->next())
        if (Msi::MsiRadioButton* b = group->current()) printRow(package, 2, "button", *b);
    if (auto* combo = dynamic_cast<Msi::MsiComboBox*>(c))
      for (combo->reset(); combo->valid(); combo->next())
        if (Msi::MsiComboBoxValue* v = combo->current()) printRow(package, 2, "value", *v);
  }
  return true;
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

// A new braced component code.
std::u16string newComponentId() {
  UUID g{};
  if (UuidCreate(&g) != 0) throw Msi::Error(MSI_LOCATION, 0x6b766d73, 110);
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(g.Data1),
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
  return std::u16string(text, text + 38);
}

struct FolderEntry {
  std::u16string name;
  bool folder;
};

// The folder's entries by name, so that a package comes out the same each time.
std::vector<FolderEntry> entries(const std::u16string& folder) {
  std::vector<FolderEntry> out;
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((folder + u"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return out;
  do {
    std::u16string name(found.cFileName);
    if (name == u"." || name == u"..") continue;
    out.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(out.begin(), out.end(), [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return out;
}

// The first language the summary's template names ("Intel;1033"), or empty.
std::u16string templateLanguage(Msi::MsiPackage& package) {
  const std::u16string& text = package.summaryEx()->templateText();
  std::size_t semicolon = text.find(u';');
  std::u16string digits;
  for (std::size_t i = semicolon == std::u16string::npos ? text.size() : semicolon + 1; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') break;
    digits.push_back(text[i]);
  }
  return digits;
}

// One file component per file, in a directory per folder below `directory`.
void authorFolder(Msi::MsiPackage& package, Msi::MsiFeature& feature, Msi::MsiDirectory& directory,
                  const std::u16string& folder, Msi::MsiCab& cab, int& count) {
  for (const FolderEntry& e : entries(folder)) {
    std::u16string path = folder + u"\\" + e.name;
    if (e.folder) {
      auto* sub = static_cast<Msi::MsiDirectory*>(directory.createSubdirectory());
      sub->setDefaultDir(e.name);
      authorFolder(package, feature, *sub, path, cab, count);
      continue;
    }
    std::unique_ptr<Msi::MsiFile> made(Msi::MsiFile::create(&package));
    Msi::MsiFile* file = made.get();
    if (!package.add(file)) throw Msi::Error(MSI_LOCATION, Msi::MsiFile::kModule, 110);
    made.release();
    Msi::MsiComponent* component = Msi::MsiComponent::createFile(&package, newComponentId(), file, directory.key());
    component->addFeature(feature.key());
    feature.addComponent(component->key());
    component->markModified();
    file->setFileName(e.name);
    file->setSourceFile(path);
    // The package's language, not the model's "none set" (65535).
    if (package.language() == 0xFFFF) file->setLanguage(templateLanguage(package));
    cab.addFile(file);
    ++count;
  }
}

int addFolder(Msi::MsiPackage& package, const std::u16string& featureKey, const std::u16string& folder) {
  DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    std::fprintf(stderr, "kvmsi: %s: no such folder\n", utf8(folder).c_str());
    return 1;
  }
  package.ensureSystemFolders();
  auto* programs = package.find<Msi::MsiDirectory>(u"ProgramFilesFolder");
  std::u16string base = folder.substr(folder.find_last_of(u"\\/") + 1);
  auto* top = static_cast<Msi::MsiDirectory*>(programs->createSubdirectory());
  top->setDefaultDir(base.empty() ? featureKey : base);
  Msi::MsiFeature* feature = package.findFeature(featureKey);
  if (!feature) feature = package.addFeature(featureKey, featureKey, top);
  // A cabinet name the package does not use yet.
  std::u16string name;
  for (int n = 1;; ++n) {
    name = u"kvmsi" + Msi::toString(n) + u".cab";
    bool used = false;
    for (const std::u16string& key : package.cabinetKeys().keys())
      if (Msi::MsiCab* c = package.find<Msi::MsiCab>(key); c && c->cabinetName() == name) used = true;
    if (!used) break;
  }
  Msi::MsiCab* cab = package.addCabinet(name);
  int count = 0;
  authorFolder(package, *feature, *top, folder, *cab, count);
  package.embedCabinet(cab);
  package.commit();
  std::printf("%d files into %s (disk %s)\n", count, utf8(name).c_str(), utf8(cab->diskId()).c_str());
  return 0;
}

int mergeModule(Msi::MsiPackage& package, const std::u16string& module, const std::u16string& featureKey,
                const std::u16string& directoryKey) {
  if (GetFileAttributesW(module.c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::fprintf(stderr, "kvmsi: %s: no such module\n", utf8(module).c_str());
    return 1;
  }
  auto* directory = package.find<Msi::MsiDirectory>(directoryKey);
  if (!directory) {
    std::fprintf(stderr, "kvmsi: %s: no such directory in the package\n", utf8(directoryKey).c_str());
    return 1;
  }
  Msi::MsiFeature* feature = package.findFeature(featureKey);
  if (!feature) feature = package.addFeature(featureKey, featureKey, directory);
  if (!package.mergeModule(feature, module, &directoryKey)) {
    std::fprintf(stderr, "kvmsi: %s was not merged\n", utf8(module).c_str());
    return 1;
  }
  std::printf("merged %s under %s in %s\n", utf8(module).c_str(), utf8(featureKey).c_str(),
              utf8(directoryKey).c_str());
  return 0;
}

int usage() {
  std::fputs(
      "usage: kvmsi PACKAGE                 summary and every property\n"
      "       kvmsi PACKAGE get NAME        one property's value\n"
      "       kvmsi PACKAGE set NAME VALUE  set or add a property, then commit\n"
      "       kvmsi PACKAGE summary         the summary alone\n"
      "       kvmsi PACKAGE tree            features, components and files\n"
      "       kvmsi PACKAGE files           every file's target path\n"
      "       kvmsi PACKAGE tables          the package's tables\n"
      "       kvmsi PACKAGE export TABLE    one table as msiinfo export writes it\n"
      "       kvmsi PACKAGE registry        every registry value, expanded\n"
      "       kvmsi PACKAGE com             COM classes, ProgIds, extensions, type libraries, AppIds\n"
      "       kvmsi PACKAGE dialog NAME     a dialog's controls in tab order\n"
      "       kvmsi add PACKAGE FEATURE FOLDER  author a folder into one embedded cabinet\n"
      "       kvmsi merge PACKAGE MODULE FEATURE DIRECTORY  merge a merge module\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  if (std::string(argv[1]) == "merge") {
    if (argc != 6) return usage();
    try {
      auto package = Msi::MsiPackage::open(packagePath(argv[2]), false);
      return mergeModule(*package, packagePath(argv[3]), wide(argv[4]), wide(argv[5]));
    } catch (const Common::Error& e) {
      std::fprintf(stderr, "kvmsi: %s\n", describe(e).c_str());
      return 1;
    }
  }
  if (std::string(argv[1]) == "add") {
    if (argc != 5) return usage();
    try {
      auto package = Msi::MsiPackage::open(packagePath(argv[2]), false);
      return addFolder(*package, wide(argv[3]), packagePath(argv[4]));
    } catch (const Common::Error& e) {
      std::fprintf(stderr, "kvmsi: %s\n", describe(e).c_str());
      return 1;
    }
  }
  std::string command = argc > 2 ? argv[2] : "";
  bool view = command == "summary" || command == "tree" || command == "files" || command == "tables" ||
              command == "registry" || command == "com";
  if (!(argc == 2 || (view && argc == 3) || ((command == "get" || command == "export" || command == "dialog") && argc == 4) ||
        (command == "set" && argc == 5)))
    return usage();
  try {
    bool readOnly = command != "set";
    std::vector<std::u16string> stored;
    if (command == "tables" || command == "export") stored = storedTables(packagePath(argv[1]));
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
    } else if (command == "tables") {
      printTables(stored);
    } else if (command == "registry") {
      printRegistry(*package);
    } else if (command == "com") {
      ComPrinter{*package, {}}.print();
    } else if (command == "dialog") {
      if (!printDialog(*package, wide(argv[3]))) {
        std::fprintf(stderr, "kvmsi: %s: no such dialog\n", argv[3]);
        return 1;
      }
    } else if (command == "export") {
      if (!exportTable(*package, stored, wide(argv[3]))) {
        std::fprintf(stderr, "kvmsi: %s: no such table\n", argv[3]);
        return 1;
      }
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
