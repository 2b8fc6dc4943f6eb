// Thumbnails of real photo files: one that already fits the box is made without the thumbnail pipeline,
// a larger one (or a file too big to read whole) with it, and both must give the same kind of picture.
#include "viewer/thumbnails.h"

#include <gtest/gtest.h>
#include <vips/vips.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/viewer/viewertest.h"

namespace {

// Where a picture is dark; the opposite side is light. kFlat: one colour all over.
enum class Dark { kFlat, kLeft, kRight, kTop, kBottom };

constexpr int kEdge = 360;

struct Image {
  explicit Image(VipsImage* i) : image(i) {
    if (image == nullptr) throw std::runtime_error("libvips: " + std::string(vips_error_buffer()));
  }
  ~Image() { g_object_unref(image); }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  VipsImage* image;
};

// width x height, dark (30) on the left half and light (220) on the right, in `bands` bands of 8 bits; with
// alpha dark all over and the right half transparent, so it is light only when laid on white. Saved as
// JPEG (with this EXIF orientation) or PNG.
std::string TwoTone(int width, int height, int bands, bool alpha, bool png, int orientation = 1) {
  const int all = bands + (alpha ? 1 : 0);
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * all);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * all];
      const bool left = x < width / 2;
      for (int b = 0; b < bands; ++b) p[b] = left || alpha ? 30 : 220;
      if (alpha) p[bands] = left ? 255 : 0;
    }
  }
  Image in(
      vips_image_new_from_memory_copy(pixels.data(), pixels.size(), width, height, all, VIPS_FORMAT_UCHAR));
  in.image->Type = bands == 1 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB;
  if (orientation != 1) vips_image_set_int(in.image, VIPS_META_ORIENTATION, orientation);
  void* buf = nullptr;
  size_t len = 0;
  const int rc = png ? vips_pngsave_buffer(in.image, &buf, &len, nullptr)
                     : vips_jpegsave_buffer(in.image, &buf, &len, "Q", 95, nullptr);
  if (rc != 0) throw std::runtime_error("cannot save a test picture");
  std::string bytes(static_cast<const char*>(buf), len);
  g_free(buf);
  return bytes;
}

// The same as a CMYK JPEG, as print shops and some cameras write them.
std::string CmykTwoTone(int width, int height) {
  const std::string rgb = TwoTone(width, height, 3, false, false);
  Image in(vips_image_new_from_buffer(rgb.data(), rgb.size(), "", nullptr));
  VipsImage* cmyk = nullptr;
  if (vips_colourspace(in.image, &cmyk, VIPS_INTERPRETATION_CMYK, nullptr) != 0)
    throw std::runtime_error("cannot make a CMYK picture");
  Image out(cmyk);
  void* buf = nullptr;
  size_t len = 0;
  if (vips_jpegsave_buffer(out.image, &buf, &len, "Q", 95, nullptr) != 0)
    throw std::runtime_error("cannot save a CMYK picture");
  std::string bytes(static_cast<const char*>(buf), len);
  g_free(buf);
  return bytes;
}

double Mean(VipsImage* image, int left, int top, int width, int height) {
  VipsImage* area = nullptr;
  double mean = -1;
  if (vips_crop(image, &area, left, top, width, height, nullptr) != 0 || vips_avg(area, &mean, nullptr) != 0)
    throw std::runtime_error("cannot measure a thumbnail");
  g_object_unref(area);
  return mean;
}

