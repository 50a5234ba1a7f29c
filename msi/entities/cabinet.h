// One Media row and the cabinet it names: files are added before a commit,
// numbered at the commit, and the cabinet is built by makecab.exe from a
// directive file; an embedded cabinet then goes into the package's _Streams.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "msi/model/storable.h"
#include "msi/model/table_schemas.h"

namespace Msi {

class MsiFile;
class MsiPackage;

class MsiCab : public MsiStorable<MediaTableDescription, MsiCab> {
 public:
  using Interface = MsiCab;
  static constexpr std::uint32_t kModule = 0x67aa3a2f;
  static constexpr const char16_t* kDdfFileName = u"~_tmp_ddf_file_name.ddf";

  // For a Media row about to be read.
  explicit MsiCab(MsiPackage* package);
  // A new cabinet; its maker sets the DiskId, registers and marks it.
  MsiCab(MsiPackage* package, const std::u16string& cabinetName, const std::u16string& ddfFileName);

  // Msi::Error 92 for a file listed already; 96 for a cabinet read from the
  // package, whose rebuilt file would lose the files it holds.
  void addFile(MsiFile* file);
  // Forgets the cabinet through the package (the object is deleted).
  void remove();
  const std::u16string& diskId() const { return diskId_; }
  void setDiskId(const std::u16string& id) { diskId_ = id; }
  const std::u16string& cabinetName() const { return cabinetName_; }
  bool isExternal() const { return external_; }
  // Embedding a cabinet changes its row (the "#"): it is marked.
  void setExternal(bool external);
  bool isRead() const { return read_; }
  // Files added since the last build: only such a cabinet is numbered and built.
  bool hasNewFiles() const { return fileKeys_.size() != builtCount_; }
  std::int32_t lastSequence() const { return lastSequence_; }
  const std::list<std::u16string>& fileKeys() const { return fileKeys_; }
  // Numbers the listed files after `start`; the last number given. A cabinet
  // read from the package and given no files keeps its LastSequence.
  std::int32_t renumberFiles(std::int32_t start);

  // The directive file for a cabinet written as `cabinetFile` into `folder`.
  // Msi::Error 97 for a source path the directive syntax cannot carry.
  std::string ddfText(const std::u16string& cabinetFile, const std::u16string& folder);

  bool matches(const MsiRow& row) const override;
  void loadFrom(const MsiRow& row) override;
  void writeTo(MsiRow& row) const override;
  std::u16string key() const override { return diskId_; }
  // Builds the cabinet when it has files not yet built, then embeds it.
  void afterSave(int flags) override;

 private:
  std::list<MsiFile*> listedFiles();
  // Runs makecab.exe over the directive file; the cabinet's path in the folder.
  std::u16string build(const std::u16string& folder);
  void embed(const std::u16string& cabinetPath);

  MsiPackage* package_;
  std::u16string diskId_;
  std::u16string cabinetName_;
  std::u16string ddfFileName_;
  // DiskPrompt, VolumeLabel and Source, carried through a rewrite.
  std::u16string diskPrompt_, volumeLabel_, source_;
  std::int32_t lastSequence_ = 0;
  std::list<std::u16string> fileKeys_;
  bool external_ = true;
  bool read_ = false;
  // The cabinet file beside the package is one this object wrote.
  bool ownsFile_ = false;
  // How many listed files the last build held; a commit without new files builds nothing.
  std::size_t builtCount_ = 0;
  bool embedPending_ = false;
};

}  // namespace Msi
