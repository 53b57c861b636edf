// The program itself, started as a user starts it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

extern char** environ;

namespace {

constexpr char kProgram[] = VANTOR_PROGRAM_PATH;
constexpr auto kPatience = std::chrono::seconds(20);

// Whether the process has a handler of its own for the signal (the SigCgt mask of /proc/PID/status).
bool Catches(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("SigCgt:"))
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1U;
    }
    return false;
}

// The exit status, or -1 when the process was still running after kPatience (it is then killed).
int WaitForExit(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

// A stop signal closes the window as its close box does, and the program ends normally instead of being
// killed with the port it may hold still open.
TEST(ProgramTest, StopSignalsEndItNormally) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        char* argv[] = {const_cast<char*>(kProgram), nullptr};
        pid_t pid = -1;
        ASSERT_EQ(posix_spawn(&pid, kProgram, nullptr, nullptr, argv, environ), 0);
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (!Catches(pid, signal) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(Catches(pid, signal)) << strsignal(signal);
        kill(pid, signal);
        EXPECT_EQ(WaitForExit(pid), 0) << strsignal(signal);
    }
}

}  // namespace
