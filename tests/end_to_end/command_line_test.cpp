// Starts Varnolt.exe with exact command lines and reads its full 32-bit exit code.
#include "support/test_support.h"
#include <gtest/gtest.h>

namespace {

std::wstring VarnoltPath()
{
    return test::ProgramFolder() + L"\\Varnolt.exe";
}

DWORD RunVarnolt(const std::wstring& arguments, const std::vector<std::wstring>& environment = {})
{
    std::wstring commandLine = L"\"" + VarnoltPath() + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    test::ProcessResult result = test::StartAndWait(VarnoltPath(), commandLine, environment);
    EXPECT_FALSE(result.timedOut) << "command line: " << test::Utf8(arguments);
    return result.exitCode;
}

struct CommandLineCase {
    const wchar_t* arguments;
    DWORD exitCode;
    int line;
};
#define COMMAND_LINE_CASE(a, e) {a, e, __LINE__}

const CommandLineCase COMMAND_LINE_CASES[] = {
    COMMAND_LINE_CASE(L"EVAL x=1017", 1017),
    COMMAND_LINE_CASE(L"EVAL x=-2147024891", 0x80070005),       // all 32 bits arrive
    COMMAND_LINE_CASE(L"\"EVAL x=7\"", 7),                      // one enclosing pair of quotes goes
    COMMAND_LINE_CASE(L"\"EVAL x=8", 8),                        // an opening quote alone goes too
    COMMAND_LINE_CASE(L"\"", 0),                                // nothing left to run
    COMMAND_LINE_CASE(L"WAIT 1", 0),
    COMMAND_LINE_CASE(L"eval x=3%Neval x=4", 3),                // an escaped line feed stays in one line
    COMMAND_LINE_CASE(L"C:\\no\\such\\file.vrs", 2),
    COMMAND_LINE_CASE(L"GOTO nowhere", 1),
};

TEST(CommandLine, ExitCodeIsTheRunsResult)
{
    for (const auto& c : COMMAND_LINE_CASES)
        EXPECT_EQ(RunVarnolt(c.arguments), c.exitCode) << "case at line " << c.line;
}

// A copy of the program whose only resource is 'defaultCommand' as VARNOLT (none when empty).
std::wstring CopyWithDefaultCommand(const test::TempFolder& folder, const std::wstring& defaultCommand)
{
    std::wstring copy = folder / L"Varnolt.exe";
    EXPECT_TRUE(CopyFileW(VarnoltPath().c_str(), copy.c_str(), FALSE));
    HANDLE update = BeginUpdateResourceW(copy.c_str(), TRUE);
    EXPECT_NE(update, nullptr);
    std::vector<wchar_t> data(defaultCommand.begin(), defaultCommand.end());
    data.resize(data.size() + 4);                   // NUL and spare room, as shipped
    if (!defaultCommand.empty()) {
        EXPECT_TRUE(UpdateResourceW(update, RT_RCDATA, L"VARNOLT", MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                    data.data(), static_cast<DWORD>(data.size() * sizeof(wchar_t))));
    }
    EXPECT_TRUE(EndUpdateResourceW(update, FALSE));
    return copy;
}

TEST(CommandLine, EmptyCommandLineRunsTheWholeDefaultCommand)
{
    test::TempFolder folder;
    // Several lines, longer than any fixed buffer would hold: every line runs.
    std::wstring script = L"EVAL 1=" + std::wstring(3000, L'a') + L"\r\n<doc>\r\n<>\r\nEVAL x=4321";
    std::wstring copy = CopyWithDefaultCommand(folder, script);
    EXPECT_EQ(test::StartAndWait(copy, L"\"" + copy + L"\"").exitCode, 4321u);

    test::TempFolder bare;
    // No resources at all: the console command runs and finds no dialog to show.
    copy = CopyWithDefaultCommand(bare, L"");
    EXPECT_EQ(test::StartAndWait(copy, L"\"" + copy + L"\"").exitCode, 0xFFFFFFFFu);
}

TEST(CommandLine, QuotedScriptPathRunsTheScript)
{
    test::TempFolder folder;
    std::wstring script = folder / L"with space.vrs";
    test::WriteBytes(script, "EVAL 1=from file\r\nEVAL x=%#0034%#0032\r\n");
    EXPECT_EQ(RunVarnolt(L"\"" + script + L"\""), 42u);
}

std::wstring SystemMessage(DWORD code)
{
    wchar_t text[260] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 240, nullptr);
    return text;
}

std::wstring ResultEntry(DWORD code)
{
    wchar_t number[32];
    swprintf(number, 32, L"     %08X ", code);
    std::wstring entry = number + SystemMessage(code);
    return entry + (!entry.empty() && entry.back() == L'\n' ? L"\r\n" : L"\r\n\r\n");
}

TEST(CommandLine, TraceHasTheConsoleLogFormat)
{
    test::TempFolder folder;
    std::wstring script = folder / L"trace.vrs";
    std::wstring trace = folder / L"trace.log";
    test::WriteBytes(script, "; comments and empty lines are not logged\r\n\r\n  EVAL x=5\r\nEVAL 1=a,b\r\n"
                             "[HKEY_CURRENT_USER\\Software\\VarnoltTraceTest]\r\nEVAL x=2\r\n");
    RunVarnolt(L"\"" + script + L"\"", {L"VARNOLT_TRACE=" + trace});
    // The command line itself is a logged line: it names the script, whose lines follow.
    // A line that gives other than 0 is followed by its place; the command line has none.
    std::wstring expected = script + L"\r\n" + L"EVAL x=5\r\n" + ResultEntry(5) + L"  at " + script + L"(3)\r\n" +
                            L"EVAL 1=a\x01" L"b\r\n" + ResultEntry(0) + L"EVAL x=2\r\n" + ResultEntry(2) + L"  at " +
                            script + L"(6)\r\n" + ResultEntry(2);
    EXPECT_EQ(test::Widen(test::ReadBytes(trace)), expected);
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\VarnoltTraceTest", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\VarnoltTraceTest");
    }
}

