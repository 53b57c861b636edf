#include "cli/Output.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <ctime>

namespace cli {

namespace {

std::string g_outputFailure;

}  // namespace

void Print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && g_outputFailure.empty()) {
        g_outputFailure = std::strerror(errno);
    }
}

const std::string& OutputFailure() { return g_outputFailure; }

bool ErrorIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "vantorctl: %s\nTry 'vantorctl --help'.\n", message.c_str());
    return kBadUsage;
}

std::string UtcNow(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char stamp[64];
    return std::strftime(stamp, sizeof stamp, format, &utc) > 0 ? stamp : "";
}

std::mutex& StandardErrorLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace cli
