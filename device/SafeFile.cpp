#include "device/SafeFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr auto kFileFailed = Outcome::Kind::kFileFailed;

Outcome FailureOf(const std::string& path, int error) {
    return Outcome::Failed(kFileFailed, std::strerror(error), path, error);
}
// The failure the last system call left in errno.
Outcome SystemFailure(const std::string& path) { return FailureOf(path, errno); }
Outcome NotRegular(const std::string& path) { return Outcome::Failed(kFileFailed, std::string(kNotARegularFile), path); }

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

Outcome ReplaceFile(const std::string& path, std::string_view bytes, void (*beforeReplace)()) {
    // The file a link points to is the one to replace; a path that does not exist yet is taken as it is.
    std::string target = path;
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        target = resolved;
        free(resolved);
    }
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);

    mode_t mode = 0;
    struct stat existing {};
    if (stat(target.c_str(), &existing) == 0) {
        // A device or a pipe is not replaced by a file (/dev/stdout would be, for whoever may write /dev).
        if (S_ISDIR(existing.st_mode)) return FailureOf(path, EISDIR);
        if (!S_ISREG(existing.st_mode)) return NotRegular(path);
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }

    std::string temporary = folder + "." + name + ".XXXXXX";
    std::vector<char> pattern(temporary.begin(), temporary.end());
    pattern.push_back('\0');
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return SystemFailure(path);
    temporary = pattern.data();
    Outcome failure;
    if (!WriteAll(fd, bytes) || fchmod(fd, mode) != 0 || fsync(fd) != 0) failure = SystemFailure(path);
    if (close(fd) != 0 && failure.Done()) failure = SystemFailure(path);
    if (failure.Done() && beforeReplace) beforeReplace();
    if (failure.Done() && rename(temporary.c_str(), target.c_str()) != 0) failure = SystemFailure(path);
    if (!failure.Done()) {
        unlink(temporary.c_str());
        return failure;
    }
    // The new name reaches the disk with the folder.
    if (const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return {};
}

namespace {

// Reads what is left of the file into `bytes`, up to `limit` bytes.
Outcome ReadRest(int fd, const std::string& path, std::size_t limit, std::string& bytes) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return SystemFailure(path);
        if (got == 0) return {};
        if (bytes.size() + static_cast<std::size_t>(got) > limit) {
            return Outcome::Failed(kFileFailed, "larger than a table file can be", path);
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

}  // namespace

Reading<std::string> ReadWholeFile(const std::string& path, std::size_t limit) {
    // Only a regular file: a named pipe would hold the caller until some writer appeared, and opening a
    // device can do something to it. Looked at before it is opened, and again once open (non-blocking, so
    // that a pipe put in its place meanwhile cannot hold the caller either).
    const auto kind = [&path](const struct stat& info) -> Outcome {
        if (S_ISDIR(info.st_mode)) return FailureOf(path, EISDIR);
        if (!S_ISREG(info.st_mode)) return NotRegular(path);
        return {};
    };
    using Read = Reading<std::string>;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return Read::Failed(SystemFailure(path));
    if (Outcome failure = kind(info); !failure.Done()) return Read::Failed(std::move(failure));
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return Read::Failed(SystemFailure(path));
    Outcome failure = fstat(fd, &info) != 0 ? SystemFailure(path) : kind(info);
    std::string bytes;
    if (failure.Done()) failure = ReadRest(fd, path, limit, bytes);
    close(fd);
    if (!failure.Done()) return Read::Failed(std::move(failure));
    return Read::Of(std::move(bytes));
}

Outcome AppendToFile(const std::string& path, std::string_view header, std::string_view bytes) {
    const int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return SystemFailure(path);
    Outcome failure;
    struct stat st {};
    if (flock(fd, LOCK_EX) != 0 || fstat(fd, &st) != 0) {
        failure = SystemFailure(path);
    } else {
        std::string text;
        if (st.st_size == 0) text.append(header);
        // A file whose last line has no end yet gets one first, so that the new line stands on its own.
        char last = '\n';
        if (st.st_size > 0 && pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') text.append("\n");
        text.append(bytes);
        for (std::size_t done = 0; done < text.size() && failure.Done();) {
            const ssize_t n = write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) failure = SystemFailure(path);
            else done += static_cast<std::size_t>(n);
        }
    }
    if (close(fd) != 0 && failure.Done()) failure = SystemFailure(path);
    return failure;
}

Outcome UpdateLockedFile(const std::string& path,
                         const std::function<std::optional<std::string>(const std::string& contents)>& change) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return SystemFailure(path);
    Outcome failure;
    if (flock(fd, LOCK_EX) != 0) failure = SystemFailure(path);
    std::string contents;
    if (failure.Done()) failure = ReadRest(fd, path, std::numeric_limits<std::size_t>::max(), contents);
    if (failure.Done()) {
        if (const std::optional<std::string> changed = change(contents)) {
            if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0 || !WriteAll(fd, *changed) || fsync(fd) != 0) {
                failure = SystemFailure(path);
            }
        }
    }
    if (close(fd) != 0 && failure.Done()) failure = SystemFailure(path);  // the lock goes with it
    return failure;
}

namespace {

// A temporary file in `folder` holding `bytes`, on the disk; its path, or why it could not be made.
Reading<std::string> WriteTemporary(const std::string& folder, const std::string& name, std::string_view bytes) {
    std::string temporary = folder + "." + name + ".XXXXXX";
    std::vector<char> pattern(temporary.begin(), temporary.end());
    pattern.push_back('\0');
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return Reading<std::string>::Failed(SystemFailure(folder));
    temporary = pattern.data();
    Outcome failure;
    const mode_t mask = umask(0);
    umask(mask);
    if (!WriteAll(fd, bytes) || fchmod(fd, 0666 & ~mask) != 0 || fsync(fd) != 0) failure = SystemFailure(folder);
    if (close(fd) != 0 && failure.Done()) failure = SystemFailure(folder);
    if (!failure.Done()) {
        unlink(temporary.c_str());
        return Reading<std::string>::Failed(std::move(failure));
    }
    return Reading<std::string>::Of(temporary);
}

}  // namespace

Reading<bool> CreateNewFile(const std::string& path, std::string_view bytes) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const Reading<std::string> written = WriteTemporary(folder, name, bytes);
    if (!written.value) return Reading<bool>::Failed(written.outcome);
    const std::string& temporary = *written.value;
    // link() gives the bytes their name only where the name is free, in one step.
    Reading<bool> creation = Reading<bool>::Of(true);
    if (link(temporary.c_str(), path.c_str()) != 0) {
        creation = errno == EEXIST ? Reading<bool>::Of(false) : Reading<bool>::Failed(SystemFailure(path));
    }
    unlink(temporary.c_str());
    if (creation.value == true) {
        if (const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
            fsync(dir);
            close(dir);
        }
    }
    return creation;
}

Outcome CheckCanWriteIn(const std::string& folder, std::size_t size) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) return SystemFailure(folder);
    if (!S_ISDIR(info.st_mode)) return FailureOf(folder, ENOTDIR);
    const Reading<std::string> written = WriteTemporary(folder + "/", "vantor-check", std::string(size, '\0'));
    if (!written.value) return written.outcome;
    unlink(written.value->c_str());
    return {};
}

Outcome CheckCanAppend(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        close(fd);
        return {};
    }
    if (errno != ENOENT) return SystemFailure(path);
    // Not there yet: its folder must take a new file. A file of that name made here, even for a moment,
    // could be another run's that has just appeared, so the check makes one of its own name instead.
    const std::size_t slash = path.rfind('/');
    return CheckCanWriteIn(slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash), 0);
}
