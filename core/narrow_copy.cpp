#include "core/narrow_copy.h"

void copyWideToNarrowLowBytes(char* destination, int destinationBytes, const char16_t* source, int sourceUnits) {
  if (destinationBytes <= 0) return;
  // A negative count copies nothing rather than writing before the buffer.
  int n = sourceUnits < destinationBytes - 1 ? sourceUnits : destinationBytes - 1;
  if (n < 0 || !source) n = 0;
  for (int i = 0; i < n; ++i) destination[i] = static_cast<char>(source[i] & 0xFF);
  destination[n] = '\0';
}
