// The Windows window's start-up, as Windows (or wine) runs it: vantor-radio-config.exe started as a
// process of its own, the time until its window waits for input, and its memory then. Run under wine by
// bench/win32-startup.sh.
#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: win32_startup_bench PATH\\vantor-radio-config.exe\n");
        return 2;
    }
    std::string command = std::string("\"") + argv[1] + "\" --no-settings";
    constexpr int kRuns = 5;
    double totalMs = 0, worstMs = 0;
    SIZE_T workingSet = 0;
    for (int run = 0; run < kRuns; ++run) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        const auto start = std::chrono::steady_clock::now();
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            std::fprintf(stderr, "win32_startup_bench: cannot start %s\n", argv[1]);
            return 1;
        }
        WaitForInputIdle(process.hProcess, 30000);
        // The dialog is up once its window carries the title.
        HWND window = nullptr;
        while (!(window = FindWindowA(nullptr, "Vantor Radio Config V1.2.4.5"))) Sleep(1);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        totalMs += ms;
        worstMs = ms > worstMs ? ms : worstMs;
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof memory;
        if (GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory)) workingSet = memory.WorkingSetSize;
        PostMessageA(window, WM_CLOSE, 0, 0);
        WaitForSingleObject(process.hProcess, 30000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    std::printf("win32 startup: window up %.0f ms after the process was started (mean of %d, worst %.0f ms)\n",
                totalMs / kRuns, kRuns, worstMs);
    std::printf("win32 startup: working set %.1f MB once up\n", workingSet / (1024.0 * 1024.0));
    return 0;
}
