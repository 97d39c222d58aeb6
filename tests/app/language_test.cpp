// The language as shipped: its keyword table, and the paths through which lines reach
// several folders at once (sections, files acted on by extension, loading).
#include "app/app.h"
#include "archive/archive.h"
#include "platform/platform.h"
#include "registry/registry.h"
#include "registry/registry_test_support.h"
#include "support/outward_calls_guard.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <zlib.h>
#include <string>
#include <vector>

namespace {

using namespace regtest;

struct Installed {
    Installed()
    {
        InstallScriptLanguage(&VARNOLT_LANGUAGE);
        InstallConfigurationProcessor(VARNOLT_CONFIGURATION_PROCESSOR);
    }
} installed;

TEST(Language, KeywordsInTheirOrder)
{
    const wchar_t* const EXPECTED = L"LOAD BATC IFEX ELSE CALL GOTO PROC ENDP PLAY BEEP MSGX DLGX LINK FILE REGX RARX "
                                    L"SEND WAIT KILL SHUT EXEC CDLL EVAL ASOC DISP POST HELP VRUI TGZX ";
    std::wstring names;
    for (size_t i = 0; i < VARNOLT_LANGUAGE.keywordCount; ++i)
        names += std::wstring(VARNOLT_LANGUAGE.keywords[i].name) + L" ";
    EXPECT_EQ(names, EXPECTED);
}

TEST(Language, CommandsOfLaterWorkAreRowsNotHoles)
{
    // Every command is built now; a row without a handler would be a hole.
    for (size_t i = 0; i < VARNOLT_LANGUAGE.keywordCount; ++i)
        EXPECT_NE(VARNOLT_LANGUAGE.keywords[i].handler, nullptr) << test::Utf8(VARNOLT_LANGUAGE.keywords[i].name);
}

// The guide shipped next to the program has a heading of its own for every keyword.
TEST(Language, GuideHasASectionForEveryKeyword)
{
    std::wstring guide = test::Widen(test::ReadBytes(test::ProgramFolder() + L"\\Varnolt.htm"));
    ASSERT_GT(guide.size(), 10000u);
    for (size_t i = 0; i < VARNOLT_LANGUAGE.keywordCount; ++i) {
        std::wstring id = std::wstring(L" id=\"kw-") + VARNOLT_LANGUAGE.keywords[i].name + L"\"";
        size_t at = guide.find(id);
        bool heading = at != std::wstring::npos && at >= 3 && guide.compare(at - 3, 2, L"<h") == 0;
        EXPECT_TRUE(heading) << test::Utf8(VARNOLT_LANGUAGE.keywords[i].name);
    }
}

struct SectionCase {
    const wchar_t* script;
    DWORD result;
    const wchar_t* variable1;
    int line;
};
#define SECTION_CASE(s, r, v) {s, r, v, __LINE__}

const SectionCase SECTION_CASES[] = {
    SECTION_CASE(L"EVAL 1=a\n[{K}]\n\"v\"=\"0\"", 0, L"a"),                         // a section at the end gives 0
    SECTION_CASE(L"[{K}]\r\n\"v\"=\"1\"\r\n  EVAL 1=%x%,c,d\r\n", 0, L"1017,c\x01" L"d"),   // the next line runs as written
    SECTION_CASE(L"EVAL 1=a\n  [{K}]\n;note\n\n\"w\"=\"1\"\n[{K}\\two]\n@=\"x\"\nEVAL 1=%1b", 0, L"ab"),
    SECTION_CASE(L"%#005B{K}]\nEVAL 1=%x", 0, L"1017"),   // a "[" made by an escape is skipped, never re-run
};

TEST(RegImport, ScriptSections)
{
    TestKey key(L"section");
    for (const auto& c : SECTION_CASES) {
        ScriptVariables[1][0] = 0;
        EXPECT_EQ(test::Run(WithKey(c.script, key.Script())), c.result) << "case at line " << c.line;
        EXPECT_EQ(std::wstring(ScriptVariables[1]), c.variable1) << "case at line " << c.line;
    }
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key.path(), L"v").bytes, TextBytes(L"1"));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key.path() + L"\\two", nullptr).bytes, TextBytes(L"x"));
}