// A failing line in a procedure, in a loaded script and in a BATC names its own file and
// line; the LOAD line that loaded it fails in turn at its own place.
TEST(CommandLine, TraceNamesWhereEachFailingLineCameFrom)
{
    test::TempFolder folder;
    std::wstring outer = folder / L"outer.vrs";
    std::wstring inner = folder / L"inner.vrs";
    std::wstring trace = folder / L"trace.log";
    test::WriteBytes(outer, "CALL Sub\r\nLOAD %C\\inner.vrs\r\nPROC Sub\n\nEVAL x=3\r\nENDP Sub\r\n");
    test::WriteBytes(inner, "EVAL x=0\r\nBATC EVAL x=0;EVAL x=4\r\n");
    RunVarnolt(L"\"" + outer + L"\"", {L"VARNOLT_TRACE=" + trace});
    std::wstring logged = test::Widen(test::ReadBytes(trace));
    std::wstring places;
    for (size_t at = logged.find(L"  at "); at != std::wstring::npos; at = logged.find(L"  at ", at + 1))
        places += logged.substr(at, logged.find(L'\n', at) - at + 1);
    EXPECT_EQ(places, L"  at " + outer + L"(5)\r\n  at " + inner + L"(2)\r\n  at " + outer + L"(2)\r\n") << test::Utf8(logged);
}

// Documents named on the command line apply; each one's output document follows its result
// entry in the trace, ahead of the command line's own entry.
TEST(CommandLine, ProvisioningDocumentsAndTheirOutputInTheTrace)
{
    test::TempFolder folder;
    std::wstring key = L"Software\\VarnoltTest-" + std::to_wstring(GetCurrentProcessId()) + L"-document";
    std::wstring characteristic = L"<characteristic type=\"HKCU\\" + key + L"\">";
    std::wstring document = L"<wap-provisioningdoc><characteristic type=\"Registry\">" + characteristic +
                            L"<parm name=\"v\" value=\"7\" datatype=\"integer\"/><parm-query name=\"v\"/>"
                            L"<parm name=\"b\" value=\"AQID\" datatype=\"binary\"/><parm-query name=\"b\"/>"
                            L"</characteristic></characteristic></wap-provisioningdoc>";
    // Base64 goes through a library the program binds on first use.
    std::wstring output = L"<wap-provisioningdoc>\r\n  <characteristic type=\"Registry\">\r\n    " + characteristic +
                          L"\r\n      <parm name=\"v\" value=\"7\" datatype=\"integer\"/>\r\n"
                          L"      <parm name=\"v\" value=\"7\" datatype=\"integer\"/>\r\n"
                          L"      <parm name=\"b\" value=\"AQID\" datatype=\"binary\"/>\r\n"
                          L"      <parm name=\"b\" value=\"AQID\" datatype=\"binary\"/>\r\n    </characteristic>\r\n"
                          L"  </characteristic>\r\n</wap-provisioningdoc>\r\n\r\n";
    for (const wchar_t* name : {L"settings.provxml", L"settings.xml"}) {
        RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
        std::wstring path = folder / name;
        std::wstring trace = folder / (std::wstring(name) + L".log");
        test::WriteBytes(path, test::Utf8(document));
        EXPECT_EQ(RunVarnolt(L"\"" + path + L"\"", {L"VARNOLT_TRACE=" + trace}), 0u);
        EXPECT_EQ(test::Widen(test::ReadBytes(trace)), path + L"\r\n" + ResultEntry(0) + output + ResultEntry(0));
        DWORD value = 0;
        DWORD size = sizeof value;
        EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"v", RRF_RT_REG_DWORD, nullptr, &value, &size), 0);
        EXPECT_EQ(value, 7u);
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    test::WriteBytes(folder / L"other.xml", "<wap-provisioningdoc><characteristic type=\"Clock\"/></wap-provisioningdoc>");
    EXPECT_EQ(RunVarnolt(folder / L"other.xml"), 0x80042004u);
}

TEST(CommandLine, NoTraceWithoutTheSetting)
{
    test::TempFolder folder;
    std::wstring trace = folder / L"trace.log";
    RunVarnolt(L"EVAL x=1", {L"VARNOLT_TRACE="});
    EXPECT_FALSE(test::Exists(trace));
}

} // namespace

namespace {

// The shell and window-system libraries are bound on first use; these runs need both.
TEST(CommandLine, LibrariesBoundOnFirstUseWork)
{
    test::TempFolder folder;
    std::wstring trace = folder / L"trace.log";
    std::wstring varnolt = test::ProgramFolder() + L"\\Varnolt.exe";
    DWORD result = RunVarnolt(L"BATC EVAL 1=%W;" + varnolt + L",EVAL x=0", {L"VARNOLT_TRACE=" + trace});
    EXPECT_EQ(result, 0u);                               // the shell opened the program
    std::wstring logged = test::Widen(test::ReadBytes(trace));
    EXPECT_NE(logged.find(L":\\windows;"), std::wstring::npos) << test::Utf8(logged);   // %W expanded
    EXPECT_NE(logged.find(L"     00000000 "), std::wstring::npos);                          // entry formatted
}

} // namespace
