#include "tools/albumd/qrimage.h"

#include <png.h>
#include <qrencode.h>

#include <memory>
#include <stdexcept>
#include <vector>

namespace albumd {

std::string QrCodePng(const std::string& text) {
  std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
      QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), &QRcode_free);
  if (!code) throw std::runtime_error("the text does not fit a QR code");

  const int modules = code->width + 2 * kQrQuietModules;
  const int side = modules * kQrModulePixels;
  std::vector<unsigned char> pixels(static_cast<size_t>(side) * side, 0xFF);
  for (int y = 0; y < code->width; ++y) {
    for (int x = 0; x < code->width; ++x) {
      // libqrencode's lowest bit of each module says dark; the other bits say what the module is for.
      if ((code->data[y * code->width + x] & 1) == 0) continue;
      const int top = (y + kQrQuietModules) * kQrModulePixels;
      const int left = (x + kQrQuietModules) * kQrModulePixels;
      for (int dy = 0; dy < kQrModulePixels; ++dy) {
        for (int dx = 0; dx < kQrModulePixels; ++dx)
          pixels[static_cast<size_t>(top + dy) * side + static_cast<size_t>(left + dx)] = 0;
      }
    }
  }

  // libpng's simplified writer: no setjmp, which would jump over C++ frames on an error.
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(side);
  image.height = static_cast<png_uint_32>(side);
  image.format = PNG_FORMAT_GRAY;
  auto fail = [&image] {
    const std::string message = std::string("cannot write the QR code as PNG: ") + image.message;
    png_image_free(&image);
    throw std::runtime_error(message);
  };
  // The first call only measures, the second writes.
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr)) fail();
  std::string png(size, '\0');
  if (!png_image_write_to_memory(&image, png.data(), &size, 0, pixels.data(), 0, nullptr)) fail();
  png.resize(size);
  return png;
}

}  // namespace albumd
