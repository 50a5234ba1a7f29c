// Under the leak checker of sanitizer builds: fontconfig keeps what font
// matching allocates for the life of the process, and libmsi 0.101 loses a few
// bytes in every summary persist; neither is ours. Every library that calls one
// of them includes this, so whichever objects a program links, one weak copy of
// the same text is kept.
#pragma once

extern "C" __attribute__((weak, visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libmsi.so\n";
}
