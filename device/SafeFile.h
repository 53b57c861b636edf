#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

// Files as the window's Save As and Open use them.

// Replaces the file at `path` with `bytes` so that it is never left half written: the bytes go to a
// temporary file in the same folder, reach the disk, and only then take the file's place. Through a
// symbolic link the file it points to is replaced; a replaced file keeps its permissions. Nothing is
// changed when it fails, and the reason is returned. `beforeReplace` runs between the two steps (tests
// stop the program there).
std::optional<std::string> ReplaceFile(const std::string& path, std::string_view bytes,
                                       void (*beforeReplace)() = nullptr);

// Why a path that is no file of bytes (a named pipe, a device) is not read.
inline constexpr std::string_view kNotARegularFile = "not a regular file";

// The whole file, or why it cannot be read. Only a regular file is read, never waiting for anybody; a
// file larger than `limit` bytes is not read.
std::variant<std::string, std::string> ReadWholeFile(const std::string& path, std::size_t limit);

// Appends `bytes` to the file at `path`, made when missing, with `header` first when the file is empty
// and a line end first when its last line has none.
// Several programs appending to one file at once take turns, each append whole. Why it failed, if it did.
std::optional<std::string> AppendToFile(const std::string& path, std::string_view header, std::string_view bytes);

// Creates the file at `path` with `bytes`, whole or not at all, only while no file of that name exists:
// an existing file is never replaced, not even by another program creating the same name at once.
struct Creation {
    enum class Result { kCreated, kTaken, kFailed };
    Result result = Result::kFailed;
    std::string reason;  // kFailed: why
};
Creation CreateNewFile(const std::string& path, std::string_view bytes);

// Why a file of `size` bytes could not be written in `folder` now (missing, not a folder, not ours to
// write, full), found by writing one and removing it again; nothing when it could.
std::optional<std::string> CheckCanWriteIn(const std::string& folder, std::size_t size);

// Why the file at `path` could not be appended to now (its folder missing, the file not ours to write);
// nothing when it could. Nothing of that name is made: a file that is not there yet stays so.
std::optional<std::string> CheckCanAppend(const std::string& path);
