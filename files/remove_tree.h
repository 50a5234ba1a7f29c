// Removing a whole directory tree through the directory interfaces, and the
// handler that directory enumeration asks when access is refused.
#pragma once

#include "files/file_object.h"

// Deletes everything below `top` and, unless `keep_top`, `top` itself (the
// object stays the caller's). Links to folders are removed as links, never
// entered. Reports nothing: what cannot be deleted stays.
void remove_tree(rio_dir* top, bool keep_top);

// Asked with the directory and a text; non-zero means try again.
using access_retry_fn = int (*)(i_dir* dir, const char16_t* text);

// With `process_wide`, replaces the process's handler and returns the old one;
// otherwise sets the calling thread's own and returns its previous one (all
// bits set when the thread had none; setting that back removes it again).
access_retry_fn set_access_retry_handler(access_retry_fn handler, bool process_wide);
// The calling thread's own handler when it has one, else the process's.
access_retry_fn access_retry_handler();
