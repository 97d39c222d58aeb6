#include "registry/registry.h"
#include "support/test_support.h"
#include <gtest/gtest.h>

namespace {

constexpr DWORD NO_INTERFACE = 0x80004002;
constexpr DWORD REGISTER_RESULT = 0x80040201;     // what the probe's DllRegisterServer returns

std::wstring ProbeLibrary()
{
    return test::ProgramFolder() + L"\\cdll_probe.dll";
}

// What the probe library last saw ("none" when it was not called).
std::wstring TakeReport()
{
    wchar_t text[512] = {};
    GetEnvironmentVariableW(L"VARNOLT_PROBE", text, 512);
    SetEnvironmentVariableW(L"VARNOLT_PROBE", L"none");
    return text;
}

struct ExportCase {
    std::wstring line;          // "{L}" stands for the probe library
    DWORD result;
    const wchar_t* report;
    int line_;
};
#define EXPORT_CASE(l, r, p) {l, r, p, __LINE__}

const ExportCase EXPORT_CASES[] = {
    EXPORT_CASE(L"CDLL {L}", REGISTER_RESULT, L"registered"),
    EXPORT_CASE(L"CDLL {L},", REGISTER_RESULT, L"registered"),
    EXPORT_CASE(L"CDLL {L},ProbeCount", 1, L"none"),
    EXPORT_CASE(L"CDLL {L},ProbeCount", 1, L"none"),                  // freed after each call: it starts fresh
    EXPORT_CASE(L"CDLL {L},ProbeTwo,#5,text", 2, L"5|text"),
    EXPORT_CASE(L"CDLL {L},ProbeFour,#7,a b,#-3,four,five", 7, L"7|a b|-3|four\x01" L"five|-1"),   // fifth stays in the fourth
    EXPORT_CASE(L"CDLL {L},ProbeFour,#4294967295,a,#4294967295,b", 0xFFFFFFFF, L"-1|a|-1|b|0"),   // unsigned: not widened with a sign
    EXPORT_CASE(L"CDLL {L},ProbeFour,#4294967296,a,#2147483648,b", 0x7FFFFFFF, L"2147483647|a|-2147483648|b|0"),
    EXPORT_CASE(L"CDLL {L},NoSuchExport", NO_INTERFACE, L"none"),
    EXPORT_CASE(L"CDLL {L},,#1", NO_INTERFACE, L"none"),               // an empty name is no export
    EXPORT_CASE(L"CDLL {L},\xFF24llRegisterServer", NO_INTERFACE, L"none"),   // a full-width D is no D
    EXPORT_CASE(L"CDLL C:\\no\\such\\library.dll", NO_INTERFACE, L"none"),
};

TEST(CallDllExport, CallsExports)
{
    TakeReport();
    for (const auto& c : EXPORT_CASES) {
        std::wstring line = c.line;
        size_t library = line.find(L"{L}");
        if (library != std::wstring::npos)
            line.replace(library, 3, ProbeLibrary());
        EXPECT_EQ(test::Run(line), c.result) << "case at line " << c.line_;
        EXPECT_EQ(TakeReport(), c.report) << "case at line " << c.line_;
    }
}

// Runs 'line' with 'folder' as the current folder and at the head of PATH.
DWORD RunWithFolderAtHand(const std::wstring& line, const std::wstring& folder)
{
    wchar_t previousFolder[MAX_PATH], previousPath[32768];
    GetCurrentDirectoryW(MAX_PATH, previousFolder);
    GetEnvironmentVariableW(L"PATH", previousPath, ARRAYSIZE(previousPath));
    SetCurrentDirectoryW(folder.c_str());
    SetEnvironmentVariableW(L"PATH", (folder + L";" + previousPath).c_str());
    DWORD result = test::Run(line);
    SetEnvironmentVariableW(L"PATH", previousPath);
    SetCurrentDirectoryW(previousFolder);
    return result;
}

// A bare name is looked for in the program's folder and the system's only, never in the
// current folder or along PATH; a path loads that file, with its own folder searched for
// the libraries it needs.
TEST(CallDllExport, LoadsFromKnownPlacesOnly)
{
    test::TempFolder folder;
    ASSERT_TRUE(CopyFileW(ProbeLibrary().c_str(), (folder / L"cdll_stray.dll").c_str(), FALSE));
    EXPECT_EQ(RunWithFolderAtHand(L"CDLL cdll_stray.dll,ProbeCount", folder.path()), NO_INTERFACE);
    EXPECT_EQ(RunWithFolderAtHand(L"CDLL cdll_probe,ProbeCount", folder.path()), 1u);
    EXPECT_EQ(test::Run(L"CDLL " + folder / L"cdll_stray.dll,ProbeCount"), 1u);
    std::wstring dependent = test::ProgramFolder() + L"\\cdll_pair\\cdll_dependent.dll";
    EXPECT_EQ(test::Run(L"CDLL " + dependent + L",DependentValue"), 42u);
}

TEST(CallDllExport, FileThatIsNoLibrary)
{
    test::TempFolder folder;
    test::WriteBytes(folder / L"broken.dll", "not a library");
    std::wstring broken = folder / L"broken.dll";
    std::wstring rest;
    EXPECT_EQ(CallDllExport(broken.data(), rest.data()), NO_INTERFACE);
}

} // namespace
