// The toolkit build's line-break iterator over ICU's line-break rules, and the
// hot-key parser of captions marked with U+2382. ICU stays in the .cpp.
// Pulls in no toolkit header.
#pragma once

namespace FX {

class FXApp;

class FXLineBreakIterator {
 public:
  virtual ~FXLineBreakIterator() = default;
  // The text is not copied: it must outlive the iteration.
  virtual void setText(const char16_t* text, int length) = 0;
  // The first break position after `offset`, or -1 past the last one.
  virtual int following(int offset) = 0;
};

// The calling thread's iterator (the GUI thread's, in practice); null when
// ICU cannot make one. Owned by the thread.
FXLineBreakIterator* getLineBreakIterator(FXApp* app);

// The hot-key marker of captions.
inline constexpr char16_t kHotkeyMarker = u'\u2382';

// As FOX's fxparsehotkey with U+2382 for "&": the marked character (lower
// case) with the Alt modifier in the high 16 bits; 0 when nothing is marked.
unsigned int fxparsehotkey(const char16_t* text);

}  // namespace FX
