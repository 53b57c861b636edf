#pragma once

#include <string_view>

// The command line's help: the whole text, or one command's part of it (an unknown or empty command
// gives the whole text). The man page is made from the whole text.
std::string_view UsageOf(std::string_view command);
