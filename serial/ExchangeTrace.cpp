#include "serial/ExchangeTrace.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

double MonotonicMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

Reading<std::unique_ptr<ExchangeTrace>> ExchangeTrace::Open(const std::string& path) {
    // Appended to, and not handed on to programs started meanwhile ("e" in the C library here, "N" in
    // the Windows one).
#ifdef _WIN32
    std::FILE* file = std::fopen(path.c_str(), "aN");
#else
    std::FILE* file = std::fopen(path.c_str(), "ae");
#endif
    using Opened = Reading<std::unique_ptr<ExchangeTrace>>;
    if (!file) {
        const int error = errno;
        return Opened::Failed(Outcome::Failed(Outcome::Kind::kFileFailed, std::strerror(error), path, error));
    }
    return Opened::Of(std::make_unique<ExchangeTrace>(file));
}

ExchangeTrace::ExchangeTrace(std::FILE* file, Clock clock) : m_file(file), m_clock(std::move(clock)) {
    if (!m_clock) m_clock = MonotonicMs;
}

ExchangeTrace::~ExchangeTrace() {
    Closed();
    std::fclose(m_file);
}

void ExchangeTrace::Stamp() { std::fprintf(m_file, "%.3f", m_clock()); }

void ExchangeTrace::Bytes(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t byte : bytes) std::fprintf(m_file, " %02X", byte);
}

void ExchangeTrace::EndLine() {
    std::fputc('\n', m_file);
    if ((std::fflush(m_file) != 0 || std::ferror(m_file)) && m_failure.empty())
        m_failure = std::strerror(errno);
    m_waiting = false;
}

void ExchangeTrace::Sent(std::span<const std::uint8_t> bytes) {
    Closed();
    Stamp();
    std::fputs(" >", m_file);
    Bytes(bytes);
    m_waiting = true;
}

void ExchangeTrace::Received(std::span<const std::uint8_t> bytes) {
    if (m_waiting) std::fputs(" | ", m_file);
    Stamp();
    std::fputs(" <", m_file);
    Bytes(bytes);
    EndLine();
}

void ExchangeTrace::Closed() {
    if (!m_waiting) return;
    std::fputs(" | no reply", m_file);
    EndLine();
}

void ExchangeTrace::Discarded(std::span<const std::uint8_t> bytes) {
    Closed();
    Stamp();
    std::fputs(" discarded", m_file);
    Bytes(bytes);
    EndLine();
}