// The value lines under a key the registry refuses are skipped, not run as script lines.
TEST(RegImport, RefusedKeyDoesNotEndTheSection)
{
    TestKey key(L"refused");
    ScriptVariables[1][0] = 0;
    std::wstring refused = key.Script() + L"\\" + std::wstring(300, L'k');
    EXPECT_EQ(test::Run(L"[" + refused + L"]\n\"v\"=\"1\"\n[" + key.Script() + L"]\n\"w\"=\"2\"\nEVAL 1=%x"), 0u);
    EXPECT_STREQ(ScriptVariables[1], L"87");
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, key.path(), L"w").exists);
}

TEST(RegImport, PercentAndCommaArePlainInSections)
{
    TestKey key(L"plain");
    EXPECT_EQ(test::Run(WithKey(L"[{K}]\n\"p\"=\"%x,%1\"\n", key.Script())), 0u);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key.path(), L"p").bytes, TextBytes(L"%x,%1"));
}

TEST(RegImport, LoadsFilesWithEitherHeader)
{
    TestKey key(L"files");
    test::TempFolder folder;
    test::WriteBytes(folder / L"five.reg", test::Utf16Bytes(L"\xFEFFWindows Registry Editor Version 5.00\r\n\r\n[" +
                                                            key.Long() + L"]\r\n\"five\"=dword:00000005\r\n"));
    test::WriteBytes(folder / L"four.reg", test::Utf8(L"\r\n REGEDIT4\r\n[" + key.Long() + L"]\r\n\"four\"=\"4\""));
    test::WriteBytes(folder / L"empty.reg", "REGEDIT4");
    EXPECT_EQ(test::Run(L"LOAD " + folder / L"five.reg"), 0u);
    EXPECT_EQ(test::Run(folder / L"four.reg"), 0u);         // a line without keyword imports by extension
    EXPECT_EQ(test::Run(L"LOAD " + folder / L"empty.reg"), 0u);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key.path(), L"five").bytes, std::string("\x05\0\0\0", 4));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key.path(), L"four").bytes, TextBytes(L"4"));
}

// LoadFile reads only the start of a file to tell its kind; files longer than that still
// run or import in full, also when the kind shows only after many blank lines.
TEST(RegFile, LoadFileBeyondItsFirstPiece)
{
    test::TempFolder folder;
    TestKey key(L"late");
    std::string blanks(REG_FILE_PIECE_BYTES + 10, '\n');
    test::WriteBytes(folder / L"late.reg", blanks + "REGEDIT4\r\n[" + test::Utf8(key.Long()) + "]\r\n\"v\"=\"1\"\r\n");
    EXPECT_EQ(test::Run(L"LOAD " + folder / L"late.reg"), 0u);
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, key.path(), L"v").exists);

    ScriptVariables[1][0] = 0;
    std::string comments;
    while (comments.size() < 2 * REG_FILE_PIECE_BYTES)
        comments += "; a comment line of the script\r\n";
    test::WriteBytes(folder / L"long.vrs", comments + "EVAL 1=end\r\n");
    EXPECT_EQ(test::Run(L"LOAD " + folder / L"long.vrs"), 0u);
    EXPECT_STREQ(ScriptVariables[1], L"end");
    test::WriteBytes(folder / L"blank.vrs", blanks + "EVAL 1=blank\r\n");
    EXPECT_EQ(test::Run(L"LOAD " + folder / L"blank.vrs"), 0u);
    EXPECT_STREQ(ScriptVariables[1], L"blank");
}

// Provisioning documents reach the configuration manager as '<' blocks up to the marker,
// through LOAD, and as .xml and .provxml files named on a line.
struct DocumentCase {
    const wchar_t* script;          // "{D}" is a document setting "v" to "{V}" in the test key
    DWORD result;
    const wchar_t* variable1;
    const wchar_t* value;           // what "v" holds afterwards, "" when it is missing
    int line;
};
#define DOCUMENT_CASE(s, r, v, value) {s, r, v, value, __LINE__}

