// The release zip as a user meets it: unpacked into a fresh folder by check_package.sh,
// which names that folder in VARNOLT_PACKAGE, and an example run from there.
#include "end_to_end/program_windows.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <set>

namespace {

using namespace e2e;

std::wstring PackageFolder()
{
    wchar_t folder[MAX_PATH] = {};
    GetEnvironmentVariableW(L"VARNOLT_PACKAGE", folder, MAX_PATH);
    return folder;
}

TEST(Package, HoldsTheProgramItsGuideAndTheLicences)
{
    std::wstring folder = PackageFolder();
    ASSERT_FALSE(folder.empty()) << "VARNOLT_PACKAGE names the unpacked package";
    for (const wchar_t* name : {L"Varnolt.exe", L"Varnolt.htm", L"README.md", L"licenses\\zlib.txt",
                                L"licenses\\mingw-w64-runtime.txt", L"examples\\demo.vrs", L"examples\\help.vrs"})
        EXPECT_TRUE(test::Exists(folder + L"\\" + name)) << test::Utf8(name);
    EXPECT_NE(test::ReadBytes(folder + L"\\licenses\\zlib.txt").find("Jean-loup Gailly and Mark Adler"), std::string::npos);
}

// Runs examples\help.vrs with the unpacked program: the guide is found next to it.
TEST(Package, HelpExampleShowsTheGuideNextToTheProgram)
{
    std::wstring folder = PackageFolder();
    ASSERT_FALSE(folder.empty());
    if (!test::HasDisplay())
        GTEST_SKIP() << "no display";
    PROCESS_INFORMATION process = StartVarnolt(L"\"" + folder + L"\\examples\\help.vrs\"", folder + L"\\Varnolt.exe");
    const wchar_t* const PAGES[] = {L"Varnolt User Guide\r\n", L"Welcome to Varnolt\r\n",
                                    L"Setup finished\r\nThank you for trying Varnolt, the command-script interpreter."};
    std::set<HWND> closed;
    for (const wchar_t* page : PAGES) {
        HWND help = nullptr;
        Eventually([&] {
            help = test::WaitForWindow(process.dwProcessId, L"#32770", L"Varnolt", 0);
            return help && !closed.count(help);
        });
        ASSERT_TRUE(help && !closed.count(help)) << "no window for " << test::Utf8(page);
        std::wstring shown = TextOf(FindWindowExW(help, nullptr, L"DISPLAYCLASS", nullptr));
        EXPECT_EQ(shown.rfind(page, 0), 0u) << test::Utf8(shown.substr(0, 100));
        closed.insert(help);
        PostMessageW(help, WM_COMMAND, IDOK, 0);
    }
    EXPECT_EQ(WaitForExit(process), 0u);
}

} // namespace
