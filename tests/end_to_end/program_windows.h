// Driving Varnolt.exe's windows from the test process: starting it, reading its windows'
// text, and waiting for what posted input leads to (test::WaitForWindow finds them).
#pragma once
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace e2e {

constexpr DWORD WAIT_MS = 30000;

inline std::wstring VarnoltPath()
{
    return test::ProgramFolder() + L"\\Varnolt.exe";
}

// Starts 'program' (Varnolt.exe next to the tests unless given) with 'arguments', in the
// current folder 'folder' (the test's own unless given).
inline PROCESS_INFORMATION StartVarnolt(const std::wstring& arguments, const std::wstring& program = VarnoltPath(),
                                        const wchar_t* folder = nullptr)
{
    std::wstring line = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    std::vector<wchar_t> text(line.begin(), line.end());
    text.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    EXPECT_TRUE(CreateProcessW(program.c_str(), text.data(), nullptr, nullptr, FALSE, 0, nullptr, folder, &startup,
                               &process));
    return process;
}

inline DWORD WaitForExit(PROCESS_INFORMATION& process)
{
    bool ended = WaitForSingleObject(process.hProcess, WAIT_MS) == WAIT_OBJECT_0;
    EXPECT_TRUE(ended);
    if (!ended)
        TerminateProcess(process.hProcess, 0xDEAD);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    process = {};
    return exitCode;
}

inline LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    EXPECT_TRUE(SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, WAIT_MS, &result));
    return static_cast<LRESULT>(result);
}

inline std::wstring TextOf(HWND window)
{
    auto length = static_cast<size_t>(Send(window, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(length + 1, L'\0');
    Send(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()));
    text.resize(wcslen(text.c_str()));
    return text;
}

using test::Eventually;

} // namespace e2e
