// Drives a program's window from outside, for the console benchmarks:
//   bench_console startup <program> [arguments]   seconds until its first window is visible
//   bench_console execute <program> <line>        seconds for the console to run <line> typed
//                                                  into its command field (the run ends when
//                                                  the Execute command returns)
//   bench_console shown <program> [arguments]     seconds until its first window shows text in
//                                                  an HTML view or an edit control (laid out)
// They close the window afterwards; "keep" instead of "startup"/"execute" leaves it open.
//   bench_console post <program> <id>             leaves the console open with command <id>
//                                                  posted to it (401: the about box), for screenshots
//   bench_console run <program> <line>            leaves the console open with <line> started in
//                                                  it and running, for screenshots
#include <windows.h>
#include <cstdio>
#include <string>

namespace {

constexpr int COMMAND_FIELD = 300;
constexpr DWORD WAIT_MS = 60000;

struct Started {
    PROCESS_INFORMATION process;
    HWND window;
    double seconds;     // from the start to the window being visible
};

struct Search {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM data)
{
    auto& search = *reinterpret_cast<Search*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search.processId || !IsWindowVisible(window))
        return TRUE;
    search.found = window;
    return FALSE;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool Start(const std::wstring& program, const std::wstring& arguments, Started& started, LARGE_INTEGER& begin)
{
    std::wstring line = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&begin);
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started.process))
        return false;
    Search search = {started.process.dwProcessId, nullptr};
    for (DWORD waited = 0; !search.found && waited < WAIT_MS; ++waited) {
        EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
        if (!search.found)
            Sleep(1);
    }
    QueryPerformanceCounter(&end);
    started.window = search.found;
    started.seconds = Seconds(begin, end);
    return search.found != nullptr;
}

void Close(Started& started)
{
    PostMessageW(started.window, WM_COMMAND, IDCANCEL, 0);
    if (WaitForSingleObject(started.process.hProcess, WAIT_MS) != WAIT_OBJECT_0)
        TerminateProcess(started.process.hProcess, 1);
    CloseHandle(started.process.hThread);
    CloseHandle(started.process.hProcess);
}

// A window of the process that shows a page or a text in a child, and that child.
struct TextSearch {
    DWORD processId;
    HWND window;
    HWND child;
};

BOOL CALLBACK FindTextWindow(HWND window, LPARAM data)
{
    auto& search = *reinterpret_cast<TextSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search.processId || !IsWindowVisible(window))
        return TRUE;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t kind[32] = {};
        GetClassNameW(child, kind, ARRAYSIZE(kind));
        if (_wcsicmp(kind, L"DISPLAYCLASS") == 0 || _wcsicmp(kind, L"Edit") == 0) {
            search.window = window;
            search.child = child;
            return FALSE;
        }
    }
    return TRUE;
}

// Waits until a window of the program shows text (the page laid out, the edit control
// filled); the seconds from the program's start to then, -1 if that never happens. That
// window becomes the one closed afterwards.
double WaitForText(Started& started, const LARGE_INTEGER& begin)
{
    TextSearch search = {started.process.dwProcessId, nullptr, nullptr};
    DWORD_PTR length = 0;
    for (DWORD waited = 0; waited < WAIT_MS && !length; ++waited) {
        if (!search.child || !IsWindow(search.child)) {      // a window of the start may go again
            search = {started.process.dwProcessId, nullptr, nullptr};
            EnumWindows(FindTextWindow, reinterpret_cast<LPARAM>(&search));
        }
        if (!search.child || !SendMessageTimeoutW(search.child, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, WAIT_MS, &length))
            length = 0;
        if (!length)
            Sleep(1);
    }
    LARGE_INTEGER end;
    QueryPerformanceCounter(&end);
    if (search.window)
        started.window = search.window;
    return length ? Seconds(begin, end) : -1;
}

double Execute(HWND console, const wchar_t* commandLine)
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(GetDlgItem(console, COMMAND_FIELD), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(commandLine),
                        SMTO_NORMAL, WAIT_MS, &ignored);
    LARGE_INTEGER begin, end;
    QueryPerformanceCounter(&begin);
    SendMessageTimeoutW(console, WM_COMMAND, MAKEWPARAM(1, 0), 0, SMTO_NORMAL, 10 * WAIT_MS, &ignored);
    QueryPerformanceCounter(&end);
    return Seconds(begin, end);
}

// Puts the line into the command field once the console's menu bar is there, and posts
// Execute without waiting for the run.
void StartLine(HWND console, const wchar_t* commandLine)
{
    for (DWORD waited = 0; waited < WAIT_MS && !FindWindowExW(nullptr, nullptr, L"VarnoltMenuBar", nullptr); ++waited)
        Sleep(1);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(GetDlgItem(console, COMMAND_FIELD), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(commandLine),
                        SMTO_NORMAL, WAIT_MS, &ignored);
    PostMessageW(console, WM_COMMAND, MAKEWPARAM(1, 0), 0);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        fwprintf(stderr, L"usage: bench_console startup|execute|keep|post|shown <program> [arguments|line|id]\n");
        return 2;
    }
    std::wstring mode = argv[1];
    bool executing = mode == L"execute" || mode == L"keep" || mode == L"post" || mode == L"run";
    Started started = {};
    LARGE_INTEGER begin;
    if (!Start(argv[2], executing || argc < 4 ? L"" : argv[3], started, begin)) {
        fwprintf(stderr, L"no window appeared\n");
        return 3;
    }
    double seconds = started.seconds;
    if (mode == L"shown")
        seconds = WaitForText(started, begin);
    if (mode == L"post" && argc >= 4)
        PostMessageW(started.window, WM_COMMAND, MAKEWPARAM(_wtoi(argv[3]), 0), 0);
    else if (mode == L"run" && argc >= 4)
        StartLine(started.window, argv[3]);
    else if (executing && argc >= 4)
        seconds = Execute(started.window, argv[3]);
    wprintf(L"seconds=%.6f\n", seconds);
    if (mode == L"keep" || mode == L"post" || mode == L"run") {
        CloseHandle(started.process.hThread);
        CloseHandle(started.process.hProcess);
        return 0;
    }
    Close(started);
    return 0;
}