TEST(Thumbnails, PhotosThatFitAndLargerOnesGiveUprightJpegsInTheBoxWithoutMetadata) {
  const std::string images = LORVANTA_SOURCE_DIR "/tools/albumd/data/images/";
  // Past the size a photo file is read whole at: the same pictures, read as they are decoded.
  const std::string padding(1100 * 1024, '\0');
  const struct {
    std::string what, bytes;
    int width, height, bands;
    Dark dark;
  } cases[] = {
      {"small jpeg", JpegBytes(64, 48), 64, 48, 3, Dark::kFlat},
      {"jpeg as large as the box", JpegBytes(kEdge, kEdge), kEdge, kEdge, 3, Dark::kFlat},
      {"large jpeg", JpegBytes(1600, 1200), kEdge, 270, 3, Dark::kFlat},
      {"small jpeg, EXIF 6", TwoTone(64, 32, 3, false, false, 6), 32, 64, 3, Dark::kTop},
      {"small jpeg, EXIF 8", TwoTone(64, 32, 3, false, false, 8), 32, 64, 3, Dark::kBottom},
      {"small jpeg, EXIF 3", TwoTone(64, 32, 3, false, false, 3), 64, 32, 3, Dark::kRight},
      {"large jpeg, EXIF 6", TwoTone(800, 400, 3, false, false, 6), 180, kEdge, 3, Dark::kTop},
      {"small CMYK jpeg", CmykTwoTone(40, 30), 40, 30, 3, Dark::kLeft},
      {"small grey jpeg", TwoTone(50, 40, 1, false, false), 50, 40, 1, Dark::kLeft},
      {"small png, half transparent", TwoTone(40, 30, 3, true, true), 40, 30, 3, Dark::kLeft},
      {"large grey png, half transparent", TwoTone(900, 300, 1, true, true), kEdge, 120, 1, Dark::kLeft},
      {"palette png", ReadBytes(images + "leaf.png"), 48, 48, 3, Dark::kFlat},
      {"16-bit png", ReadBytes(images + "stones.png"), 40, 40, 3, Dark::kFlat},
      {"gif", ReadBytes(images + "sun.gif"), 48, 48, 3, Dark::kFlat},
      {"small jpeg in a large file", JpegBytes(64, 48) + padding, 64, 48, 3, Dark::kFlat},
      {"large jpeg in a large file, EXIF 6", TwoTone(800, 400, 3, false, false, 6) + padding, 180, kEdge, 3,
       Dark::kTop},
  };
  ScratchRoot scratch;
  std::vector<ThumbnailSource> sources;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string photo = scratch.path() + "photos/" + std::to_string(i);
    WriteBytes(photo, cases[i].bytes);
    sources.push_back({photo, ThumbnailName("photos", std::to_string(i), 1, 1, kEdge)});
  }
  const std::string folder = scratch.path() + "thumbs/";
  std::filesystem::create_directories(folder);
  const std::vector<ThumbnailState> states = MakeThumbnails(folder, sources, 2, kEdge);
  ASSERT_EQ(states.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.what);
    EXPECT_EQ(states[i], ThumbnailState::kMade);
    const std::string thumb = ReadBytes(folder + sources[i].name);
    ASSERT_EQ(thumb.compare(0, 3, "\xff\xd8\xff"), 0);
    Image image(vips_image_new_from_buffer(thumb.data(), thumb.size(), "", nullptr));
    EXPECT_EQ(vips_image_get_width(image.image), c.width);
    EXPECT_EQ(vips_image_get_height(image.image), c.height);
    EXPECT_EQ(vips_image_get_bands(image.image), c.bands);
    EXPECT_EQ(vips_image_get_typeof(image.image, VIPS_META_EXIF_NAME), 0u);
    EXPECT_EQ(vips_image_get_typeof(image.image, VIPS_META_ICC_NAME), 0u);
    EXPECT_EQ(vips_image_get_typeof(image.image, VIPS_META_ORIENTATION), 0u);
    // Every pixel decodes, and dark and light are where the photo, turned upright, has them; see-through
    // parts are white. Measured on the thumbnail as it is, so a wrong size fails above, not here.
    const int w = vips_image_get_width(image.image), h = vips_image_get_height(image.image);
    double whole = -1;
    EXPECT_EQ(vips_avg(image.image, &whole, nullptr), 0);
    if (c.dark == Dark::kFlat) continue;
    // The dark half and the light half, a few pixels clear of the line between them.
    const bool across = c.dark == Dark::kLeft || c.dark == Dark::kRight;
    const bool firstDark = c.dark == Dark::kLeft || c.dark == Dark::kTop;
    const double first =
        across ? Mean(image.image, 0, 0, w / 2 - 2, h) : Mean(image.image, 0, 0, w, h / 2 - 2);
    const double second = across ? Mean(image.image, w / 2 + 2, 0, w - w / 2 - 2, h)
                                 : Mean(image.image, 0, h / 2 + 2, w, h - h / 2 - 2);
    EXPECT_LT(firstDark ? first : second, 60.0);
    EXPECT_GT(firstDark ? second : first, 190.0);
  }
  // Made once: a second run finds them all.
  const std::vector<ThumbnailState> again = MakeThumbnails(folder, sources, 2, kEdge);
  EXPECT_EQ(std::count(again.begin(), again.end(), ThumbnailState::kReused),
            static_cast<long>(std::size(cases)));
}

}  // namespace
