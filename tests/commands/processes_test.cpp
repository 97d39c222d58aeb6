#include "commands/commands.h"
#include "platform/device_calls.h"
#include "support/outward_calls_guard.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <cwchar>

namespace {

// --- a recorder in place of the device calls: nothing is reset, pressed or rotated ---

std::wstring deviceLog;
BOOL kernelAnswer, cleanAnswer, powerOffAnswer, exitAnswer;
DWORD currentOrientation;
LONG testAnswer, resetAnswer;

void LogEntry(const wchar_t* format, unsigned long value)
{
    wchar_t entry[64];
    swprintf(entry, ARRAYSIZE(entry), format, value);
    deviceLog += entry;
}

BOOL RecordKernelIo(DWORD code, void* input, DWORD inputSize, void* output, DWORD outputSize, DWORD* returned)
{
    LogEntry(input || inputSize || output || outputSize || returned ? L"io %08lX with buffers;" : L"io %08lX;", code);
    return kernelAnswer;
}

BOOL RecordCleanBoot()
{
    deviceLog += L"clean;";
    return cleanAnswer;
}

BOOL RecordPowerOff()
{
    deviceLog += L"off;";
    return powerOffAnswer;
}

BOOL RecordExit(UINT flags, DWORD reason)
{
    LogEntry(reason ? L"exit %lu with reason;" : L"exit %lu;", flags);
    return exitAnswer;
}

void RecordKey(BYTE key, BYTE scan, DWORD flags, ULONG_PTR extra)
{
    LogEntry(scan || extra ? L"key %lu with extras" : L"key %lu", key);
    LogEntry(L" %lu;", flags);
}

LONG RecordDisplay(const wchar_t* device, DEVMODEW* mode, HWND window, DWORD flags, void* parameter)
{
    if (device || window || parameter || mode->dmSize != sizeof(DEVMODEW) || mode->dmFields != DM_DISPLAYORIENTATION)
        deviceLog += L"odd record;";
    if (flags == CDS_TEST) {
        deviceLog += L"test;";
        mode->dmDisplayOrientation = currentOrientation;
        return testAnswer;
    }
    LogEntry(flags == CDS_RESET ? L"reset %lu;" : L"other %lu;", mode->dmDisplayOrientation);
    if (resetAnswer == DISP_CHANGE_SUCCESSFUL)
        currentOrientation = mode->dmDisplayOrientation;
    return resetAnswer;
}

struct DeviceRecorder : test::OutwardCallsGuard {
    explicit DeviceRecorder(BOOL answer)
    {
        outwardCalls.kernelIoControl = RecordKernelIo;
        outwardCalls.setCleanRebootFlag = RecordCleanBoot;
        outwardCalls.powerOffSystem = RecordPowerOff;
        outwardCalls.exitWindows = RecordExit;
        outwardCalls.keyEvent = RecordKey;
        outwardCalls.changeDisplaySettings = RecordDisplay;
        outwardCalls.playSound = nullptr;
        deviceLog.clear();
        kernelAnswer = cleanAnswer = powerOffAnswer = exitAnswer = answer;
    }
};

// --- SHUT ---

struct ShutCase {
    const wchar_t* script;
    const wchar_t* calls;
    DWORD resultWhenCallsFail;
    int line;
};
#define SHUT_CASE(s, c, r) {s, c, r, __LINE__}

const ShutCase SHUT_CASES[] = {
    SHUT_CASE(L"SHUT R", L"io 0101003C;", 1),
    SHUT_CASE(L"SHUT r", L"io 0101003C;", 1),
    SHUT_CASE(L"SHUT C", L"clean;io 0101003C;", 1),
    SHUT_CASE(L"SHUT H", L"io 01012048;clean;io 0101003C;", 1),
    SHUT_CASE(L"SHUT H5", L"io 01012048;clean;io 0101003C;", 1),
    SHUT_CASE(L"SHUT h0123", L"io 0000007B;clean;io 0101003C;", 1),   // maker's code in decimal
    SHUT_CASE(L"SHUT K", L"key 223 4;key 223 6;", 0),                 // the power key always counts as done
    SHUT_CASE(L"SHUT P", L"exit 8;", 1),
    SHUT_CASE(L"SHUT G", L"off;", 1),
    SHUT_CASE(L"SHUT s", L"io 01012000;off;", 1),
    SHUT_CASE(L"SHUT X", L"exit 2;", 1),
    SHUT_CASE(L"SHUT", L"exit 2;", 1),
};

TEST(Shut, ModesCallTheirChains)
{
    for (BOOL answer : {TRUE, FALSE}) {
        for (const auto& c : SHUT_CASES) {
            DeviceRecorder recorder(answer);
            DWORD expected = answer ? 0 : c.resultWhenCallsFail;
            EXPECT_EQ(test::Run(c.script), expected) << "case at line " << c.line;
            EXPECT_EQ(deviceLog, c.calls) << "case at line " << c.line;
        }
    }
}

TEST(Shut, OnlyTheLastCallOfAChainCounts)
{
    DeviceRecorder recorder(TRUE);
    cleanAnswer = FALSE;
    EXPECT_EQ(test::Run(L"SHUT C"), 0u);
    kernelAnswer = FALSE;
    powerOffAnswer = TRUE;
    EXPECT_EQ(test::Run(L"SHUT S"), 0u);
    EXPECT_EQ(test::Run(L"SHUT H"), 1u);
}

TEST(Shut, DesktopStandInsReportNotSupported)
{
    test::OutwardCallsGuard guard;
    InstallDeviceCalls();                         // the stand-ins themselves, never a real exit or key
    outwardCalls.exitWindows = RecordExit;
    outwardCalls.keyEvent = RecordKey;
    deviceLog.clear();
    for (const wchar_t* script : {L"SHUT R", L"SHUT C", L"SHUT H", L"SHUT G", L"SHUT S"}) {
        SetLastError(0);
        EXPECT_EQ(test::Run(script), 1u) << test::Utf8(script);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED)) << test::Utf8(script);
    }
    EXPECT_EQ(deviceLog, L"");
}

