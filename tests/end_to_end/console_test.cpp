// The console as a user meets it: Varnolt.exe started without a command line, driven from
// this process through its window.
#include "end_to_end/program_windows.h"
#include "support/browse_settings.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace e2e;

constexpr int FIELD = 300;
constexpr int BROWSE = 303;
constexpr int PROMPT = 304;
constexpr int LOG = 305;
constexpr int PROGRESS = 306;
constexpr UINT SUBMENU_OF_BUTTON = WM_USER + 401;

// The texts these tests check are the Chinese ones; the language tests choose their own.
[[maybe_unused]] const bool chineseTexts = SetEnvironmentVariableW(L"VARNOLT_LANG", L"zh");

struct Console {
    PROCESS_INFORMATION process = {};
    HWND dialog = nullptr;
};

HWND BarOf(HWND dialog);

// The console shows before its menu bar is built: a test waits for both.
Console OpenConsole(const std::wstring& arguments = L"", const std::wstring& program = VarnoltPath(),
                    const wchar_t* folder = nullptr)
{
    Console console;
    console.process = StartVarnolt(arguments, program, folder);
    console.dialog = test::WaitForWindow(console.process.dwProcessId, L"#32770", L"Varnolt");
    EXPECT_NE(console.dialog, nullptr);
    EXPECT_TRUE(Eventually([&] { return BarOf(console.dialog) != nullptr; }));
    return console;
}

DWORD CloseConsole(Console& console, UINT command)
{
    PostMessageW(console.dialog, WM_COMMAND, MAKEWPARAM(command, 0), 0);
    return WaitForExit(console.process);
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
HWND BarOf(HWND dialog)
{
    for (HWND window = GetTopWindow(nullptr); window; window = GetWindow(window, GW_HWNDNEXT))
        if (GetWindow(window, GW_OWNER) == dialog && FindWindowExW(window, nullptr, TOOLBARCLASSNAMEW, nullptr))
            return window;
    return nullptr;
}

HWND BarOf(const Console& console)
{
    return BarOf(console.dialog);
}

bool IsExecuteEnabled(const Console& console)
{
    HWND toolbar = FindWindowExW(BarOf(console), nullptr, TOOLBARCLASSNAMEW, nullptr);
    EXPECT_NE(toolbar, nullptr);
    return Send(toolbar, TB_ISBUTTONENABLED, 1, 0) != 0;
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

// Moves HKCU\'from' with everything in it to HKCU\'to', whatever 'to' held.
void MoveUserKey(const std::wstring& from, const std::wstring& to)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, to.c_str());
    HKEY source = nullptr, target = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, from.c_str(), 0, KEY_READ, &source) != ERROR_SUCCESS)
        return;
    RegCreateKeyExW(HKEY_CURRENT_USER, to.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target, nullptr);
    EXPECT_EQ(RegCopyTreeW(source, nullptr, target), ERROR_SUCCESS);
    RegCloseKey(target);
    RegCloseKey(source);
    RegDeleteTreeW(HKEY_CURRENT_USER, from.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, from.c_str());
}

// Every console keeps its lines and its place under HKCU\Software\Varnolt: the user's own
// are moved aside for the test and put back after it.
class ConsoleTest : public ::testing::Test {
protected:
    const std::wstring HISTORY = L"Software\\Varnolt\\History";
    const std::wstring savedHistory = L"Software\\VarnoltTest-" + std::to_wstring(GetCurrentProcessId()) + L"-console";
    std::vector<BYTE> place;
    bool hadPlace = false;

    void SetUp() override
    {
        if (!test::HasDisplay())
            GTEST_SKIP() << "no display";
        MoveUserKey(HISTORY, savedHistory);
        DWORD bytes = 0;
        hadPlace = RegGetValueW(HKEY_CURRENT_USER, L"Software\\Varnolt", L"ConsoleWindow", RRF_RT_ANY, nullptr,
                                nullptr, &bytes) == ERROR_SUCCESS;
        place.resize(bytes);
        if (hadPlace)
            RegGetValueW(HKEY_CURRENT_USER, L"Software\\Varnolt", L"ConsoleWindow", RRF_RT_ANY, nullptr, place.data(),
                         &bytes);
    }
    void TearDown() override
    {
        if (IsSkipped())
            return;
        MoveUserKey(savedHistory, HISTORY);
        if (hadPlace)
            RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Varnolt", L"ConsoleWindow", REG_SZ, place.data(),
                            static_cast<DWORD>(place.size()));
        else
            RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Varnolt", L"ConsoleWindow");
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
    EXPECT_EQ(test::WaitForWindow(console.process.dwProcessId, L"#32770", L"Varnolt", 0), console.dialog);   // still open
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
    EXPECT_LE(log.size(), 32768u);                                  // the log's capacity
    EXPECT_GT(log.size(), 20000u);
    EXPECT_EQ(CloseConsole(console, 2), 0u);
}

