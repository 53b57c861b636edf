#include "device/SafeFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <variant>
#include <vector>

namespace {

std::string Reason() { return std::strerror(errno); }

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

std::optional<std::string> ReplaceFile(const std::string& path, std::string_view bytes,
                                       void (*beforeReplace)()) {
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
        if (S_ISDIR(existing.st_mode)) return std::strerror(EISDIR);
        if (!S_ISREG(existing.st_mode)) return std::string(kNotARegularFile);
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
    if (fd < 0) return Reason();
    temporary = pattern.data();
    std::optional<std::string> failure;
    if (!WriteAll(fd, bytes) || fchmod(fd, mode) != 0 || fsync(fd) != 0) failure = Reason();
    if (close(fd) != 0 && !failure) failure = Reason();
    if (!failure && beforeReplace) beforeReplace();
    if (!failure && rename(temporary.c_str(), target.c_str()) != 0) failure = Reason();
    if (failure) {
        unlink(temporary.c_str());
        return failure;
    }
    // The new name reaches the disk with the folder.
    if (const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return std::nullopt;
}

std::variant<std::string, std::string> ReadWholeFile(const std::string& path, std::size_t limit) {
    using Result = std::variant<std::string, std::string>;
    // Only a regular file: a named pipe would hold the caller until some writer appeared, and opening a
    // device can do something to it. Looked at before it is opened, and again once open (non-blocking, so
    // that a pipe put in its place meanwhile cannot hold the caller either).
    const auto kind = [](const struct stat& info) -> std::string {
        if (S_ISDIR(info.st_mode)) return std::strerror(EISDIR);
        if (!S_ISREG(info.st_mode)) return std::string(kNotARegularFile);
        return {};
    };
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return Result(std::in_place_index<1>, Reason());
    if (std::string failure = kind(info); !failure.empty()) return Result(std::in_place_index<1>, failure);
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return Result(std::in_place_index<1>, Reason());
    std::string failure;
    if (fstat(fd, &info) != 0) {
        failure = Reason();
    } else {
        failure = kind(info);
    }
    std::string bytes;
    char buffer[65536];
    while (failure.empty()) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) failure = Reason();
        if (got <= 0) break;
        if (bytes.size() + static_cast<std::size_t>(got) > limit) {
            failure = "larger than a table file can be";
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    if (!failure.empty()) return Result(std::in_place_index<1>, failure);
    return Result(std::in_place_index<0>, std::move(bytes));
}

std::optional<std::string> AppendToFile(const std::string& path, std::string_view header, std::string_view bytes) {
    const int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return Reason();
    std::optional<std::string> failure;
    struct stat st {};
    if (flock(fd, LOCK_EX) != 0 || fstat(fd, &st) != 0) {
        failure = Reason();
    } else {
        std::string text;
        if (st.st_size == 0) text.append(header);
        // A file whose last line has no end yet gets one first, so that the new line stands on its own.
        char last = '\n';
        if (st.st_size > 0 && pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') text.append("\n");
        text.append(bytes);
        for (std::size_t done = 0; done < text.size() && !failure;) {
            const ssize_t n = write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) failure = Reason();
            else done += static_cast<std::size_t>(n);
        }
    }
    if (close(fd) != 0 && !failure) failure = Reason();
    return failure;
}

namespace {

// A temporary file in `folder` holding `bytes`, on the disk; its path, or why it could not be made.
std::variant<std::string, std::string> WriteTemporary(const std::string& folder, const std::string& name,
                                                      std::string_view bytes) {
    using Result = std::variant<std::string, std::string>;
    std::string temporary = folder + "." + name + ".XXXXXX";
    std::vector<char> pattern(temporary.begin(), temporary.end());
    pattern.push_back('\0');
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return Result(std::in_place_index<1>, Reason());
    temporary = pattern.data();
    std::optional<std::string> failure;
    const mode_t mask = umask(0);
    umask(mask);
    if (!WriteAll(fd, bytes) || fchmod(fd, 0666 & ~mask) != 0 || fsync(fd) != 0) failure = Reason();
    if (close(fd) != 0 && !failure) failure = Reason();
    if (failure) {
        unlink(temporary.c_str());
        return Result(std::in_place_index<1>, *failure);
    }
    return Result(std::in_place_index<0>, temporary);
}

}  // namespace

Creation CreateNewFile(const std::string& path, std::string_view bytes) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    auto written = WriteTemporary(folder, name, bytes);
    if (written.index() == 1) return {Creation::Result::kFailed, std::get<1>(written)};
    const std::string& temporary = std::get<0>(written);
    // link() gives the bytes their name only where the name is free, in one step.
    Creation creation{Creation::Result::kCreated, {}};
    if (link(temporary.c_str(), path.c_str()) != 0) {
        creation = errno == EEXIST ? Creation{Creation::Result::kTaken, {}}
                                   : Creation{Creation::Result::kFailed, Reason()};
    }
    unlink(temporary.c_str());
    if (creation.result == Creation::Result::kCreated) {
        if (const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
            fsync(dir);
            close(dir);
        }
    }
    return creation;
}

std::optional<std::string> CheckCanWriteIn(const std::string& folder, std::size_t size) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) return Reason();
    if (!S_ISDIR(info.st_mode)) return std::strerror(ENOTDIR);
    auto written = WriteTemporary(folder + "/", "vantor-check", std::string(size, '\0'));
    if (written.index() == 1) return std::get<1>(written);
    unlink(std::get<0>(written).c_str());
    return std::nullopt;
}

std::optional<std::string> CheckCanAppend(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        close(fd);
        return std::nullopt;
    }
    if (errno != ENOENT) return Reason();
    // Not there yet: its folder must take a new file. A file of that name made here, even for a moment,
    // could be another run's that has just appeared, so the check makes one of its own name instead.
    const std::size_t slash = path.rfind('/');
    return CheckCanWriteIn(slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash), 0);
}
