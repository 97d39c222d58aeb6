// The console as a user meets it: Varnolt.exe started without a command line, driven from
// this process through its window.
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <string>
#include <vector>

namespace {

constexpr int FIELD = 300;
constexpr int BROWSE = 303;
constexpr int PROMPT = 304;
constexpr int LOG = 305;
constexpr UINT SUBMENU_OF_BUTTON = WM_USER + 401;
constexpr DWORD WAIT_MS = 30000;

std::wstring VarnoltPath()
{
    return test::ProgramFolder() + L"\\Varnolt.exe";
}

struct Console {
    PROCESS_INFORMATION process = {};
    HWND dialog = nullptr;
};

// The top-level window titled "Varnolt" of class 'windowClass' that 'processId' shows.
HWND FindProgramWindow(DWORD processId, const wchar_t* windowClass, const wchar_t* title)
{
    for (HWND window = FindWindowExW(nullptr, nullptr, windowClass, title); window;
         window = FindWindowExW(nullptr, window, windowClass, title)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId && IsWindowVisible(window))
            return window;
    }
    return nullptr;
}

HWND WaitForWindow(DWORD processId, const wchar_t* windowClass, const wchar_t* title)
{
    for (DWORD waited = 0; waited < WAIT_MS; waited += 20) {
        if (HWND window = FindProgramWindow(processId, windowClass, title))
            return window;
        Sleep(20);
    }
    return nullptr;
}

