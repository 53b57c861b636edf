#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/Outcome.h"

// Files as the window's Save As and Open use them. A failure is kFileFailed, with the system's words for
// it, the path and the error number.

// Replaces the file at `path` with `bytes` so that it is never left half written: the bytes go to a
// temporary file in the same folder, reach the disk, and only then take the file's place. Through a
// symbolic link the file it points to is replaced; a replaced file keeps its permissions. Nothing is
// changed when it fails. `beforeReplace` runs between the two steps (tests
// stop the program there).
Outcome ReplaceFile(const std::string& path, std::string_view bytes, void (*beforeReplace)() = nullptr);

// Why a path that is no file of bytes (a named pipe, a device) is not read.
inline constexpr std::string_view kNotARegularFile = "not a regular file";

// The whole file, or why it cannot be read. Only a regular file is read, never waiting for anybody; a
// file larger than `limit` bytes is not read.
Reading<std::string> ReadWholeFile(const std::string& path, std::size_t limit);

// Appends `bytes` to the file at `path`, made when missing, with `header` first when the file is empty
// and a line end first when its last line has none.
// Several programs appending to one file at once take turns, each append whole.
Outcome AppendToFile(const std::string& path, std::string_view header, std::string_view bytes);

// Creates the file at `path` with `bytes`, whole or not at all, only while no file of that name exists:
// an existing file is never replaced, not even by another program creating the same name at once. True
// when it was created, false when the name is taken.
Reading<bool> CreateNewFile(const std::string& path, std::string_view bytes);

// Why a file of `size` bytes could not be written in `folder` now (missing, not a folder, not ours to
// write, full), found by writing one and removing it again.
Outcome CheckCanWriteIn(const std::string& folder, std::size_t size);

// Why the file at `path` could not be appended to now (its folder missing, the file not ours to write).
// Nothing of that name is made: a file that is not there yet stays so.
Outcome CheckCanAppend(const std::string& path);

// Changes a small file that several programs share (a counter), one at a time: the file (made when
// missing, empty then) is locked, read whole and handed to `change`, which gives its new contents, or
// none to leave it; they are written in its place before the lock goes. An update that fails partway may
// leave the file short, never mixed with another's.
Outcome UpdateLockedFile(const std::string& path,
                         const std::function<std::optional<std::string>(const std::string& contents)>& change);
