// bench_run [-m] <command line>: runs one command inside Wine and prints
// "seconds=<wall time> peak_kb=<peak private bytes> exit=<code>", so the timing leaves out
// the start of Wine's own loader. With -m the program's peak memory is sampled while it
// runs (Wine forgets it once the process ends); without, peak_kb is 0 and nothing polls.
// BENCH_LOCALAPPDATA, when set, becomes the program's LOCALAPPDATA (Wine sets its own over
// any passed from outside).
#include <windows.h>
#include <psapi.h>
#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    bool sampleMemory = argc == 3 && !wcscmp(argv[1], L"-m");
    if (argc != 2 && !sampleMemory) {
        fwprintf(stderr, L"usage: bench_run [-m] \"<command line>\"\n");
        return 2;
    }
    wchar_t* commandLine = argv[argc - 1];
    wchar_t localAppData[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"BENCH_LOCALAPPDATA", localAppData, MAX_PATH);
    if (length && length < MAX_PATH)
        SetEnvironmentVariableW(L"LOCALAPPDATA", localAppData);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
        fwprintf(stderr, L"cannot start: %lu\n", GetLastError());
        return 3;
    }
    ResumeThread(process.hThread);
    SIZE_T peak = 0;
    while (sampleMemory) {
        PROCESS_MEMORY_COUNTERS_EX counters{};
        if (GetProcessMemoryInfo(process.hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters)) {
            SIZE_T seen = counters.PeakPagefileUsage > counters.PrivateUsage ? counters.PeakPagefileUsage : counters.PrivateUsage;
            if (seen > peak)
                peak = seen;
        }
        if (WaitForSingleObject(process.hProcess, 2) != WAIT_TIMEOUT)
            break;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    QueryPerformanceCounter(&end);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    wprintf(L"seconds=%.6f peak_kb=%llu exit=%lu\n", double(end.QuadPart - begin.QuadPart) / frequency.QuadPart,
            static_cast<unsigned long long>(peak / 1024), exitCode);
    return 0;
}
