// The QQ number check shared by the album preview and the online view.
#pragma once

#include <string>

// Trims blanks and control characters from both ends of `text` in place (the caller writes the trimmed
// text back into the QQ box whatever the answer) and answers whether what is left is a QQ number: at least
// five characters, every one an ASCII digit. There is deliberately no upper bound on the length.
bool IsValidQQNumber(std::string& text);
