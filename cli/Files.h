#pragma once

// vantorctl's commands on files alone, without a device: a table file to CSV and back, and two table files
// compared as Verify compares the device with one.
#include <string>

namespace cli {

// IN ending in .csv (any case) becomes a table file OUT with the window's settings of a new table;
// any other IN is a table file, which becomes CSV OUT (its rows alone). OUT is replaced whole or left as
// it was. The exit status.
int Convert(const std::string& input, const std::string& output);

// The differences of table file B from table file A, one line each as Verify says them (B standing where
// the device does), then the verdict; on standard output. Exit status 0 when B holds A's table, 1 when
// it differs, 2 when either cannot be read.
int Diff(const std::string& a, const std::string& b);

}  // namespace cli
