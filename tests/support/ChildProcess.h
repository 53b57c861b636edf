#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

// One of the project's programs run as a user runs it, its standard output and error read back through
// a pipe. Killed, if still running, when the object goes.
class ChildProcess {
public:
    // Every generous wait below ends after this: only a hang runs into it.
    static constexpr std::chrono::seconds kPatience{10};

    // `environment` entries NAME=value replace that variable; a bare NAME removes it.
    ChildProcess(const std::string& program, std::vector<std::string> args,
                 const std::vector<std::string>& environment = {}) {
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string_view entry(*e);
            const auto named = [&](const std::string& change) {
                return entry.starts_with(change.substr(0, change.find('=')) + "=");
            };
            if (std::none_of(environment.begin(), environment.end(), named)) env.emplace_back(entry);
        }
        for (const std::string& change : environment) {
            if (change.find('=') != std::string::npos) env.push_back(change);
        }
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        m_out = out[0];
    }

    ~ChildProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) ::close(m_out);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The first line of output, or what came before the output ended or the time ran out.
    std::string FirstLine() {
        while (m_text.find('\n') == std::string::npos && ReadSome()) {
        }
        return m_text.substr(0, m_text.find('\n'));
    }

    // Reads on until the output holds `text` `times` times; false when it ended or the time ran out first.
    bool WaitForOutput(std::string_view text, std::size_t times = 1) {
        const auto count = [&] {
            std::size_t n = 0;
            for (auto at = m_text.find(text); at != std::string::npos; at = m_text.find(text, at + text.size())) ++n;
            return n;
        };
        while (count() < times) {
            if (!ReadSome()) return false;
        }
        return true;
    }
    const std::string& OutputSoFar() const { return m_text; }

    std::string AllOutput() {
        while (ReadSome()) {
        }
        return m_text;
    }

    // The exit status (128 + the signal for a process a signal ended) once the process has ended; -1 if
    // it is still running after kPatience.
    int Wait() {
        return Until([&] {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) != m_pid) return false;
            m_pid = -1;
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        })
                   ? m_status
                   : -1;
    }

    // Waits until the process has a handler of its own for the signal (its SigCgt mask says so); false
    // when it still has none after kPatience.
    bool WaitUntilItHandles(int signal) {
        return Until([&] {
            std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
            for (std::string line; std::getline(status, line);) {
                if (line.starts_with("SigCgt:"))
                    return ((std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1U) != 0;
            }
            return false;
        });
    }

    void Signal(int signal) { ::kill(m_pid, signal); }

private:
    template <class Condition>
    static bool Until(Condition done) {
        const auto end = std::chrono::steady_clock::now() + kPatience;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    bool ReadSome() {
        pollfd fd{m_out, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) <= 0) return false;
        char buffer[4096];
        const ssize_t n = ::read(m_out, buffer, sizeof buffer);
        if (n <= 0) return false;
        m_text.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_status = -1;
    std::string m_text;
};

}  // namespace testsupport
