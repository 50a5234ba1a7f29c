// Sharing records: the share modes and byte-range locks of open files, held
// between the handles of this process and between processes of one world.
//
// A process keeps one record per file identity (device, inode) for as long as
// it has handles on it, and a few more while idle. Handles of this process are
// counted in the record; other processes learn of them through a lock table
// in the world's runtime folder (run/locks/table-NN): a small shared index of
// identities whose slots each own a span of the table file's lock space. A
// process's open-file-description locks in a slot's span stand for the union
// of its handles' share modes and byte ranges. The tables are made once per
// world and kept, so opening a file creates no inode. A slot's span holds
// ranges up to 2^50 bytes; ranges beyond are clamped to its end. A lock that
// waits for another process tries again now and then.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <memory>

#include "platform/win32/types.h"

namespace win32 {

class ShareRecord;

// Registers a handle (`owner`, the file object) with its access and share
// mode. ERROR_SUCCESS with `out` set (null when the access takes no part in
// sharing), else ERROR_SHARING_VIOLATION or ERROR_SHARING_BUFFER_EXCEEDED.
DWORD share_open(dev_t dev, ino_t ino, DWORD access, DWORD share, const void* owner,
                 std::shared_ptr<ShareRecord>& out);
// Drops the handle's share mode and every lock it still holds.
void share_close(const std::shared_ptr<ShareRecord>& record, DWORD access, DWORD share, const void* owner);

// Would a read (or write) of [offset, offset+count) by `owner` meet another
// handle's lock (or, for writes, a shared lock of its own)? Costs no system
// call while no lock exists on the file anywhere.
bool share_io_blocked(ShareRecord& record, const void* owner, ULONGLONG offset, ULONGLONG count, bool write);
// Win32 byte-range locks: ERROR_SUCCESS, ERROR_LOCK_VIOLATION, ERROR_NOT_LOCKED.
DWORD share_lock(ShareRecord& record, const void* owner, ULONGLONG offset, ULONGLONG length, bool exclusive,
                 bool wait);
DWORD share_unlock(ShareRecord& record, const void* owner, ULONGLONG offset, ULONGLONG length);

// ERROR_SHARING_VIOLATION when a handle of the layer holds the file without
// FILE_SHARE_DELETE, else ERROR_SUCCESS.
DWORD delete_sharing_error(const struct stat& st);

}  // namespace win32

namespace win32 {
// How many slots of the current world's lock tables count a user: for tests.
std::size_t sharing_slots_in_use();
}  // namespace win32
