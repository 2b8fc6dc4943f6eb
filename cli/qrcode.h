// The sign-in's QR code between the image the sign-in host serves and the terminal: the image is read for
// the text it holds, and that text drawn again as a code of text characters a phone can scan off the
// screen.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The text of the QR code in a PNG image; nothing when the image cannot be decoded or holds no code that
// can be read (`error` says which).
std::optional<std::string> ReadQrImage(std::string_view png, std::string& error);

// The text of a QR code in an 8-bit grayscale image (0 black, 255 white), rows of `width` bytes.
std::optional<std::string> ReadQrPixels(const unsigned char* pixels, int width, int height);

// The QR code of `text` in lines of Unicode half blocks, two rows of modules a line, inside a quiet zone.
// A dark module is ink ("▀", "▄", "█"), a light one blank. With `colours`, every line is drawn black on
// white whatever the terminal's own colours are (ink on a light background is what phones read); without,
// the ink is the terminal's foreground. Empty when the text does not fit a code.
std::string DrawQrCode(std::string_view text, bool colours);
