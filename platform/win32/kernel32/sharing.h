// Sharing records: the share modes and byte-range locks of open files, held
// between the handles of this process and between processes of one world.
//
// A process keeps one record per file identity (device, inode) for as long as
// it has handles on it, and a few more while idle. Handles of this process are
// counted in the record; other processes learn of them through a lock table
// in the world's runtime folder (run/locks/share-NN): a small shared index of
// identities whose slots each own a span of the table file's lock space. A
// process's open-file-description locks in a slot's span stand for its
// presence, the union of its handles' byte ranges, and the share modes of
// the handles that claimed the slot or cannot lock the file; every other
// handle keeps its share mode as read locks on its own description of the
// file, far above any byte a program locks, which its close drops. The tables are made once per
// world and kept, so opening a file creates no inode. A slot's span holds
// ranges up to 2^50 bytes; ranges beyond are clamped to its end. A lock that
// waits for another process tries again now and then.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <memory>
#include <string>

#include "platform/win32/layer/types.h"

namespace win32 {

class ShareRecord;

// The handle's own descriptor, as sharing may use it: `lock` when it can take
// read locks (opened for reading), `probe` when it can test locks (any but
// O_PATH); else -1.
struct ShareFd {
  int lock = -1;
  int probe = -1;
};

// Registers a handle with its access and share mode. ERROR_SUCCESS with `out`
// set (null when the access takes no part in sharing), else
// ERROR_SHARING_VIOLATION or ERROR_SHARING_BUFFER_EXCEEDED. `on_fd` says
// that the handle's share mode is kept on its own description: closing the
// descriptor drops it.
DWORD share_open(dev_t dev, ino_t ino, DWORD access, DWORD share, const ShareFd& fd,
                 std::shared_ptr<ShareRecord>& out, bool& on_fd);
// Drops the handle's share mode and every lock it still holds.
void share_close(const std::shared_ptr<ShareRecord>& record, DWORD access, DWORD share, const void* owner,
                 bool on_fd);

// Would a read (or write) of [offset, offset+count) by `owner` meet another
// handle's lock (or, for writes, a shared lock of its own)? Costs no system
// call while no lock exists on the file anywhere.
bool share_io_blocked(ShareRecord& record, const void* owner, ULONGLONG offset, ULONGLONG count, bool write);
// Win32 byte-range locks: ERROR_SUCCESS, ERROR_LOCK_VIOLATION, ERROR_NOT_LOCKED.
DWORD share_lock(ShareRecord& record, const void* owner, ULONGLONG offset, ULONGLONG length, bool exclusive,
                 bool wait);
DWORD share_unlock(ShareRecord& record, const void* owner, ULONGLONG offset, ULONGLONG length);

// ERROR_SHARING_VIOLATION when a handle of the layer holds the file without
// FILE_SHARE_DELETE, else ERROR_SUCCESS. `unix_path` names the entry `st`
// describes.
DWORD delete_sharing_error(const struct stat& st, const std::string& unix_path);

}  // namespace win32

namespace win32 {
// How many slots of the current world's lock tables count a user: for tests.
std::size_t sharing_slots_in_use();
// Takes the guard of every lock table of the current world and keeps it: for
// tests of a process that dies holding them.
void sharing_hold_guards_for_tests();
}  // namespace win32
