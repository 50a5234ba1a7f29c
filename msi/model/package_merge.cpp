// Merging a merge module into the package through the merge object, which
// works on the files: the package is committed and closed meanwhile.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "msi/entities/directory.h"
#include "msi/entities/tree.h"
#include "msi/model/command.h"
#include "msi/model/error.h"
#include "msi/model/merge.h"
#include "msi/model/package.h"
#include "msi/model/text.h"
#include "platform/win32/windows.h"

namespace Msi {

namespace {

std::string utf8(const std::u16string& text) { return win32::utf16_to_utf8(text); }

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fflush(stdout);
}

// The module's copy, deleted on every road out.
struct TemporaryCopy {
  std::u16string path;
  ~TemporaryCopy() {
    if (!path.empty()) DeleteFileW(path.c_str());
  }
};

bool hasRows(MsiDatabaseInterface& database, const std::u16string& text) {
  MsiRecordset found;
  MsiCommand query(&database);
  query.setText(text);
  query.run(&found);
  return found.rowCount() != 0;
}

// The language the merge object checks the module against: the package's
// own once set, else the first one its summary names.
std::uint16_t languageOf(std::uint16_t set, const std::u16string& templateText) {
  if (set != 0xFFFF) return set;
  std::size_t at = templateText.find(u';');
  std::uint32_t n = 0;
  bool digits = false;
  for (std::size_t i = at == std::u16string::npos ? templateText.size() : at + 1; i < templateText.size(); ++i) {
    char16_t c = templateText[i];
    if (c < u'0' || c > u'9') break;
    n = n * 10 + (c - u'0');
    digits = true;
    if (n > 0xFFFF) return 0;
  }
  return digits ? static_cast<std::uint16_t>(n) : 0;
}

}  // namespace

bool MsiPackage::mergeModule(MsiFeature* feature, const std::u16string& modulePath, const std::u16string* into) {
  if (!feature) return false;
  // The tree is read from the file before the merge object changes it.
  needTree();
  WCHAR folder[260] = {0};
  if (GetTempPathW(260, folder) == 0) {
    say("MSI Merge Module error: Unable to GetTempPath. ErrorCode = %u", static_cast<unsigned>(GetLastError()));
    return false;
  }
  WCHAR name[260] = {0};
  if (GetTempFileNameW(folder, u"tmp", 0, name) == 0) {
    say("MSI Merge Module error: Unable to GetTempFileName. ErrorCode = %u", static_cast<unsigned>(GetLastError()));
    return false;
  }
  TemporaryCopy copy{name};
  if (!CopyFileW(modulePath.c_str(), copy.path.c_str(), FALSE)) {
    say("MSI Merge Module error: %u, unable to create temporary copy of the file '%s'.",
        static_cast<unsigned>(GetLastError()), utf8(modulePath).c_str());
    return false;
  }

  bool merged = true;
  std::vector<std::u16string> moduleComponents;
  {
    MsiDatabaseInterface module;
    module.open(copy.path, false);
    // Closed on every road: the merge object opens the copy next.
    struct Closer {
      MsiDatabaseInterface& database;
      ~Closer() {
        try {
          database.close();
        } catch (const Error&) {
        }
      }
    } closer{module};
    try {
      bool signature = hasRows(module, u"Select * From `_Tables` Where `Name` = 'ModuleSignature'");
      if (signature && !hasRows(module, u"Select * From `ModuleSignature`")) {
        say("MSI Merge Module error: ModuleSignature table is empty in %s\n", utf8(modulePath).c_str());
        merged = false;
      } else {
        if (!signature)
          say("MSI Merge Module error: ModuleSignature table not found in %s\n", utf8(modulePath).c_str());
        if (!hasRows(module, u"Select * From `_Tables` Where `Name` = 'Component'")) {
          say("MSI Merge Module warning: Component table not found - force create.\n");
          MsiCommand create(&module);
          create.setText(
              u"CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` "
              u"CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) "
              u"NOT NULL PRIMARY KEY `Component`)");
          create.run(nullptr);
          // The merge object reads the copy's file: the table must be in it.
          module.commit();
        }
        MsiRecordset components;
        MsiCommand select(&module);
        select.setText(u"Select `Component` From `Component`");
        select.run(&components);
        for (MsiRow* row : components) moduleComponents.push_back(row->fieldAt(0));
      }
    } catch (const Error&) {
      merged = false;
    }
  }

  // The merge object opens the package's file itself.
  commit();
  database_.close();
  state_ = Closed;

  std::u16string featureKey = feature->key();
  if (merged) {
    std::u16string directory = into ? *into : feature->directoryKey();
    if (directory.empty()) directory = MsiDirectory::kRootKey;
    MergeManager manager;
    std::uint16_t language = languageOf(language_, summary_.templateText());
    merged = manager.openDatabase(path_) && manager.openModule(copy.path, language) &&
             manager.merge(featureKey, directory);
    if (!merged) {
      MergeErrorList errors = manager.errors();
      std::u16string text;
      for (std::int32_t i = 0; i < errors.count(); ++i) text += errors.at(i).describe();
      say("MSI Merge Module error:%s\n", utf8(text).c_str());
    }
    manager.closeModule();
    // A failed merge has changed nothing; keeping it is the object's rule.
    if (!manager.closeDatabase()) merged = false;
  }

  database_.open(path_, false);
  state_ = Committed;
  // What the merge object wrote is in the file now: objects cached before it
  // are not written again unless changed anew, and its rows become objects.
  database_.clearModified();
  reload();
  if (merged) {
    // The links, only after the module's components are in the package.
    bool added = false;
    for (const std::u16string& component : moduleComponents) {
      MsiRecordset found;
      MsiCommand select(&database_);
      select.setText(u"Select `Feature_` From `FeatureComponents` Where `Feature_` = ? And `Component_` = ?");
      select.bind(featureKey);
      select.bind(component);
      select.run(&found);
      if (found.rowCount() == 0) {
        MsiCommand insert(&database_);
        insert.setText(u"Insert into `FeatureComponents` (`Feature_`, `Component_`) Values (?, ?)");
        insert.bind(featureKey);
        insert.bind(component);
        insert.run(nullptr);
        added = true;
      }
      MsiFeature* held = find<MsiFeature>(featureKey);
      MsiComponent* c = find<MsiComponent>(component);
      if (held && c) {
        held->addComponent(component);
        c->addFeature(featureKey);
      }
    }
    if (added) database_.commit();
  }
  return merged;
}

}  // namespace Msi