// --- SEND ---

struct SendCase {
    const wchar_t* script;
    const wchar_t* keys;
    DWORD result;
    int line;
};
#define SEND_CASE(s, k, r) {s, k, r, __LINE__}

const SendCase SEND_CASES[] = {
    SEND_CASE(L"SEND 65", L"key 65 0;key 65 2;", 0),
    SEND_CASE(L"SEND 16_,65,16^", L"key 16 0;key 65 0;key 65 2;key 16 2;", 0),
    SEND_CASE(L"SEND 321", L"key 65 0;key 65 2;", 0),                   // low 8 bits
    SEND_CASE(L"SEND", L"key 0 0;key 0 2;", 1),
    SEND_CASE(L"SEND 65,0", L"key 65 0;key 65 2;key 0 0;key 0 2;", 1),   // the last key decides
    SEND_CASE(L"SEND 65,", L"key 65 0;key 65 2;key 0 0;key 0 2;", 1),
    SEND_CASE(L"SEND ,66", L"key 0 0;key 0 2;key 66 0;key 66 2;", 0),
    SEND_CASE(L"SEND 9_", L"key 9 0;", 0),
    SEND_CASE(L"SEND 9^", L"key 9 2;", 0),
};

TEST(Send, KeyStrokes)
{
    for (const auto& c : SEND_CASES) {
        DeviceRecorder recorder(TRUE);
        EXPECT_EQ(test::Run(c.script), c.result) << "case at line " << c.line;
        EXPECT_EQ(deviceLog, c.keys) << "case at line " << c.line;
    }
}

// --- DISP ---

TEST(Disp, TogglesAndSetsOrientation)
{
    DeviceRecorder recorder(TRUE);
    testAnswer = resetAnswer = DISP_CHANGE_SUCCESSFUL;
    currentOrientation = DMDO_DEFAULT;
    EXPECT_EQ(test::Run(L"DISP"), 0u);
    EXPECT_EQ(test::Run(L"DISP"), 0u);
    EXPECT_EQ(test::Run(L"DISP 2"), 0u);
    EXPECT_EQ(test::Run(L"DISP"), 0u);                  // from 180 degrees the toggle goes to 0
    EXPECT_EQ(deviceLog, L"test;reset 1;test;reset 0;test;reset 2;test;reset 0;");
}

TEST(Disp, ReturnsThePlatformsValue)
{
    DeviceRecorder recorder(TRUE);
    currentOrientation = DMDO_DEFAULT;
    testAnswer = DISP_CHANGE_BADMODE;
    EXPECT_EQ(test::Run(L"DISP 1"), static_cast<DWORD>(DISP_CHANGE_BADMODE));
    EXPECT_EQ(deviceLog, L"test;");                     // a failed test changes nothing
    testAnswer = DISP_CHANGE_SUCCESSFUL;
    resetAnswer = DISP_CHANGE_RESTART;
    EXPECT_EQ(test::Run(L"DISP 1"), static_cast<DWORD>(DISP_CHANGE_RESTART));
}

// --- EXEC and KILL on copies of a test program with names no other process has ---