const DocumentCase DOCUMENT_CASES[] = {
    DOCUMENT_CASE(L"EVAL 1=a\r\n  {D}\r\n<> EVAL 1=skipped\r\nEVAL 1=%1b", 0, L"ab", L"block"),
    DOCUMENT_CASE(L"EVAL 1=a\n{D}<>\nEVAL 1=%1%x", 0, L"a0", L"block"),
    DOCUMENT_CASE(L"EVAL 1=c\n{D}\nEVAL 1=never", static_cast<DWORD>(PROVISIONING_BAD_XML), L"c", L""),   // no marker
    DOCUMENT_CASE(L"LOAD {F}\\doc.provxml", 0, L"", L"provxml"),
    DOCUMENT_CASE(L"{F}\\doc.xml", 0, L"", L"xml"),
    DOCUMENT_CASE(L"{F}\\*.provxml", 0, L"", L"provxml"),
};

TEST(Provisioning, DocumentsInScriptsAndFiles)
{
    TestKey key(L"provisioning");
    test::TempFolder folder;
    auto document = [&](const wchar_t* value) {
        return L"<wap-provisioningdoc>\r\n<characteristic type=\"Registry\"><characteristic type=\"" + key.Script() +
               L"\">\r\n<parm name=\"v\" value=\"" + value + L"\"/></characteristic></characteristic>\r\n"
               L"</wap-provisioningdoc>";
    };
    test::WriteBytes(folder / L"doc.provxml", test::Utf8(L"\xFEFF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" + document(L"provxml")));
    test::WriteBytes(folder / L"doc.xml", "\xFF\xFE" + test::Utf16Bytes(document(L"xml")));
    for (const auto& c : DOCUMENT_CASES) {
        RegDeleteTreeW(HKEY_CURRENT_USER, key.path().c_str());
        ScriptVariables[1][0] = 0;
        std::wstring script = c.script;
        for (size_t at = script.find(L"{D}"); at != std::wstring::npos; at = script.find(L"{D}"))
            script.replace(at, 3, document(L"block"));
        for (size_t at = script.find(L"{F}"); at != std::wstring::npos; at = script.find(L"{F}"))
            script.replace(at, 3, folder.path());
        EXPECT_EQ(test::Run(script), c.result) << "case at line " << c.line;
        EXPECT_STREQ(ScriptVariables[1], c.variable1) << "case at line " << c.line;
        StoredValue stored = ReadValue(HKEY_CURRENT_USER, key.path(), L"v");
        EXPECT_EQ(stored.bytes, *c.value ? TextBytes(c.value) : "") << "case at line " << c.line;
    }
}

TEST(FileActions, ArchivesByExtension)
{
    test::TempFolder temp;
    std::wstring archive = temp / L"script.tgz";
    gzFile file = gzopen_w(archive.c_str(), "wb");
    std::string tar(512, '\0');
    tar.replace(0, 14, "by/keyword.txt");
    tar.replace(100, 7, "0000644");
    tar.replace(124, 11, "00000000001");
    tar[156] = '0';
    tar += std::string("k") + std::string(511, '\0') + std::string(1024, '\0');
    gzwrite(file, tar.data(), static_cast<unsigned>(tar.size()));
    gzclose(file);
    EXPECT_EQ(test::Run(archive + L"," + (temp / L"two")), 0u);
    EXPECT_EQ(test::ReadBytes(temp / L"two\\by\\keyword.txt"), "k");
    test::WriteBytes(temp / L"fixture.rar", "STANDIN-RAR\nk.txt|keyword\n");
    EXPECT_EQ(test::Run(temp / L"fixture.rar"), static_cast<DWORD>(ERROR_DLL_NOT_FOUND));   // no UnRAR library here
}

} // namespace

