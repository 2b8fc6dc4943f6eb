// Telling a photo from whatever else a server may answer with 200: an error page, an empty body, a
// login form. A reply counts as a photo only when its first bytes are those of an image format.
#pragma once

#include <string>
#include <string_view>

// The image format that `head` (the first bytes of a file, at least 12 for every format to be seen)
// begins with: "jpeg", "gif", "png", "webp", "bmp", or "avif" / "heif" (the still-image brands of the ISO
// media file format that phones save); empty when none.
std::string_view ImageKind(std::string_view head);

// ImageKind of the file's first bytes is not empty. False when the file cannot be read.
bool IsImageFile(const std::string& path);
