// Telling a photo from whatever else a server may answer with 200: an error page, an empty body, a
// login form. A reply counts as a photo only when its first bytes are those of an image format.
#pragma once

#include <string>
#include <string_view>

#include "net/fetchtofile.h"

// The image format that `head` (the first bytes of a file, at least 12 for every format to be seen)
// begins with: "jpeg", "gif", "png", "webp", "bmp", or "avif" / "heif" (the still-image brands of the ISO
// media file format that phones save); empty when none.
std::string_view ImageKind(std::string_view head);

// ImageKind of the file's first bytes is not empty. False when the file cannot be read.
bool IsImageFile(const std::string& path);

// A photo's reply is accepted only when its bytes begin like an image and are as many as the server
// announced: an error page answered with 200, an empty body or a cut-off reply saved under a photo's name
// would report a failure as a success. When not, report.error says why.
bool LooksLikeImage(const std::string& tempPath, FetchReport& report);

// The same for a video: whole, and an ISO media file (MP4, MOV: an "ftyp" box first) that is no still image.
bool LooksLikeVideo(const std::string& tempPath, FetchReport& report);

// The album site's stand-in for a photo it will not give without the photo key: a small 96x96 GIF that
// reads "加密照片". Never a photo of its own: no real photo of an album is that small at that size.
inline constexpr long long kPlaceholderMaxBytes = 2048;
bool IsPhotoPlaceholder(const std::string& path, long long bytes);