namespace {

// What the probe library last saw ("none" when it was not called).
std::wstring TakeReport()
{
    wchar_t text[512] = {};
    GetEnvironmentVariableW(L"VARNOLT_PROBE", text, 512);
    SetEnvironmentVariableW(L"VARNOLT_PROBE", L"none");
    return text;
}

// Libraries named on a line register, or call the export named after them with the
// parameters; every library a pattern matches gets the same parameters, whatever the
// calls before it did to them.
TEST(FileActions, LibrariesNamedOnALine)
{
    std::wstring probe = test::ProgramFolder() + L"\\cdll_probe.dll";
    TakeReport();
    EXPECT_EQ(test::Run(probe), 0x80040201u);
    EXPECT_EQ(TakeReport(), L"registered");
    EXPECT_EQ(test::Run(probe + L",ProbeTwo,#9,x"), 2u);
    EXPECT_EQ(TakeReport(), L"9|x");

    test::TempFolder folder;
    for (const wchar_t* name : {L"one.dll", L"two.dll"})
        EXPECT_TRUE(CopyFileW(probe.c_str(), (folder / name).c_str(), FALSE));
    EXPECT_EQ(test::Run(folder / L"*.dll,ProbeTwo,#4,text"), 2u);
    EXPECT_EQ(TakeReport(), L"4|text");     // the second library's call, which once got no parameters
}

} // namespace

