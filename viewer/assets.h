// The fixed files of the viewer folder: style sheet, keyboard script and placeholder picture. None of them
// holds any text from the album service, and none refers to anything outside the viewer folder.
#pragma once

#include <string_view>

inline constexpr std::string_view kStyleFile = "viewer.css";
inline constexpr std::string_view kScriptFile = "viewer.js";
inline constexpr std::string_view kPlaceholderFile = "placeholder.svg";
inline constexpr std::string_view kThumbFolder = "thumbs";

std::string_view StyleSheet();
std::string_view KeyboardScript();
std::string_view PlaceholderPicture();
