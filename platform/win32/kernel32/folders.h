// Per-process listings of folders, for looking names up ignoring case without
// reading the folder each time.
//
// A listing is trusted while the folder's identity and change times are those
// it was read at, and while no change can hide behind an equal time stamp:
// on file systems that give a change after a stat a later stamp, at once; on
// others, only once the stamps are older than the clock's granularity. The
// layer's own creates, renames and deletes keep a trusted listing current.
// Every name is kept, so a listing can also serve enumeration.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

namespace win32 {

// The entry of `dir` whose name equals `name` ignoring case: `exact` (its
// UTF-8 form) when present, else the smallest byte-wise among several;
// `dir_st` is a stat of `dir` made just before.
bool folder_find(const std::string& dir, const struct stat& dir_st, std::u16string_view name,
                 const std::string& exact, std::string& found);

// One change of the layer to a folder: made before the change (with a stat of
// the folder made just now, if the caller has one), told the names added and
// removed after it.
class FolderChange {
 public:
  explicit FolderChange(std::string dir, const struct stat* dir_st = nullptr);
  void done(const std::string& added, const std::string& removed = {});
  // Many names added by one writer (an extractor) between the two.
  void done(const std::vector<std::string>& added);

 private:
  void done_names(const std::string* added, std::size_t count, const std::string& removed);
  std::string dir_;
  bool tracked_ = false;
  struct stat before_ {};
};

// Drops what is known of a folder (when it is removed).
void folder_forget(const std::string& dir);

// Makes the listings treat every file system as one with coarse time stamps
// (true) or look again (false): for tests.
void folder_listings_assume_coarse_stamps(bool coarse);

// The folder part and the last name of a Unix path.
std::string parent_folder(const std::string& path);
std::string last_name(const std::string& path);

}  // namespace win32
