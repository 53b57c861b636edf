#pragma once

#include <string_view>

// The program's name, as message boxes of its own are captioned, and the main window's title.
inline constexpr std::string_view kProgramName = "Vantor Radio Config";
inline constexpr std::string_view kWindowTitle = "Vantor Radio Config V1.2.4.5";
