// The table file's reading and replacing on Windows. Paths are in the system's ANSI code page, as the
// program's narrow texts are there.
#include <windows.h>

#include "device/SafeFile.h"
// <windows.h> names its own ReplaceFileA/W this way; ours is meant here.
#undef ReplaceFile

#include <algorithm>

#include "serial/SerialLink.h"

namespace {

constexpr auto kFileFailed = Outcome::Kind::kFileFailed;

Outcome FailureOf(const std::string& path, DWORD error) {
    return Outcome::Failed(kFileFailed, SystemErrorText(static_cast<int>(error)), path, static_cast<int>(error));
}
// The failure the last system call left behind.
Outcome SystemFailure(const std::string& path) { return FailureOf(path, GetLastError()); }

// Closes a handle when it goes.
class Handle {
public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return m_handle; }
    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    bool Close() {
        const bool closed = !Valid() || CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE m_handle;
};

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

// The folder a path's file is in, with its separator.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

// A temporary file in `folder` holding `bytes`, on the disk, its name in `temporary`; or why it could not
// be made, and then nothing is left behind. In the target's folder, a move from it is a rename on one
// volume.
Outcome WriteTemporary(const std::string& folder, std::string_view bytes, char (&temporary)[MAX_PATH + 1]) {
    if (GetTempFileNameA(folder.c_str(), "vrc", 0, temporary) == 0) return SystemFailure(folder);
    Outcome failure;
    {
        Handle file(CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid() || !WriteAll(file.Get(), bytes) || !FlushFileBuffers(file.Get()))
            failure = SystemFailure(folder);
        if (!file.Close() && failure.Done()) failure = SystemFailure(folder);
    }
    if (!failure.Done()) DeleteFileA(temporary);
    return failure;
}

}  // namespace

Outcome ReplaceFile(const std::string& path, std::string_view bytes, void (*beforeReplace)()) {
    // A read-only file is the owner's "keep this": it is not replaced (the move below would replace it on
    // some systems). It keeps its other attributes (hidden, archive and the like).
    const DWORD attributes = GetFileAttributesA(path.c_str());
    const bool isFile = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    if (isFile && (attributes & FILE_ATTRIBUTE_READONLY) != 0) return FailureOf(path, ERROR_ACCESS_DENIED);

    char temporary[MAX_PATH + 1] = {};
    if (Outcome failure = WriteTemporary(FolderOf(path), bytes, temporary); !failure.Done()) return failure;
    if (isFile) SetFileAttributesA(temporary, attributes);
    if (beforeReplace) beforeReplace();
    if (!MoveFileExA(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const Outcome failure = SystemFailure(path);
        DeleteFileA(temporary);
        return failure;
    }
    return {};
}

Reading<std::string> ReadWholeFile(const std::string& path, std::size_t limit) {
    using Read = Reading<std::string>;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Read::Failed(Outcome::Failed(kFileFailed, "Is a directory", path));
    }
    Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return Read::Failed(SystemFailure(path));
    // A pipe or a device (CON, NUL, a COM port) is no table file; reading one could wait for ever.
    if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
        return Read::Failed(Outcome::Failed(kFileFailed, std::string(kNotARegularFile), path));
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) {
            return Read::Failed(SystemFailure(path));
        }
        if (got == 0) break;
        if (bytes.size() + got > limit) {
            return Read::Failed(Outcome::Failed(kFileFailed, "larger than a table file can be", path));
        }
        bytes.append(buffer, got);
    }
    return Read::Of(std::move(bytes));
}

Outcome AppendToFile(const std::string& path, std::string_view header, std::string_view bytes) {
    Handle file(CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!file.Valid()) return SystemFailure(path);
    OVERLAPPED whole{};
    if (!LockFileEx(file.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) return SystemFailure(path);
    Outcome failure;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size)) {
        failure = SystemFailure(path);
    } else {
        std::string text;
        if (size.QuadPart == 0) text.append(header);
        // A file whose last line has no end yet gets one first, so that the new line stands on its own.
        char last = '\n';
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(size.QuadPart - 1);
        at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
        DWORD got = 0;
        if (size.QuadPart > 0 && ReadFile(file.Get(), &last, 1, &got, &at) && got == 1 && last != '\n') {
            text.append("\n");
        }
        text.append(bytes);
        if (!WriteAll(file.Get(), text)) failure = SystemFailure(path);
    }
    UnlockFileEx(file.Get(), 0, MAXDWORD, MAXDWORD, &whole);
    if (!file.Close() && failure.Done()) failure = SystemFailure(path);
    return failure;
}

Outcome UpdateLockedFile(const std::string& path,
                         const std::function<std::optional<std::string>(const std::string& contents)>& change) {
    Handle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return SystemFailure(path);
    OVERLAPPED whole{};
    if (!LockFileEx(file.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) return SystemFailure(path);
    Outcome failure;
    std::string contents;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) {
            failure = SystemFailure(path);
            break;
        }
        if (got == 0) break;
        contents.append(buffer, got);
    }
    if (failure.Done()) {
        if (const std::optional<std::string> changed = change(contents)) {
            LARGE_INTEGER start{};
            if (!SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(file.Get()) ||
                !WriteAll(file.Get(), *changed) || !FlushFileBuffers(file.Get())) {
                failure = SystemFailure(path);
            }
        }
    }
    UnlockFileEx(file.Get(), 0, MAXDWORD, MAXDWORD, &whole);
    if (!file.Close() && failure.Done()) failure = SystemFailure(path);
    return failure;
}

Reading<bool> CreateNewFile(const std::string& path, std::string_view bytes) {
    char temporary[MAX_PATH + 1] = {};
    if (Outcome failure = WriteTemporary(FolderOf(path), bytes, temporary); !failure.Done()) {
        return Reading<bool>::Failed(std::move(failure));
    }
    Reading<bool> creation = Reading<bool>::Of(true);
    if (!MoveFileExA(temporary, path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        // Without MOVEFILE_REPLACE_EXISTING the move refuses a name that is taken.
        const DWORD error = GetLastError();
        creation = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
                       ? Reading<bool>::Of(false)
                       : Reading<bool>::Failed(FailureOf(path, error));
    }
    if (creation.value != true) DeleteFileA(temporary);
    return creation;
}

Outcome CheckCanWriteIn(const std::string& folder, std::size_t size) {
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return SystemFailure(folder);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return FailureOf(folder, ERROR_DIRECTORY);
    char temporary[MAX_PATH + 1] = {};
    if (Outcome failure = WriteTemporary(folder, std::string(size, '\0'), temporary); !failure.Done()) {
        return failure;
    }
    DeleteFileA(temporary);
    return {};
}

Outcome CheckCanAppend(const std::string& path) {
    Handle file(CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (file.Valid()) return {};
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return FailureOf(path, error);
    // Not there yet: its folder must take a new file. A file of that name made here, even for a moment,
    // could be another run's that has just appeared, so the check makes one of its own name instead.
    return CheckCanWriteIn(FolderOf(path), 0);
}