struct SleeperCopy {
    test::TempFolder folder;
    std::wstring stem = test::UniqueName(L"vsleep");
    std::wstring Copy(const wchar_t* suffix)
    {
        std::wstring path = folder / (stem + suffix + L".exe");
        CopyFileW((test::ProgramFolder() + L"\\varnolt_sleeper.exe").c_str(), path.c_str(), FALSE);
        return path;
    }
};

HANDLE StartProcess(const std::wstring& path, const wchar_t* arguments)
{
    std::wstring line = L"\"" + path + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

TEST(Exec, WaitsForTheProgram)
{
    SleeperCopy sleeper;
    std::wstring program = sleeper.Copy(L"w");
    std::wstring marker = sleeper.folder / L"done";
    EXPECT_EQ(test::Run(L"EXEC " + program + L",300 \"" + marker + L"\""), 0u);
    EXPECT_TRUE(test::Exists(marker));                      // written by the program just before it ended
}

TEST(Exec, WithoutWaitingThenKill)
{
    SleeperCopy sleeper;
    std::wstring program = sleeper.Copy(L"n");
    std::wstring marker = sleeper.folder / L"done";
    DWORD start = GetTickCount();
    EXPECT_EQ(test::Run(L"EXEC !" + program + L",8000 \"" + marker + L"\""), 0u);
    EXPECT_LT(GetTickCount() - start, 4000u);
    EXPECT_FALSE(test::Exists(marker));
    EXPECT_EQ(test::Run(L"KILL " + sleeper.stem + L"N.EXE"), 0u);   // ASCII case ignored
    EXPECT_EQ(test::Run(L"KILL " + sleeper.stem + L"n"), 1u);       // nothing left to end
}

TEST(Exec, MissingFileGivesPlatformError)
{
    test::TempFolder folder;
    EXPECT_EQ(test::Run(L"EXEC " + folder / L"absent.exe"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(test::Run(L"EXEC !" + folder / L"absent.exe"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Kill, EndsEveryMatchOnly)
{
    SleeperCopy sleeper;
    HANDLE first = StartProcess(sleeper.Copy(L"a"), L"10000");
    HANDLE second = StartProcess(sleeper.Copy(L"b"), L"10000");
    HANDLE other = StartProcess(sleeper.Copy(L"c"), L"10000");
    ASSERT_TRUE(first && second && other);
    std::wstring prefix = sleeper.stem;
    for (auto& unit : prefix)
        unit = static_cast<wchar_t>(towupper(unit));
    EXPECT_EQ(test::Run(L"KILL " + prefix + L"A"), 0u);
    EXPECT_EQ(test::Run(L"KILL " + sleeper.stem + L"b.exe"), 0u);
    for (HANDLE process : {first, second}) {
        EXPECT_EQ(WaitForSingleObject(process, 5000), WAIT_OBJECT_0);
        DWORD code = 7;
        GetExitCodeProcess(process, &code);
        EXPECT_EQ(code, 0u);                                       // ended by KILL, not by itself
        CloseHandle(process);
    }
    EXPECT_EQ(WaitForSingleObject(other, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(other, 0);
    CloseHandle(other);
}

TEST(Kill, NothingMatchesOrEmptyName)
{
    EXPECT_EQ(test::Run(L"KILL " + test::UniqueName(L"vnothing")), 1u);
    EXPECT_EQ(test::Run(L"KILL"), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// --- POST against a window of the test's own ---

struct Received {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::wstring text;
};
Received received;
constexpr UINT TEXT_MESSAGE = WM_APP + 2;

std::wstring keyLog;

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN || message == WM_KEYUP)
        keyLog += (message == WM_KEYDOWN ? L"down " : L"up ") + std::to_wstring(wParam) + L";";
    if (message < WM_APP || message > 0xFFFF)
        return DefWindowProcW(window, message, wParam, lParam);
    received = {message, wParam, lParam, L""};
    if (message == TEXT_MESSAGE) {
        received.text = reinterpret_cast<const wchar_t*>(lParam);
        return static_cast<LRESULT>(received.text.size());
    }
    return static_cast<LRESULT>(wParam * 100 + lParam);
}

struct TestWindow {
    std::wstring className = test::UniqueName(L"VarnoltPost");
    HWND window = nullptr;
    TestWindow()
    {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = TestWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = className.c_str();
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, className.c_str(), L"", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr, nullptr,
                                 windowClass.hInstance, nullptr);
    }
    ~TestWindow()
    {
        DestroyWindow(window);
        UnregisterClassW(className.c_str(), GetModuleHandleW(nullptr));
    }
    void Pump()
    {
        MSG message;
        while (PeekMessageW(&message, window, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
};

struct PostCase {
    const wchar_t* arguments;   // after "POST [=]<class>"
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD sendResult;
    int line;
};
#define POST_CASE(a, m, w, l, r) {a, m, w, l, r, __LINE__}

const PostCase POST_CASES[] = {
    POST_CASE(L",32769,#5,#7", WM_APP + 1, 5, 7, 507),
    POST_CASE(L",32769,x5,#-1", WM_APP + 1, 5, -1, 499),        // any mark is skipped
    POST_CASE(L",32769", WM_APP + 1, 0, 0, 0),
    POST_CASE(L",32769,,#7", WM_APP + 1, 0, 7, 7),              // an empty argument is 0
};

TEST(Post, SendAndPostToOwnWindow)
{
    if (!test::HasDisplay())
        GTEST_SKIP() << "no display";
    TestWindow target;
    ASSERT_TRUE(target.window);
    for (const auto& c : POST_CASES) {
        received = {};
        EXPECT_EQ(test::Run(L"POST =" + target.className + c.arguments), c.sendResult) << "case at line " << c.line;
        EXPECT_EQ(received.message, c.message) << "case at line " << c.line;
        EXPECT_EQ(received.wParam, c.wParam) << "case at line " << c.line;
        EXPECT_EQ(received.lParam, c.lParam) << "case at line " << c.line;
        received = {};
        EXPECT_NE(test::Run(L"POST " + target.className + c.arguments), 0u) << "case at line " << c.line;
        EXPECT_EQ(received.message, 0u) << "posted, not sent; case at line " << c.line;
        target.Pump();
        EXPECT_EQ(received.message, c.message) << "case at line " << c.line;
        EXPECT_EQ(received.wParam, c.wParam) << "case at line " << c.line;
        EXPECT_EQ(received.lParam, c.lParam) << "case at line " << c.line;
    }
}

TEST(Post, TextParameterIsPassedInPlace)
{
    if (!test::HasDisplay())
        GTEST_SKIP() << "no display";
    TestWindow target;
    wchar_t args[MAX_PATH_CHARS];
    swprintf(args, MAX_PATH_CHARS, L"=%ls\x01%u\x01#1\x01$hello world", target.className.c_str(), TEXT_MESSAGE);
    EXPECT_EQ(PostWindowMessage(args), 11u);
    EXPECT_EQ(received.text, L"hello world");
}

TEST(Post, BroadcastReachesOwnWindow)
{
    if (!test::HasDisplay())
        GTEST_SKIP() << "no display";
    TestWindow target;
    UINT message = RegisterWindowMessageW(test::UniqueName(L"VarnoltBroadcast").c_str());   // nobody else knows it
    received = {};
    EXPECT_NE(test::Run(L"POST $anything," + std::to_wstring(message) + L",#9,#10"), 0u);
    target.Pump();
    EXPECT_EQ(received.message, message);
    EXPECT_EQ(received.wParam, 9u);
    EXPECT_EQ(received.lParam, 10);
}

TEST(Send, KeysReachTheForegroundWindow)
{
    if (!test::HasDisplay())
        GTEST_SKIP() << "no display";
    TestWindow target;
    ShowWindow(target.window, SW_SHOW);
    SetForegroundWindow(target.window);
    SetFocus(target.window);
    target.Pump();
    if (GetForegroundWindow() != target.window)
        GTEST_SKIP() << "the test window is not in front; keys would reach another window";
    test::OutwardCallsGuard guard;
    InstallDeviceCalls();
    auto pressKey = outwardCalls.keyEvent;
    outwardCalls = guard.saved;
    outwardCalls.keyEvent = pressKey;         // the platform's own key presses, and no other device call
    keyLog.clear();
    wchar_t keys[] = L"16_\x01" L"65\x01" L"16^";
    EXPECT_EQ(SendKeys(keys), 0u);
    for (int attempt = 0; attempt < 20 && keyLog.size() < 4 * 6; ++attempt) {
        Sleep(20);
        target.Pump();
    }
    EXPECT_EQ(keyLog, L"down 16;down 65;up 65;up 16;");
}

TEST(Post, MissingMessageOrWindow)
{
    EXPECT_EQ(test::Run(L"POST SomeClass"), static_cast<DWORD>(E_INVALIDARG));
    EXPECT_EQ(test::Run(L"POST =SomeClass"), static_cast<DWORD>(E_INVALIDARG));
    std::wstring absent = test::UniqueName(L"VarnoltAbsent");
    EXPECT_EQ(test::Run(L"POST " + absent + L",32769"), 0u);       // not queued anywhere
    EXPECT_EQ(test::Run(L"POST =" + absent + L",32769"), 0u);
    MSG stray;
    EXPECT_FALSE(PeekMessageW(&stray, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));   // no thread message either
}

} // namespace