// A window titled "Varnolt" that the console's process shows besides the console.
HWND WaitForOtherWindow(const Console& console)
{
    HWND found = nullptr;
    Eventually([&] {
        for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", L"Varnolt"); window && !found;
             window = FindWindowExW(nullptr, window, L"#32770", L"Varnolt")) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (window != console.dialog && owner == console.process.dwProcessId && IsWindowVisible(window))
                found = window;
        }
        return found != nullptr;
    });
    return found;
}

TEST_F(ConsoleTest, MenuShowsTheGuideNextToTheProgramAndTheAboutBox)
{
    Console console = OpenConsole();
    ASSERT_NE(console.dialog, nullptr);
    PostMessageW(console.dialog, WM_COMMAND, 400, 0);       // 帮助
    HWND help = WaitForOtherWindow(console);
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(GetWindow(help, GW_OWNER), console.dialog);
    std::wstring guide = TextOf(FindWindowExW(help, nullptr, L"DISPLAYCLASS", nullptr));
    EXPECT_EQ(guide.rfind(L"Varnolt User Guide\r\n", 0), 0u) << test::Utf8(guide.substr(0, 80));
    EXPECT_NE(guide.find(L"TGZX"), std::wstring::npos);
    PostMessageW(help, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(Eventually([&] { return !IsWindow(help); }));

    PostMessageW(console.dialog, WM_COMMAND, 401, 0);       // 关于
    HWND about = WaitForOtherWindow(console);
    ASSERT_NE(about, nullptr);
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(Eventually([&] { return !IsWindow(about); }));
    EXPECT_EQ(CloseConsole(console, 402), 0u);
}

bool UserKeyExists(const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

TEST_F(ConsoleTest, MenuReportsAndUndoesTheLastRun)
{
    std::wstring key = L"Software\\VarnoltTest-" + std::to_wstring(GetCurrentProcessId()) + L"-journal";
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    Console console = OpenConsole();
    ASSERT_NE(console.dialog, nullptr);
    Execute(console, L"REGX HKCU\\" + key + L"\\marker=console run");
    ASSERT_TRUE(UserKeyExists(key));
    PostMessageW(console.dialog, WM_COMMAND, 405, 0);       // 上次运行的更改
    HWND report = WaitForOtherWindow(console);
    ASSERT_NE(report, nullptr);
    std::wstring page = TextOf(FindWindowExW(report, nullptr, L"DISPLAYCLASS", nullptr));
    EXPECT_NE(page.find(L"marker"), std::wstring::npos) << test::Utf8(page);
    PostMessageW(report, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(Eventually([&] { return !IsWindow(report); }));

    Send(console.dialog, WM_COMMAND, 406, 0);               // 撤销上次运行
    EXPECT_FALSE(UserKeyExists(key));
    EXPECT_NE(Text(console, LOG).find(L"Undo of the run "), std::wstring::npos) << test::Utf8(Text(console, LOG));
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    EXPECT_EQ(CloseConsole(console, 402), 0u);
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
        ConsoleTest::TearDown();
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
        HWND box = test::WaitForWindow(console.process.dwProcessId, L"#32770", L"文件关联");
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

// The browse button with stand-in providers next to a copy of the program. Each browse
// loads and frees its provider, so the providers can change between presses of '...'.
class BrowseTest : public ConsoleTest {
protected:
    test::BrowseSettingsGuard settings;
    test::TempFolder program, installed, current;

    void SetUp() override
    {
        ConsoleTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_FALSE(settings.MachineHasInstallDir());
        ASSERT_TRUE(CopyFileW(VarnoltPath().c_str(), (program / L"Varnolt.exe").c_str(), FALSE));
    }
    // Puts the stand-in exporting 'entry' into 'folder' as the library 'name', answering 'answer'.
    static void PutProvider(const test::TempFolder& folder, const wchar_t* entry, const wchar_t* name,
                            const std::string& answer)
    {
        std::wstring standin = test::ProgramFolder() + L"\\provider_" + entry + L".dll";
        ASSERT_TRUE(CopyFileW(standin.c_str(), (folder / name).c_str(), FALSE)) << test::Utf8(name);
        test::WriteBytes(folder / L"answer.txt", answer);
    }
    // The fields of each call a provider in 'folder' had, in order.
    static std::vector<std::map<std::string, std::string>> Calls(const test::TempFolder& folder)
    {
        std::vector<std::map<std::string, std::string>> calls;
        std::string text = test::Exists(folder / L"calls.txt") ? test::ReadBytes(folder / L"calls.txt") : "";
        for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            calls.emplace_back();
            std::string line = text.substr(at, end - at);
            for (size_t field = 0, stop; field < line.size(); field = stop + 1) {
                stop = std::min(line.find('\t', field), line.size());
                size_t equals = line.find('=', field);
                calls.back()[line.substr(field, equals - field)] = line.substr(equals + 1, stop - equals - 1);
            }
        }
        return calls;
    }
    std::wstring Browse(const Console& console)
    {
        Send(console.dialog, WM_COMMAND, MAKEWPARAM(BROWSE, BN_CLICKED), 0);
        return Text(console, FIELD);
    }
};

TEST_F(BrowseTest, FirstProviderPresentPicksAndItsAnswerIsFinal)
{
    PutProvider(program, L"rfileshell", L"AygShell.dll", "");         // without AygShell's entry point: skipped
    PutProvider(program, L"tgetfile", L"tGetFile.dll", "C:\\picked\\one.vrs");
    PutProvider(current, L"rfileshell", L"RFileShell.dll", "C:\\planted.vrs");  // the current folder is never searched
    Console console = OpenConsole(L"", program / L"Varnolt.exe", current.path().c_str());
    ASSERT_NE(console.dialog, nullptr);
    SetField(console, L"EVAL x=1");
    EXPECT_EQ(Browse(console), L"C:\\picked\\one.vrs");
    EXPECT_EQ(test::BrowseFolderSetting(), L"C:\\picked\\");
    EXPECT_TRUE(Calls(current).empty());
    auto calls = Calls(program);
    ASSERT_EQ(calls.size(), 1u);
    const std::map<std::string, std::string> RECORD = {
        {"entry", "tGetFile"}, {"first", "0"}, {"size", std::to_string(sizeof(OPENFILENAMEW))}, {"owner", "yes"},
        {"flags", std::to_string(0x11000800)}, {"file", "EVAL x=1"}, {"max", "260"}, {"initial", "\\"},
        {"title", "浏览 VRS/REG/XML/EXE/DLL 文件"}, {"ext", ".vrs"},
        {"filter", "所有支持文件 (*.vrs;*.reg;*xml;*.exe;*.dll)|*.vrs;*.reg;*.rgu;*xml;*.exe;*.dll|命令文件 (*.vrs)|*.vrs|"
                   "注册表文件 (*.reg)|*.reg|配置文件 (*xml)|*xml|可执行文件 (*.exe;*.dll)|*.exe*.dll|所有文件 (*.*)|*.*|"}};
    EXPECT_EQ(calls[0], RECORD);

    PutProvider(program, L"rfileshell", L"RFileShell.dll", "C:\\picked\\two.reg");
    EXPECT_EQ(Browse(console), L"C:\\picked\\two.reg");
    test::WriteBytes(program / L"answer.txt", "");                      // cancelled: no other provider is asked
    EXPECT_EQ(Browse(console), L"C:\\picked\\two.reg");
    EXPECT_EQ(test::BrowseFolderSetting(), L"C:\\picked\\");
    calls = Calls(program);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1]["entry"], "RShellGetOpenFileName");
    EXPECT_EQ(calls[1]["initial"], "C:\\picked\\");                     // where the last file was picked
    EXPECT_EQ(calls[1]["file"], "C:\\picked\\one.vrs");
    EXPECT_EQ(calls[2]["entry"], "RShellGetOpenFileName");

    PutProvider(program, L"aygshell", L"AygShell.dll", "D:\\x.vrs");
    EXPECT_EQ(Browse(console), L"D:\\x.vrs");
    EXPECT_EQ(test::BrowseFolderSetting(), L"D:\\");
    calls = Calls(program);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[3]["entry"], "GetOpenFileNameEx");
    EXPECT_EQ(calls[3]["size"], std::to_string(sizeof(OPENFILENAMEW) + 8));
    EXPECT_EQ(calls[3]["sort"], std::to_string(0x8002));
    EXPECT_EQ(calls[3]["exflags"], "2");
    EXPECT_EQ(CloseConsole(console, 2), 0u);
}

