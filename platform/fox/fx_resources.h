// The pictures the toolkit build carries inside the program (PNG data made by
// data/make_toolkit_pictures.py), the build's default cursors, and loading
// icons and images through the application: from PNG data in memory or by
// name, an embedded picture first, then a member of the program archive.
//
// FOX types are only declared here.
#pragma once

#include <cstddef>

namespace FX {

class FXApp;
class FXCursor;
class FXIcon;
class FXImage;

// 12 frames of 13 x 13 stacked: frame 4 * state (0 clear, 1 checked, 2 mixed)
// + look (0 normal, 1 hot, 2 pressed, 3 disabled); the _v set for the newer
// theme.
extern const unsigned char checkbox_res[];
extern const unsigned char checkbox_v_res[];
// 3 frames of 9 x 9 stacked: collapsed, expanded, hot.
extern const unsigned char treeexpandcollapse_res[];
// 32 x 32 stop sign of error messages.
extern const unsigned char stopicon_res[];
// 16 x 48: three 16-pixel states (normal, hot, disabled) of the copy button.
extern const unsigned char copydetails_res[];
// 8 x 24 opaque toolbar background: white top row, a gradient from
// (F4, F7, FC) in row 1 to (C8, D6, EA) in row 22, a (9A, AE, CB) bottom row.
extern const unsigned char toolbarbackground_res[];

struct FXResourcePicture {
  const char* name;
  const unsigned char* data;
  std::size_t size;
  int width;
  int height;
};
// Ends with a record whose name is null.
extern const FXResourcePicture fxResourcePictures[];
const FXResourcePicture* fxFindResourcePicture(const char* name);
const FXResourcePicture* fxFindResourcePicture(const void* data);

// The application's loadIcon/loadImage (an FXExtApp's, which may cache and
// owns what it caches; free with its freeImage). Null for an application of
// another class, or when nothing is found.
FXIcon* fxLoadIcon(FXApp* app, const void* data, unsigned options, unsigned transparent);
FXImage* fxLoadImage(FXApp* app, const void* data, unsigned options);
FXIcon* fxLoadIconByName(FXApp* app, const char* name, unsigned options, unsigned transparent);
FXImage* fxLoadImageByName(FXApp* app, const char* name, unsigned options);

// The build's default cursors by number: 0 the arrow, 1 the hand over hot
// items; other numbers answer the arrow.
enum { FX_DEFAULT_CURSOR_ARROW = 0, FX_DEFAULT_CURSOR_HAND = 1 };
FXCursor* fxDefaultCursor(FXApp* app, int which);

}  // namespace FX
