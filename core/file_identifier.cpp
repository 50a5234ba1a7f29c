#include "core/file_identifier.h"

#include "core/error.h"

namespace Processor {

namespace {

ri_dir* reopen(i_dir* directory) {
  if (!directory) throwNullReference();
  return directory->open_dir(u".");
}

rio_dir* reopenWritable(rio_dir* directory) {
  if (!directory) throwNullReference();
  ri_dir* again = static_cast<i_dir*>(directory)->open_dir(u".");
  rio_dir* rio = dynamic_cast<rio_dir*>(again);
  if (again && !rio) delete again;
  return rio;
}

// A terminated copy of the name for the directory calls.
std::u16string text(const String& s) { return std::u16string(reinterpret_cast<const char16_t*>(s.getBuffer()), s.length()); }

}  // namespace

FileIdentifier::FileIdentifier(i_dir* directory, const String& name) : impl_(new FileIdentifierI(directory, name)) {}

FileIdentifier::FileIdentifier(rio_dir* directory, const String& name)
    : impl_(new FileIdentifierRIO(directory, name)) {}

FileIdentifier::FileIdentifier(const FileIdentifier& other) : impl_(other.impl_ ? other.impl_->clone() : nullptr) {}

FileIdentifier::~FileIdentifier() { delete impl_; }

i_dir* FileIdentifier::directory() { return impl_ ? impl_->directory() : nullptr; }
rio_dir* FileIdentifier::writableDirectory() { return impl_ ? impl_->writableDirectory() : nullptr; }
i_dir::iterator* FileIdentifier::entry() { return impl_ ? impl_->entry() : nullptr; }
String FileIdentifier::name() const { return impl_ ? impl_->name() : String(); }
ri_file* FileIdentifier::openForRead() { return impl_ ? impl_->openForRead() : nullptr; }
ro_file* FileIdentifier::openForWrite() { return impl_ ? impl_->openForWrite() : nullptr; }
ro_file* FileIdentifier::create() { return impl_ ? impl_->create() : nullptr; }

FileIdentifierI::FileIdentifierI(i_dir* directory, const String& name) : dir_(reopen(directory)), name_(name) {}

FileIdentifierI::FileIdentifierI(i_dir* reopened, const String& name, bool) : dir_(reopened), name_(name) {}

FileIdentifierI::~FileIdentifierI() { delete dir_; }

i_dir::iterator* FileIdentifierI::entry() {
  if (!dir_) return nullptr;
  i_dir::iterator* it = dir_->iterate(text(name_).c_str());
  if (it && it->Bad()) {
    delete it;
    return nullptr;
  }
  return it;
}

ri_file* FileIdentifierI::openForRead() { return dir_ ? dir_->open_file(text(name_).c_str(), false) : nullptr; }

FileIdentifier* FileIdentifierI::clone() const {
  return new FileIdentifierI(dir_ ? dir_->open_dir(u".") : nullptr, name_, true);
}

FileIdentifierRIO::FileIdentifierRIO(rio_dir* directory, const String& name)
    : FileIdentifierRIO(reopenWritable(directory), name, true) {}

FileIdentifierRIO::FileIdentifierRIO(rio_dir* reopened, const String& name, bool)
    : FileIdentifierI(reopened, name, true), rio_(reopened) {}

ro_file* FileIdentifierRIO::openForWrite() {
  return rio_ ? rio_->open_file_for_write(text(name_).c_str(), false) : nullptr;
}

ro_file* FileIdentifierRIO::create() { return rio_ ? rio_->create_file(text(name_).c_str(), false, nullptr) : nullptr; }

FileIdentifier* FileIdentifierRIO::clone() const {
  return new FileIdentifierRIO(rio_ ? reopenWritable(rio_) : nullptr, name_, true);
}

}  // namespace Processor