TEST_F(BrowseTest, InstallDirFindsRFileShellAndTheDesktopsDialogComesLast)
{
    Console console = OpenConsole(L"", program / L"Varnolt.exe");
    ASSERT_NE(console.dialog, nullptr);
    PutProvider(installed, L"rfileshell", L"RFileShell.dll", "C:\\via\\install.vrs");
    for (const std::wstring& folder : {installed.path(), installed.path() + L"\\"}) {
        ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, test::RESCO_KEY, L"InstallDir", REG_SZ, folder.c_str(),
                                  static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))), ERROR_SUCCESS);
        SetField(console, L"");
        EXPECT_EQ(Browse(console), L"C:\\via\\install.vrs") << test::Utf8(folder);
    }
    EXPECT_EQ(Calls(installed).size(), 2u);

    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, test::RESCO_KEY, L"InstallDir");   // no provider left: the desktop's own dialog
    auto openDesktopDialog = [&] {
        PostMessageW(console.dialog, WM_COMMAND, MAKEWPARAM(BROWSE, BN_CLICKED), 0);
        return test::WaitForWindow(console.process.dwProcessId, L"#32770", L"浏览 VRS/REG/XML/EXE/DLL 文件");
    };
    SetField(console, L"kept");
    HWND desktopDialog = openDesktopDialog();
    ASSERT_NE(desktopDialog, nullptr);
    PostMessageW(desktopDialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(Eventually([&] { return !IsWindow(desktopDialog); }));
    EXPECT_EQ(Text(console, FIELD), L"kept");
    EXPECT_EQ(test::BrowseFolderSetting(), L"C:\\via\\");
    desktopDialog = openDesktopDialog();
    ASSERT_NE(desktopDialog, nullptr);
    std::wstring chosen = program / L"Varnolt.exe";
    Send(GetDlgItem(desktopDialog, 0x47C), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(chosen.c_str()));   // its file name box
    PostMessageW(desktopDialog, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(Eventually([&] { return Text(console, FIELD) == chosen; })) << test::Utf8(Text(console, FIELD));
    EXPECT_EQ(test::BrowseFolderSetting(), program.path() + L"\\");
    EXPECT_EQ(CloseConsole(console, 2), 0u);
}

// --- runs that take long: the window answers, Stop, the log while a line runs ---

// The text of the menu bar's button 'id', read through a buffer in the console's process.
std::wstring BarButtonText(const Console& console, int id)
{
    HWND toolbar = FindWindowExW(BarOf(console), nullptr, TOOLBARCLASSNAMEW, nullptr);
    constexpr SIZE_T BYTES = 256;
    void* remote = VirtualAllocEx(console.process.hProcess, nullptr, BYTES, MEM_COMMIT, PAGE_READWRITE);
    if (!toolbar || !remote)
        return L"?";
    Send(toolbar, TB_GETBUTTONTEXTW, id, reinterpret_cast<LPARAM>(remote));
    wchar_t text[BYTES / sizeof(wchar_t)] = {};
    ReadProcessMemory(console.process.hProcess, remote, text, BYTES - sizeof(wchar_t), nullptr);
    VirtualFreeEx(console.process.hProcess, remote, 0, MEM_RELEASE);
    return text;
}


double MillisecondsSince(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

// Starts the field's line as Enter would, without waiting for the run to end.
void StartRun(const Console& console, const std::wstring& line)
{
    SetField(console, line);
    PostMessageW(console.dialog, WM_COMMAND, MAKEWPARAM(1, 0), 0);
}

// The Stop the menu bar's first button sends while a run goes on.
void PressStop(const Console& console)
{
    PostMessageW(console.dialog, WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), reinterpret_cast<LPARAM>(BarOf(console)));
}

bool LogHas(const Console& console, const std::wstring& text)
{
    return Text(console, LOG).find(text) != std::wstring::npos;
}

// A plain tar archive of 'count' small files f0 ... named below "d/".
std::string TarOfSmallFiles(int count)
{
    std::string tar;
    for (int i = 0; i < count; ++i) {
        std::string block(512, '\0'), name = "d/f" + std::to_string(i);
        block.replace(0, name.size(), name);
        block.replace(124, 12, "00000000020 ");
        block[156] = '0';
        tar += block + std::string("sixteen bytes..\n") + std::string(496, '\0');
    }
    return tar + std::string(1024, '\0');
}

size_t CountFiles(const std::wstring& folder)
{
    size_t count = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
        count += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return count;
}

TEST_F(ConsoleTest, LogShowsEachLineWhileTheRunWaitsAndEscapeStopsIt)
{
    test::TempFolder folder;
    test::WriteBytes(folder / L"slow.vrs", "EVAL x=1234567\r\nWAIT 20000\r\nEVAL x=99\r\n");
    Console console = OpenConsole();
    ASSERT_NE(console.dialog, nullptr);
    StartRun(console, L"LOAD " + folder / L"slow.vrs");
    EXPECT_TRUE(Eventually([&] { return LogHas(console, L"WAIT 20000\r\n"); }, 5000));
    EXPECT_TRUE(LogHas(console, Entry(L"EVAL x=1234567", 1234567)));
    HWND field = GetDlgItem(console.dialog, FIELD);
    LARGE_INTEGER pressed = Now();
    PostMessageW(field, WM_KEYDOWN, VK_ESCAPE, 1);
    PostMessageW(field, WM_KEYUP, VK_ESCAPE, 0xC0000001);
    EXPECT_TRUE(Eventually([&] { return LogHas(console, L"运行已被停止。"); }, 5000)) << test::Utf8(Text(console, LOG));
    EXPECT_LT(MillisecondsSince(pressed), 500.0);
    std::wstring log = Text(console, LOG);
    EXPECT_NE(log.find(L"WAIT 20000\r\n     000004C7 "), std::wstring::npos) << test::Utf8(log);
    EXPECT_EQ(log.find(L"EVAL x=99"), std::wstring::npos);      // the run ended before its next line
    EXPECT_EQ(Text(console, FIELD), L"LOAD " + folder / L"slow.vrs");
    EXPECT_EQ(CloseConsole(console, 2), 0u);
}

TEST_F(ConsoleTest, AnswersDuringALongExtractionAndStopKeepsWhatWasExtracted)
{
    constexpr int FILES = 20000;
    test::TempFolder folder;
    test::WriteBytes(folder / L"many.tar", TarOfSmallFiles(FILES));
    Console console = OpenConsole();
    ASSERT_NE(console.dialog, nullptr);
    StartRun(console, L"TGZX " + folder / L"many.tar," + folder.path() + L"\\out");
    ASSERT_TRUE(Eventually([&] { return CountFiles(folder / L"out\\d") > 0; }, 10000));
    double slowest = 0;
    for (int probe = 0; probe < 10; ++probe) {
        LARGE_INTEGER sent = Now();
        DWORD_PTR ignored = 0;
        EXPECT_TRUE(SendMessageTimeoutW(console.dialog, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored));
        slowest = std::max(slowest, MillisecondsSince(sent));
        Sleep(30);
    }
    EXPECT_LT(slowest, 100.0);
    EXPECT_TRUE(Eventually([&] { return Text(console, PROGRESS).find(L"文件数: ") != std::wstring::npos; }, 2000))
        << test::Utf8(Text(console, PROGRESS));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(console.dialog, PROGRESS)));
    EXPECT_EQ(BarButtonText(console, 1), L"停止");
    EXPECT_EQ(Text(console, LOG), L"TGZX " + folder / L"many.tar\x01" + folder.path() + L"\\out\r\n");

    LARGE_INTEGER pressed = Now();
    PressStop(console);
    EXPECT_TRUE(Eventually([&] { return LogHas(console, L"     000004C7 "); }, 5000)) << test::Utf8(Text(console, LOG));
    EXPECT_LT(MillisecondsSince(pressed), 500.0);
    size_t extracted = CountFiles(folder / L"out\\d");
    EXPECT_GT(extracted, 0u);
    EXPECT_LT(extracted, static_cast<size_t>(FILES));
    EXPECT_EQ(test::ReadBytes(folder / L"out\\d\\f0"), "sixteen bytes..\n");
    EXPECT_TRUE(Eventually([&] { return !IsWindowVisible(GetDlgItem(console.dialog, PROGRESS)); }));
    EXPECT_EQ(BarButtonText(console, 1), L"执行");
    EXPECT_EQ(CloseConsole(console, 2), 0u);
    EXPECT_EQ(CountFiles(folder / L"out\\d"), extracted);          // what was extracted stays
}