namespace {

// --- every handler reads its text without writing into it ---

// A line as the runner hands it on (commas are separators) for each keyword, and one
// without keyword. "{T}" is a temporary folder, "{K}" the test key, "{U}" a name nothing
// has, "{P}" the probe library.
const wchar_t* const UNTOUCHED_LINES[] = {
    L"LOAD {T}\\missing.vrs",
    L"BATC EVAL 1=a;EVAL 2=b,c",
    L"IFEX 1==1,EVAL 3=d,e",
    L"ELSE EVAL 3=f",
    L"CALL label",
    L"GOTO label",
    L"PROC label",
    L"ENDP",
    L"PLAY !$*sound",
    L"BEEP 0",
    L"MSGX text,caption,64",
    L"DLGX title,$a,@b|{K}\\#v=1?0,[]c",
    L"LINK {T}\\menu\\a.lnk,target.exe,-p,icon.dll,3",
    L"FILE {T}\\a.txt;{T}\\b.txt->",
    L"FILE {T}\\w.txt<=text,more",
    L"FILE !{T}\\*.txt=>{T}\\copy\\",
    L"REGX {K}\\@b=1f,2",
    L"REGX {K}\\s=on?off",
    L"RARX {T}\\missing.rar,{T}\\out",
    L"SEND 16_,65,16^",
    L"WAIT 1",
    L"KILL {U}",
    L"SHUT G",
    L"EXEC !{T}\\missing.exe,-a,b",
    L"CDLL {P},ProbeTwo,#9,x",
    L"EVAL 1=a,b",
    L"ASOC !{U}",
    L"DISP 90",
    L"POST {U},32769,$a,$b",
    L"HELP <p>page</p>",
    L"VRUI EVAL x=1,2",
    L"TGZX {T}\\missing.tgz,{T}\\out",
    L"{T}\\*.vrs,p,q",
};

// The page that holds the text under test is read-only; a write into it is noted and then
// let through, so that the test reports the line instead of ending.
BYTE* untouchedPage = nullptr;
DWORD pageBytes = 0;
bool pageWritten = false;

LONG CALLBACK NoteWriteIntoPage(EXCEPTION_POINTERS* exception)
{
    const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
    auto* address = reinterpret_cast<BYTE*>(record.ExceptionInformation[1]);
    if (record.ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record.ExceptionInformation[0] != 1 ||
        address < untouchedPage || address >= untouchedPage + pageBytes)
        return EXCEPTION_CONTINUE_SEARCH;
    pageWritten = true;
    DWORD old;
    VirtualProtect(untouchedPage, pageBytes, PAGE_READWRITE, &old);
    return EXCEPTION_CONTINUE_EXECUTION;
}

BOOL RefuseShellExecute(SHELLEXECUTEINFOW*)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
int AnswerMessageBox(HWND, const wchar_t*, const wchar_t*, UINT) { return IDOK; }
BOOL RefuseIoControl(DWORD, void*, DWORD, void*, DWORD, DWORD*) { return FALSE; }
BOOL Refuse() { return FALSE; }
BOOL RefuseExit(UINT, DWORD) { return FALSE; }
void IgnoreKey(BYTE, BYTE, DWORD, ULONG_PTR) {}
LONG RefuseDisplay(const wchar_t*, DEVMODEW*, HWND, DWORD, void*) { return DISP_CHANGE_FAILED; }
BOOL RefuseSound(const wchar_t*, HMODULE, DWORD) { return FALSE; }

BOOL CALLBACK CancelDialog(HWND window, LPARAM)
{
    wchar_t className[8] = {};
    if (GetClassNameW(window, className, ARRAYSIZE(className)) && !wcscmp(className, L"#32770"))
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

// Runs inside the modal loop of DLGX, HELP and VRUI.
void CALLBACK CancelDialogs(HWND, UINT, UINT_PTR, DWORD)
{
    EnumThreadWindows(GetCurrentThreadId(), CancelDialog, 0);
}

std::wstring Expand(std::wstring line, const std::vector<std::pair<std::wstring, std::wstring>>& names)
{
    for (const auto& [name, value] : names)
        for (size_t at = line.find(name); at != std::wstring::npos; at = line.find(name, at + value.size()))
            line.replace(at, name.size(), value);
    for (auto& unit : line)
        unit = unit == L',' ? ARG_SEPARATOR : unit;
    return line;
}

TEST(Language, HandlersLeaveTheirTextUntouched)
{
    for (size_t i = 0; i < VARNOLT_LANGUAGE.keywordCount; ++i) {
        bool covered = false;
        for (const wchar_t* line : UNTOUCHED_LINES)
            covered = covered || !wcsncmp(line, VARNOLT_LANGUAGE.keywords[i].name, 4);
        EXPECT_TRUE(covered) << "no line for " << test::Utf8(VARNOLT_LANGUAGE.keywords[i].name);
    }
    test::TempFolder folder;
    TestKey key(L"untouched");
    test::WriteBytes(folder / L"one.vrs", "EVAL 5=loaded\r\n");
    test::WriteBytes(folder / L"w.txt", "old");
    const std::vector<std::pair<std::wstring, std::wstring>> names = {
        {L"{T}", folder.path()}, {L"{K}", key.Script()}, {L"{U}", test::UniqueName(L"vuntouched")},
        {L"{P}", test::ProgramFolder() + L"\\cdll_probe.dll"}};
    test::OutwardCallsGuard guard;
    outwardCalls = {RefuseShellExecute, AnswerMessageBox, guard.saved.readFile, guard.saved.writeFile, RefuseIoControl,
                    Refuse, Refuse, RefuseExit, IgnoreKey, RefuseDisplay, RefuseSound};
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    pageBytes = system.dwPageSize;
    untouchedPage = static_cast<BYTE*>(VirtualAlloc(nullptr, 2 * pageBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_TRUE(untouchedPage);
    DWORD old;
    VirtualProtect(untouchedPage + pageBytes, pageBytes, PAGE_NOACCESS, &old);     // a read past the end faults
    PVOID handler = AddVectoredExceptionHandler(1, NoteWriteIntoPage);
    UINT_PTR timer = SetTimer(nullptr, 0, 50, CancelDialogs);
    for (const wchar_t* row : UNTOUCHED_LINES) {
        std::wstring line = Expand(row, names);
        ASSERT_LT((line.size() + 1) * sizeof(wchar_t), pageBytes);
        auto* text = reinterpret_cast<wchar_t*>(untouchedPage + pageBytes) - (line.size() + 1);
        VirtualProtect(untouchedPage, pageBytes, PAGE_READWRITE, &old);
        wcscpy(text, line.c_str());
        VirtualProtect(untouchedPage, pageBytes, PAGE_READONLY, &old);
        pageWritten = false;
        wchar_t script[] = L"\nPROC label\nEVAL 4=called\nENDP\n";
        ScriptContext context{script, script, L"C:\\test\\script.vrs", 0, 1};
        (void)DispatchCommand(text, context);
        EXPECT_FALSE(pageWritten) << test::Utf8(row);
        EXPECT_EQ(std::wstring(text), line) << test::Utf8(row);
    }
    KillTimer(nullptr, timer);
    RemoveVectoredExceptionHandler(handler);
    VirtualFree(untouchedPage, 0, MEM_RELEASE);
}

} // namespace
