// The picture of a sign-in QR code, as QQ's sign-in page shows it: a PNG, black modules on white.
#pragma once

#include <string>

namespace albumd {

// Pixels per module and the white margin around the code, in modules. Four modules is the least margin
// the QR standard asks for, and what a phone camera needs to find the code on a busy screen.
inline constexpr int kQrModulePixels = 3;
inline constexpr int kQrQuietModules = 4;

// `text` as a QR code of error correction level M (the smallest version that holds it), drawn as an 8-bit
// grayscale PNG with kQrModulePixels pixels per module and a quiet zone of kQrQuietModules modules.
// Throws std::runtime_error when the text does not fit a QR code or the image cannot be written.
std::string QrCodePng(const std::string& text);

}  // namespace albumd