// --- habits: history, dropped files ---

void PressKey(const Console& console, UINT key)
{
    HWND field = GetDlgItem(console.dialog, FIELD);
    Send(field, WM_KEYDOWN, key, 1);
    Send(field, WM_KEYUP, key, 0xC0000001);
}

TEST_F(ConsoleTest, UpAndDownWalkTheLinesOfEarlierStarts)
{
    Console first = OpenConsole();
    ASSERT_NE(first.dialog, nullptr);
    for (const wchar_t* line : {L"EVAL x=1", L"EVAL x=2", L"EVAL x=1"})
        Execute(first, line);
    EXPECT_EQ(CloseConsole(first, 402), 0u);

    Console console = OpenConsole();
    ASSERT_NE(console.dialog, nullptr);
    SetField(console, L"typed");
    const wchar_t* const WALK[][2] = {
        {L"up", L"EVAL x=1"}, {L"up", L"EVAL x=2"}, {L"up", L"EVAL x=2"},      // the repeat is kept once
        {L"down", L"EVAL x=1"}, {L"down", L"typed"}, {L"down", L"typed"},
    };
    for (const auto& step : WALK) {
        PressKey(console, step[0][0] == L'u' ? VK_UP : VK_DOWN);
        EXPECT_EQ(Text(console, FIELD), step[1]) << test::Utf8(step[0]);
    }
    EXPECT_EQ(CloseConsole(console, 402), 0u);
}

