// A small package with properties, a directory tree, a component and a file,
// built with msibuild for the entity tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "msi/model/model_fixture.h"

namespace entity_test {

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
