// A file named by a directory object and a name relative to it. The handle
// owns an implementation: a read-only one (FileIdentifierI) that can only read,
// or a read/write one (FileIdentifierRIO) that can also open for writing and
// create. An identifier keeps its own directory object open and never holds a
// file: every open, create and entry call returns a new object the caller
// deletes, or null with the reason in the directory's sticky error.
#pragma once

#include "core/string.h"
#include "files/file_object.h"

namespace Processor {

class FileIdentifier {
 public:
  // The directory is reopened with "." so that the identifier does not depend
  // on the caller's object; a null directory throws the null-reference error.
  FileIdentifier(i_dir* directory, const String& name);
  FileIdentifier(rio_dir* directory, const String& name);
  FileIdentifier(const FileIdentifier& other);
  FileIdentifier& operator=(const FileIdentifier&) = delete;
  virtual ~FileIdentifier();

  // Still owned by the identifier.
  virtual i_dir* directory();
  // Null for a read-only identifier.
  virtual rio_dir* writableDirectory();
  // Positioned on the named entry; null when there is none.
  virtual i_dir::iterator* entry();
  virtual String name() const;
  virtual ri_file* openForRead();
  // Null for a read-only identifier.
  virtual ro_file* openForWrite();
  // Creates the file or truncates it; null for a read-only identifier.
  virtual ro_file* create();

 protected:
  FileIdentifier() = default;
  // A new implementation of the same class; null for a handle.
  virtual FileIdentifier* clone() const { return nullptr; }

 private:
  FileIdentifier* impl_ = nullptr;
};

class FileIdentifierI : public FileIdentifier {
 public:
  FileIdentifierI(i_dir* directory, const String& name);
  ~FileIdentifierI() override;

  i_dir* directory() override { return dir_; }
  rio_dir* writableDirectory() override { return nullptr; }
  i_dir::iterator* entry() override;
  String name() const override { return name_; }
  ri_file* openForRead() override;
  ro_file* openForWrite() override { return nullptr; }
  ro_file* create() override { return nullptr; }
  FileIdentifier* clone() const override;

 protected:
  FileIdentifierI(i_dir* reopened, const String& name, bool);
  i_dir* dir_ = nullptr;
  String name_;
};

class FileIdentifierRIO : public FileIdentifierI {
 public:
  FileIdentifierRIO(rio_dir* directory, const String& name);

  rio_dir* writableDirectory() override { return rio_; }
  ro_file* openForWrite() override;
  ro_file* create() override;
  FileIdentifier* clone() const override;

 private:
  FileIdentifierRIO(rio_dir* reopened, const String& name, bool);
  rio_dir* rio_ = nullptr;
};

}  // namespace Processor