// Drops 'path' on the console the way the window system hands a drop to a program: a
// DROPFILES block in the program's memory, posted as WM_DROPFILES.
void DropFile(const Console& console, const std::wstring& path)
{
    std::string block(sizeof(DROPFILES), '\0');
    DROPFILES header = {sizeof(DROPFILES), {0, 0}, FALSE, TRUE};
    memcpy(block.data(), &header, sizeof header);
    block += test::Utf16Bytes(path) + std::string(4, '\0');
    void* remote = VirtualAllocEx(console.process.hProcess, nullptr, block.size(), MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(remote, nullptr);
    ASSERT_TRUE(WriteProcessMemory(console.process.hProcess, remote, block.data(), block.size(), nullptr));
    PostMessageW(console.dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0);
}

TEST_F(ConsoleTest, DroppedFileFillsTheField)
{
    Console console = OpenConsole(L"VRUI EVAL x=1");
    ASSERT_NE(console.dialog, nullptr);
    DropFile(console, L"C:\\some folder\\dropped script.vrs");
    EXPECT_TRUE(Eventually([&] { return Text(console, FIELD) == L"C:\\some folder\\dropped script.vrs"; }))
        << test::Utf8(Text(console, FIELD));
    EXPECT_EQ(CloseConsole(console, 2), 0u);
}

// --- its own language ---

TEST_F(ConsoleTest, TextsInTheChosenLanguage)
{
    const wchar_t* const CASES[][4] = {     // setting, prompt, Execute, Menu
        {L"en", L"Type the command to run, and the command interpreter runs it for you.", L"Execute", L"Menu"},
        {L"zh", L"请输入要执行的命令，命令解释引擎将为您执行它。", L"执行", L"菜单"},
    };
    for (const auto& c : CASES) {
        SetEnvironmentVariableW(L"VARNOLT_LANG", c[0]);
        Console console = OpenConsole();
        SetEnvironmentVariableW(L"VARNOLT_LANG", L"zh");
        ASSERT_NE(console.dialog, nullptr);
        EXPECT_EQ(Text(console, PROMPT), c[1]);
        EXPECT_EQ(BarButtonText(console, 1), c[2]);
        EXPECT_EQ(BarButtonText(console, 2), c[3]);
        EXPECT_EQ(CloseConsole(console, 2), 0u);
    }
}

} // namespace
