// Writes an engine bitmap to a picture file: PNG through the library's png encoder, or BMP
// written directly. Used by front ends that keep what the previewer shows (quorlane-cli
// convert --snapshots).
#pragma once

#include <string>

#include "Bitmap.h"

namespace quorlane {

enum class TBitmapFileKind { Png, Bmp };

// The kind a file name asks for: ".bmp" (any case) is BMP, anything else PNG.
TBitmapFileKind BitmapFileKindOf(const std::string& path);

// Writes the bitmap (the caller holds its canvas lock when others may paint on it). The file is
// written under a temporary name and renamed, so a failure leaves no half-written picture.
// False with the reason in `error`.
bool SaveBitmapFile(const TBitmap& bitmap, const std::string& path, std::string& error);

}  // namespace quorlane
