#include "cli/qrcode.h"

#include <png.h>
#include <qrencode.h>
#include <zbar.h>

#include <memory>
#include <vector>

using namespace zbar;  // in C++ its C interface stands in this namespace

namespace {

// The quiet zone a scanner needs around a code, in modules.
constexpr int kQuietModules = 2;
// A sign-in code is a few dozen modules wide; an image far larger is no code of the sign-in host.
constexpr png_uint_32 kMaxImageSide = 4096;

}  // namespace

std::optional<std::string> ReadQrImage(std::string_view png, std::string& error) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) {
    error = std::string("the image is no PNG (") + image.message + ")";
    return std::nullopt;
  }
  if (image.width == 0 || image.height == 0 || image.width > kMaxImageSide || image.height > kMaxImageSide) {
    png_image_free(&image);
    error = "the image has an unlikely size";
    return std::nullopt;
  }
  image.format = PNG_FORMAT_GRAY;  // the library converts colour and drops transparency (on white)
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
  png_color white{255, 255, 255};
  if (!png_image_finish_read(&image, &white, pixels.data(), 0, nullptr)) {
    error = std::string("the image cannot be decoded (") + image.message + ")";
    return std::nullopt;
  }
  auto text = ReadQrPixels(pixels.data(), static_cast<int>(image.width), static_cast<int>(image.height));
  if (!text) error = "the image holds no QR code that can be read";
  return text;
}

std::optional<std::string> ReadQrPixels(const unsigned char* pixels, int width, int height) {
  std::unique_ptr<zbar_image_scanner_t, decltype(&zbar_image_scanner_destroy)> scanner(
      zbar_image_scanner_create(), zbar_image_scanner_destroy);
  if (!scanner) return std::nullopt;
  zbar_image_scanner_set_config(scanner.get(), ZBAR_NONE, ZBAR_CFG_ENABLE, 0);
  zbar_image_scanner_set_config(scanner.get(), ZBAR_QRCODE, ZBAR_CFG_ENABLE, 1);
  std::unique_ptr<zbar_image_t, decltype(&zbar_image_destroy)> image(zbar_image_create(), zbar_image_destroy);
  if (!image) return std::nullopt;
  zbar_image_set_format(image.get(), zbar_fourcc('Y', '8', '0', '0'));
  zbar_image_set_size(image.get(), static_cast<unsigned>(width), static_cast<unsigned>(height));
  // No cleanup handler: the pixels stay the caller's.
  zbar_image_set_data(image.get(), pixels,
                      static_cast<unsigned long>(width) * static_cast<unsigned long>(height), nullptr);
  if (zbar_scan_image(scanner.get(), image.get()) <= 0) return std::nullopt;
  for (const zbar_symbol_t* symbol = zbar_image_first_symbol(image.get()); symbol != nullptr;
       symbol = zbar_symbol_next(symbol)) {
    if (zbar_symbol_get_type(symbol) != ZBAR_QRCODE) continue;
    return std::string(zbar_symbol_get_data(symbol), zbar_symbol_get_data_length(symbol));
  }
  return std::nullopt;
}

std::string DrawQrCode(std::string_view text, bool colours) {
  const std::string data(text);
  std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
      QRcode_encodeString(data.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), QRcode_free);
  if (!code) return {};
  const int size = code->width;
  const int side = size + 2 * kQuietModules;
  const auto dark = [&](int row, int column) {
    row -= kQuietModules;
    column -= kQuietModules;
    if (row < 0 || column < 0 || row >= size || column >= size) return false;
    return (code->data[row * size + column] & 1) != 0;
  };
  std::string out;
  for (int row = 0; row < side; row += 2) {
    if (colours) out += "\x1b[30;47m";  // black ink on a white ground
    for (int column = 0; column < side; ++column) {
      const bool top = dark(row, column);
      const bool bottom = row + 1 < side && dark(row + 1, column);
      out += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
    }
    if (colours) out += "\x1b[0m";
    out += '\n';
  }
  return out;
}
