// Wide to narrow by dropping the high byte of every UTF-16 unit.
#pragma once

// Copies min(sourceUnits, destinationBytes - 1) units of `source`, each as its
// low 8 bits, and a NUL after them. Does nothing when destinationBytes <= 0.
void copyWideToNarrowLowBytes(char* destination, int destinationBytes, const char16_t* source, int sourceUnits);
