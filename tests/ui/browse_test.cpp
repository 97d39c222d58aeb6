// Path joining of the browse providers' InstallDir fallback, and the Smartphone's default
// file; browsing through the providers is driven through the console in tests/end_to_end.
#include "base/changes.h"
#include "resources/resource.h"
#include "support/browse_settings.h"
#include "tests/ui/modal_window.h"
#include "ui/ui.h"
#include <gtest/gtest.h>
#include <string>

namespace {

struct AppendCase {
    std::wstring path;
    std::wstring joined;        // empty: it does not fit, and the path stays
    int line;
};

TEST(AppendPathComponent, JoinsWithOneBackslash)
{
    const AppendCase CASES[] = {
        {L"C:\\Apps", L"C:\\Apps\\RFileShell", __LINE__},
        {L"C:\\Apps\\", L"C:\\Apps\\RFileShell", __LINE__},
        {L"", L"\\RFileShell", __LINE__},
        {std::wstring(249, L'x'), L"", __LINE__},                      // 249 + 1 + 10 units and the NUL
        {std::wstring(248, L'x') + L"\\", std::wstring(248, L'x') + L"\\RFileShell", __LINE__},
    };
    for (const auto& c : CASES) {
        wchar_t path[MAX_PATH_CHARS];
        ASSERT_EQ(CopyText(path, c.path.c_str()), ERROR_SUCCESS);
        size_t length = AppendPathComponent(path, L"RFileShell");
        std::wstring expected = c.joined.empty() ? c.path : c.joined;
        EXPECT_EQ(std::wstring(path), expected) << "case at line " << c.line;
        EXPECT_EQ(length, c.joined.size()) << "case at line " << c.line;
    }
}

TEST(BrowseForFile, SmartphoneBeforeVersion5OffersTheDefaultFile)
{
    if (!test::HasDisplay())
        GTEST_SKIP() << "no display";
    instanceHandle = GetModuleHandleW(nullptr);
    test::BrowseSettingsGuard settings;
    std::wstring valuesWritten;         // through the registry writer, whose observer hears of each
    ChangeObserver observer{[](void* context, const Change& change) {
                                if (change.kind == ChangeKind::SetValue)
                                    static_cast<std::wstring*>(context)->append(change.path).append(L":").append(change.name);
                                return DWORD{0};
                            },
                            nullptr, nullptr, &valuesWritten};
    struct Installed {
        const ChangeObserver* previous;
        ~Installed() { SetChangeObserver(previous); }
    } installed{SetChangeObserver(&observer)};
    std::wstring field(MAX_PATH, L'\0');
    const wchar_t* const TITLE = L"浏览 VRS/REG/XML/EXE/DLL 文件";
    ui_test::ModalWindow browse([&] {
        HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
        CreateWindowExW(0, L"EDIT", L"typed", WS_CHILD, 0, 0, 100, 20, host, reinterpret_cast<HMENU>(300), nullptr, nullptr);
        DWORD result = BrowseForFileOnPlatform(host, 300, IDS_BROWSE_FILTER, 0);
        field.resize(GetDlgItemTextW(host, 300, field.data(), MAX_PATH));
        DestroyWindow(host);
        return result;
    }, TITLE);
    PostMessageW(browse.window(), WM_COMMAND, IDCANCEL, 0);       // the system's own dialog fails
    HWND advice = browse.WaitForWindow(TITLE, browse.window());
    ASSERT_NE(advice, nullptr);
    wchar_t message[512] = {};
    GetDlgItemTextW(advice, 0xFFFF, message, ARRAYSIZE(message));
    EXPECT_EQ(std::wstring(message).rfind(L"如果要在 Smartphone 2003 中浏览获取文件名", 0), 0u) << test::Utf8(message);
    PostMessageW(advice, WM_COMMAND, IDYES, 0);
    EXPECT_EQ(browse.Result(), 1u);
    EXPECT_EQ(field, L"\\My Documents\\Varnolt.vrs");
    EXPECT_EQ(test::BrowseFolderSetting(), L"\\My Documents\\");
    EXPECT_EQ(valuesWritten, L"Software\\Varnolt:BrowseFile");
}

} // namespace
