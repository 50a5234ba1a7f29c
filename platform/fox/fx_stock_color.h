// FXStockColor: a colour slot of the toolkit build. It holds a colour word
// (FOX's ABGR layout); the word 0 means "not set", so every colour given in
// markup carries alpha 255 and black is never 0. Pulls in no toolkit header.
#pragma once

namespace FX {

struct FXStockColor {
  unsigned int value = 0;

  constexpr FXStockColor() = default;
  constexpr FXStockColor(unsigned int v) : value(v) {}  // NOLINT: a colour word converts freely

  constexpr bool isSet() const { return value != 0; }
  constexpr operator unsigned int() const { return value; }
  friend constexpr bool operator==(FXStockColor a, FXStockColor b) { return a.value == b.value; }
};

}  // namespace FX