PROCESS_INFORMATION StartVarnolt(const std::wstring& arguments)
{
    std::wstring line = L"\"" + VarnoltPath() + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    std::vector<wchar_t> text(line.begin(), line.end());
    text.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    EXPECT_TRUE(CreateProcessW(VarnoltPath().c_str(), text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    return process;
}

Console OpenConsole(const std::wstring& arguments = L"")
{
    Console console;
    console.process = StartVarnolt(arguments);
    console.dialog = WaitForWindow(console.process.dwProcessId, L"#32770", L"Varnolt");
    EXPECT_NE(console.dialog, nullptr);
    return console;
}

DWORD WaitForExit(PROCESS_INFORMATION& process)
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

DWORD CloseConsole(Console& console, UINT command)
{
    PostMessageW(console.dialog, WM_COMMAND, MAKEWPARAM(command, 0), 0);
    return WaitForExit(console.process);
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    EXPECT_TRUE(SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, WAIT_MS, &result));
    return static_cast<LRESULT>(result);
}

std::wstring TextOf(HWND window)
{
    auto length = static_cast<size_t>(Send(window, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(length + 1, L'\0');
    Send(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()));
    text.resize(wcslen(text.c_str()));
    return text;
}

std::wstring Text(const Console& console, int id)
{
    return TextOf(GetDlgItem(console.dialog, id));
}

void SetField(const Console& console, const std::wstring& text)
{
    Send(GetDlgItem(console.dialog, FIELD), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// The menu bar: a window owned by the dialog, holding the toolbar.
HWND BarOf(const Console& console)
{
    for (HWND window = GetTopWindow(nullptr); window; window = GetWindow(window, GW_HWNDNEXT))
        if (GetWindow(window, GW_OWNER) == console.dialog && FindWindowExW(window, nullptr, TOOLBARCLASSNAMEW, nullptr))
            return window;
    return nullptr;
}

bool IsExecuteEnabled(const Console& console)
{
    HWND toolbar = FindWindowExW(BarOf(console), nullptr, TOOLBARCLASSNAMEW, nullptr);
    EXPECT_NE(toolbar, nullptr);
    return Send(toolbar, TB_ISBUTTONENABLED, 1, 0) != 0;
}

// Waits until 'check' holds, for up to WAIT_MS: keys and clicks posted to the console are
// handled after any message sent to it, so their effect is awaited instead.
template <typename Check>
bool Eventually(Check check)
{
    for (DWORD waited = 0; waited < WAIT_MS; waited += 20) {
        if (check())
            return true;
        Sleep(20);
    }
    return check();
}

// Runs the field as the Execute button does; the command has run when the call returns.
void Execute(const Console& console, const std::wstring& line)
{
    SetField(console, line);
    Send(console.dialog, WM_COMMAND, MAKEWPARAM(1, 0), 0);
}

// The result line of a result that has no system message, and the empty line after it.
std::wstring ResultLine(DWORD result)
{
    wchar_t line[32];
    wsprintfW(line, L"     %08X \r\n\r\n", result);
    return line;
}

// The log entry of a line whose result has no system message.
std::wstring Entry(const std::wstring& line, DWORD result)
{
    return line + L"\r\n" + ResultLine(result);
}

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::HasDisplay())
            GTEST_SKIP() << "no display";
    }
};

TEST_F(ConsoleTest, OpensWithItsControlsAndLogsEachLine)
{
    Console console = OpenConsole();
    ASSERT_NE(console.dialog, nullptr);
    EXPECT_EQ(TextOf(console.dialog), L"Varnolt");
    EXPECT_EQ(Text(console, PROMPT), L"请输入要执行的命令，命令解释引擎将为您执行它。");
    EXPECT_EQ(Text(console, FIELD), L"");
    EXPECT_EQ(Text(console, BROWSE), L"...");
    EXPECT_EQ(Text(console, LOG), L"");
    EXPECT_FALSE(IsExecuteEnabled(console));
    SetField(console, L"EVAL x=1234567");
    EXPECT_TRUE(IsExecuteEnabled(console));

    Execute(console, L"EVAL x=1234567");
    EXPECT_EQ(Text(console, LOG), Entry(L"EVAL x=1234567", 1234567));
    SetField(console, L"EVAL 1=a,b");           // Enter runs the field too
    HWND field = GetDlgItem(console.dialog, FIELD);
    PostMessageW(field, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(field, WM_KEYUP, VK_RETURN, 0xC0000001);
    EXPECT_TRUE(Eventually([&] { return Text(console, LOG).find(L"EVAL 1=") != std::wstring::npos; }));
    std::wstring log = Text(console, LOG);
    std::wstring start = Entry(L"EVAL x=1234567", 1234567) + L"EVAL 1=a\x01" L"b\r\n     00000000 ";
    EXPECT_EQ(log.compare(0, start.size(), start), 0) << test::Utf8(log);
    EXPECT_EQ(log.substr(log.size() - 4), L"\r\n\r\n");
    Send(console.dialog, WM_COMMAND, 404, 0);   // 清除日志
    EXPECT_EQ(Text(console, LOG), L"");
    Execute(console, L"EVAL x=77777");
    EXPECT_EQ(Text(console, LOG), Entry(L"EVAL x=77777", 77777));
    EXPECT_EQ(CloseConsole(console, 402), 0u);
}

TEST_F(ConsoleTest, SecondStartBringsTheOpenConsoleForward)
{
    Console console = OpenConsole();
    ASSERT_NE(console.dialog, nullptr);
    PROCESS_INFORMATION second = StartVarnolt(L"");
    EXPECT_NE(WaitForExit(second), 0u);
    EXPECT_EQ(WaitForSingleObject(console.process.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    Execute(console, L"VRUI");                  // from the console itself too
    EXPECT_NE(Text(console, LOG).find(L"VRUI\r\n     00000001"), std::wstring::npos) << test::Utf8(Text(console, LOG));
    EXPECT_EQ(CloseConsole(console, 2), 0u);
}

TEST_F(ConsoleTest, ArgumentFillsTheFieldAndBackKeyEmptiesIt)
{
    Console console = OpenConsole(L"VRUI EVAL x=3,4");
    ASSERT_NE(console.dialog, nullptr);
    EXPECT_EQ(Text(console, FIELD), L"EVAL x=3\x01" L"4");
    EXPECT_TRUE(IsExecuteEnabled(console));
    EXPECT_EQ(Text(console, LOG), L"");         // nothing runs until the user says so
    HWND log = GetDlgItem(console.dialog, LOG);
    PostMessageW(log, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageW(log, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    PostMessageW(log, WM_KEYDOWN, VK_ESCAPE, 1);
    PostMessageW(log, WM_KEYUP, VK_ESCAPE, 0xC0000001);
    EXPECT_TRUE(Eventually([&] { return Text(console, FIELD).empty(); }));
    EXPECT_FALSE(IsExecuteEnabled(console));
    EXPECT_EQ(FindProgramWindow(console.process.dwProcessId, L"#32770", L"Varnolt"), console.dialog);   // still open
    EXPECT_EQ(CloseConsole(console, 2), 0u);
}

TEST_F(ConsoleTest, LongRunKeepsItsNewestEntries)
{
    test::TempFolder folder;
    std::string script;
    constexpr int LINES = 40000;
    for (int i = 1; i <= LINES; ++i)
        script += "EVAL x=" + std::to_string(100000 + i) + "\r\n";
    test::WriteBytes(folder / L"long.vrs", script);
    Console console = OpenConsole();
    ASSERT_NE(console.dialog, nullptr);
    std::wstring line = L"LOAD " + folder / L"long.vrs";
    Execute(console, line);
    std::wstring log = Text(console, LOG);
    std::wstring last = Entry(L"EVAL x=" + std::to_wstring(100000 + LINES), 100000 + LINES);
    std::wstring tail = last + ResultLine(100000 + LINES);         // then the LOAD line's own result
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
    EXPECT_EQ(log.compare(0, 7, L"EVAL x="), 0);                    // whole entries went, oldest first
    EXPECT_LE(log.size(), 65536u);                                  // the log's capacity
    EXPECT_GT(log.size(), 40000u);
    EXPECT_EQ(CloseConsole(console, 2), 0u);
}

// The association toggle, with the machine's own file-type keys saved and put back.
class AssociationToggle : public ConsoleTest {
protected:
    const wchar_t* const KEYS[4] = {L".vrs", L".reg", L".provxml", L"Varnolt"};
    std::wstring backup = L"Software\\VarnoltTest-" + std::to_wstring(GetCurrentProcessId()) + L"-classes";

    void SetUp() override
    {
        ConsoleTest::SetUp();
        for (const wchar_t* key : KEYS)
            MoveClassKey(key, true);
    }
    void TearDown() override
    {
        for (const wchar_t* key : KEYS)
            MoveClassKey(key, false);
        RegDeleteTreeW(HKEY_CURRENT_USER, backup.c_str());
    }
    // Moves HKCR\'name' into the backup key (or back), whatever the target held.
    void MoveClassKey(const wchar_t* name, bool save)
    {
        HKEY classes = nullptr, saved = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, backup.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &saved, nullptr);
        RegOpenKeyExW(HKEY_CLASSES_ROOT, nullptr, 0, KEY_ALL_ACCESS, &classes);
        HKEY from = save ? classes : saved, to = save ? saved : classes;
        RegDeleteTreeW(to, name);
        HKEY source = nullptr, target = nullptr;
        if (RegOpenKeyExW(from, name, 0, KEY_READ, &source) == ERROR_SUCCESS) {
            RegCreateKeyExW(to, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target, nullptr);
            EXPECT_EQ(RegCopyTreeW(source, nullptr, target), ERROR_SUCCESS);
            RegCloseKey(target);
            RegCloseKey(source);
            RegDeleteTreeW(from, name);
            RegDeleteKeyW(from, name);
        }
        RegCloseKey(classes);
        RegCloseKey(saved);
    }
    // Opens the menu (so its check mark is set), picks the toggle, and answers the message
    // it shows; returns that message.
    std::wstring Toggle(const Console& console)
    {
        auto menu = static_cast<WPARAM>(Send(BarOf(console), SUBMENU_OF_BUTTON, 0, 2));
        Send(console.dialog, WM_INITMENUPOPUP, menu, MAKELPARAM(2, 0));
        PostMessageW(console.dialog, WM_COMMAND, 403, 0);
        HWND box = WaitForWindow(console.process.dwProcessId, L"#32770", L"文件关联");
        EXPECT_NE(box, nullptr);
        std::wstring message = box ? TextOf(GetDlgItem(box, 0xFFFF)) : L"";
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(Eventually([&] { return !IsWindow(box); }));
        return message;
    }
};

bool ClassKeyExists(const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, name, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

TEST_F(AssociationToggle, FollowsTheProgramsClassKey)
{
    Console console = OpenConsole();
    ASSERT_NE(console.dialog, nullptr);
    EXPECT_EQ(Toggle(console), L"已经把 VRS/REG/PROVXML 文件类型关联到 Varnolt 命令解释引擎。\n\n您现在可以在资源管理器中直接打开这些文件。");
    for (const wchar_t* key : KEYS)
        EXPECT_TRUE(ClassKeyExists(key)) << test::Utf8(key);
    EXPECT_EQ(Toggle(console), L"已经取消 VRS/REG/PROVXML 文件类型关联。");
    for (const wchar_t* key : KEYS)
        EXPECT_FALSE(ClassKeyExists(key)) << test::Utf8(key);
    HKEY classKey = nullptr;                    // the class key alone counts as associated
    RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Varnolt", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &classKey, nullptr);
    RegCloseKey(classKey);
    EXPECT_EQ(Toggle(console), L"已经取消 VRS/REG/PROVXML 文件类型关联。");
    EXPECT_FALSE(ClassKeyExists(L"Varnolt"));
    EXPECT_EQ(CloseConsole(console, 402), 0u);
}

} // namespace
