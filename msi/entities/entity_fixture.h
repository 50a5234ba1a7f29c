// What the entity tests share: a small package with properties, a directory
// tree, a component and a file built with msibuild; readers of msiinfo's
// output; and the check that objects write back the rows they were read from.
#pragma once

#include <algorithm>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "msi/entities/com.h"
#include "msi/model/model_fixture.h"
#include "msi/model/package.h"

namespace entity_test {

// The objects an iterator hands out, in order.
template <class I>
std::vector<I*> all(std::unique_ptr<Msi::MsiIterator<I>> it) {
  std::vector<I*> out;
  for (it->reset(); it->valid(); it->next()) out.push_back(it->current());
  return out;
}

// The lines of a text that are not empty.
inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.push_back(line);
  return out;
}

// The rows of msiinfo export, its three heading lines left out, split at tabs.
inline std::vector<std::vector<std::string>> rows(const std::string& exported) {
  std::vector<std::vector<std::string>> out;
  std::istringstream in(exported);
  int n = 0;
  for (std::string line; std::getline(in, line);) {
    if (n++ < 3 || line.empty()) continue;
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    out.push_back(fields);
  }
  return out;
}

// Called on each object read from a package: the object is unmarked and writes
// back exactly the stored row it matches. `saveAll` then marks and saves every
// object checked, so a commit shows whatever a save would change.
class WriteBackCheck {
 public:
  explicit WriteBackCheck(Msi::MsiPackage& package) : package_(package) {}

  template <class T>
  void operator()(T* object) {
    ASSERT_NE(object, nullptr);
    EXPECT_FALSE(object->isModified()) << model_test::narrow(object->key());
    Msi::MsiTable& table = package_.database()->table(Msi::tableName<typename T::Description>());
    table.load();
    auto stored = std::find_if(table.begin(), table.end(), [&](Msi::MsiRow* r) { return object->matches(*r); });
    ASSERT_NE(stored, table.end()) << model_test::narrow(object->key());
    Msi::MsiRow written((*stored)->valueCount(), (*stored)->columns());
    written.values() = (*stored)->values();
    object->writeTo(written);
    EXPECT_EQ(written.values(), (*stored)->values()) << model_test::narrow(object->key());
    ++checked_;
    saves_.push_back([object] {
      object->markModified();
      object->save(0);
    });
  }

  // Every object of T's table, by the keys the package lists for it, each key once.
  template <class T>
  void everyRow() {
    std::list<std::u16string> keys;
    Msi::loadTableKeys<T>(&package_, keys);
    EXPECT_EQ(std::set<std::u16string>(keys.begin(), keys.end()).size(), keys.size());
    for (const std::u16string& k : keys) (*this)(package_.identityMap<T>().find(k));
  }

  void saveAll() {
    for (auto& save : saves_) save();
  }
  std::size_t checked() const { return checked_; }

 private:
  Msi::MsiPackage& package_;
  std::vector<std::function<void()>> saves_;
  std::size_t checked_ = 0;
};

inline std::string directoryIdt(const std::vector<std::string>& rows) {
  std::string text = "Directory\tDirectory_Parent\tDefaultDir\ns72\tS72\tl255\nDirectory\tDirectory\n";
  for (const std::string& r : rows) text += r + "\n";
  return text;
}

inline std::map<std::string, std::string> sampleTables() {
  return {
      {"Property", "Property\tValue\ns72\tl0\nProperty\tProperty\nA\t1\nB\t2\nR\tS\nS\thello\nL\t[B]\n"
                   "ProductName\tDemo\n"},
      {"Directory", directoryIdt({"TARGETDIR\t\tSourceDir", "ProgramFilesFolder\tTARGETDIR\t.",
                                  "APPDIR\tProgramFilesFolder\tMYAPP|My App:SRC", "BIN\tAPPDIR\tbin"})},
      {"Component",
       "Component\tComponentId\tDirectory_\tAttributes\tCondition\tKeyPath\ns72\tS38\ts72\ti2\tS255\tS72\n"
       "Component\tComponent\nC1\t{11111111-2222-3333-4444-555555555555}\tAPPDIR\t0\t\tF1\n"},
      {"File",
       "File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence\n"
       "s72\ts72\tl255\ti4\tS72\tS20\tI2\ti2\nFile\tFile\nF1\tC1\tREADME.TXT|readme.txt\t10\t\t\t\t1\n"},
  };
}

}  // namespace entity_test
