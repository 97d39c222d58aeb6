// DLGX's dialog: the item-list reader, and the dialog itself driven through its windows by
// a helper thread while the test's thread waits in it.
#include "support/test_support.h"
#include "ui/ui.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

// An item list: commas become separators, as in a script line.
std::vector<wchar_t> ItemList(const std::wstring& text)
{
    std::vector<wchar_t> list;
    for (wchar_t unit : text)
        list.push_back(unit == L',' ? ARG_SEPARATOR : unit);
    list.push_back(0);
    return list;
}

// Each item as its mark ('e' for an edit box, '-' for an @ item without control), '+'
// when it starts checked, its text, and '>' and its registry text.
std::wstring Describe(const DialogItemList& items)
{
    std::wstring text = items.hideCancel ? L"# " : L"";
    for (int i = 0; i < items.count; ++i) {
        const DialogItem& item = items.items[i];
        text += i ? L" / " : L"";
        text += !item.hasControl ? L'-' : item.mark ? item.mark : L'e';
        text += item.checked ? L"+" : L"";
        text += std::wstring(item.text.start, item.text.length);
        if (item.registryText.start)
            text += L">" + std::wstring(item.registryText.start, item.registryText.length);
    }
    return text;
}

struct ReadCase {
    const wchar_t* list;
    const wchar_t* items;
    int line;
};
#define READ_CASE(l, i) {l, i, __LINE__}

const ReadCase READ_CASES[] = {
    READ_CASE(L"$Label,[]Off,[x]On,text", L"$Label / [Off / [+On / etext"),
    READ_CASE(L"[0]zero,[ ]blank,[1]one,[x", L"[zero / [+blank / [+one / [+"),    // a label never starts past its item
    READ_CASE(L"{}a,<*>b,<>c,{0}d,<", L"{a / <+b / <c / {d / <+"),
    READ_CASE(L"@Flag|HKCU\\a\\#v=1?0|x,@No bar,@|", L"@Flag>HKCU\\a\\#v=1?0|x / -No bar / @>"),
    READ_CASE(L"", L"e"),                           // an empty list is one empty edit box
    READ_CASE(L"$a,,", L"$a / e / e"),
    READ_CASE(L"#$a,b", L"# $a / eb"),
    READ_CASE(L"#,$a", L"# e / $a"),                // the first item follows the '#' at once
    READ_CASE(L"a#,x]", L"ea# / ex]"),
};

TEST(DialogItems, KindsTextsAndInitialStates)
{
    for (const auto& c : READ_CASES) {
        std::vector<wchar_t> list = ItemList(c.list);
        DialogItemList items;
        ReadDialogItems(list.data(), items);
        EXPECT_EQ(Describe(items), c.items) << "case at line " << c.line;
    }
}

TEST(DialogItems, ClassesAndStyles)
{
    std::vector<wchar_t> list = ItemList(L"$a,[]b,<>c,{}d,@e|x,f");
    DialogItemList items;
    ReadDialogItems(list.data(), items);
    const wchar_t* const CLASSES[] = {L"STATIC", L"BUTTON", L"BUTTON", L"BUTTON", L"BUTTON", L"EDIT"};
    const DWORD STYLES[] = {0x50000000, 0x50010003, 0x50010009, 0x50030009, 0x50010003, 0x50810080};
    ASSERT_EQ(items.count, 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_STREQ(items.items[i].className, CLASSES[i]) << i;
        EXPECT_EQ(items.items[i].style, STYLES[i]) << i;
    }
}

// --- the dialog, under a display ---

const std::wstring LONG_TEXT(300, L'y');
const std::wstring LONG_TEXT_KEPT = LONG_TEXT.substr(0, MAX_PATH_CHARS - 1);

// What the helper thread saw before it pressed its button.
struct Seen {
    std::wstring initial;       // per item: '1' checked, '0' not, '-' label or edit box, 'x' no control
    bool laidOut = true;        // every control in its row, a scroll bar's width short of the right
    bool cancelHidden = false;
};

using Drive = std::function<void(HWND dialog)>;

HWND ControlOf(HWND dialog, int index)
{
    return GetDlgItem(dialog, FIRST_ITEM_ID + index);
}

bool IsInItsRow(HWND dialog, HWND control, int index)
{
    RECT client, rect;
    GetClientRect(dialog, &client);
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    int row = GetSystemMetrics(SM_CYSMICON) + 5;
    return rect.left == GetSystemMetrics(SM_CXSMICON) / 2 && rect.top == index * row + 5 &&
           rect.bottom - rect.top == row - 1 && rect.right == client.right - GetSystemMetrics(SM_CXVSCROLL);
}

void Observe(HWND dialog, Seen& seen)
{
    for (int i = 0; i <= MAX_DIALOG_ITEMS; ++i) {
        HWND control = ControlOf(dialog, i);
        wchar_t className[16] = {};
        GetClassNameW(control, className, 16);
        bool isButton = _wcsicmp(className, L"BUTTON") == 0;
        seen.initial += !control ? L'x' : !isButton ? L'-' : SendMessageW(control, BM_GETCHECK, 0, 0) ? L'1' : L'0';
        seen.laidOut = seen.laidOut && (!control || IsInItsRow(dialog, control, i));
    }
    seen.initial.erase(seen.initial.find_last_not_of(L'x') + 1);
    for (HWND bar = GetTopWindow(nullptr); bar; bar = GetWindow(bar, GW_HWNDNEXT))
        if (GetWindow(bar, GW_OWNER) == dialog)
            seen.cancelHidden = SendMessageW(FindWindowExW(bar, nullptr, TOOLBARCLASSNAMEW, nullptr),
                                             TB_ISBUTTONHIDDEN, IDCANCEL, 0) != 0;
}

// Shows the dialog of 'items' on this thread; a helper thread finds it, notes what it
// shows, runs 'drive' and presses 'button'.
DWORD RunDialog(const std::wstring& items, Seen& seen, const Drive& drive, UINT button,
                RegistryRunner registry = nullptr)
{
    std::vector<wchar_t> list = ItemList(items);
    seen = {};
    std::thread helper([&] {
        if (HWND dialog = test::WaitForWindow(GetCurrentProcessId(), L"#32770", nullptr)) {
            Observe(dialog, seen);
            drive(dialog);
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        }
    });
    DWORD result = ShowScriptDialog(WholeText(L"DLGX test"), list.data(), registry);
    helper.join();
    return result;
}

void PresetVariables()
{
    for (size_t i = 0; i < VARIABLE_COUNT; ++i)
        wsprintfW(ScriptVariables[i], L"v%u", static_cast<unsigned>(i));
}

class ScriptDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::HasDisplay())
            GTEST_SKIP() << "no display";
        instanceHandle = GetModuleHandleW(nullptr);
    }
};

struct DialogCase {
    const wchar_t* items;
    const wchar_t* initial;
    const wchar_t* clicks;      // items clicked, 'a' for item 0
    const wchar_t* typed;       // typed over the first edit box; nullptr: left as it is
    int backKeys;               // Back key presses
    UINT button;
    DWORD result;
    const wchar_t* variable0;
    const wchar_t* variable9;
    int line;
};
#define DIALOG_CASE(i, s, c, t, k, b, r, v0, v9) {i, s, c, t, k, b, r, v0, v9, __LINE__}

const DialogCase DIALOG_CASES[] = {
    DIALOG_CASE(L"$Label,[]Off,[x]On,initial", L"-01-", L"", nullptr, 0, IDOK, 4, L"initial", L"v9"),
    DIALOG_CASE(L"[]a,[0]b,[x]c,[ ]d,[1]e,[", L"001111", L"ab", nullptr, 0, IDOK, 63, L"v0", L"v9"),
    DIALOG_CASE(L"{}A,<*>B,<>C", L"010", L"c", nullptr, 0, IDOK, 4, L"v0", L"v9"),
    DIALOG_CASE(L"{*}a,<>b,{}c,<*>d", L"1001", L"b", nullptr, 0, IDOK, 10, L"v0", L"v9"),   // groups apart
    DIALOG_CASE(L"e0,e1,e2,e3,e4,e5,e6,e7,e8,e9,e10", L"-----------", L"", nullptr, 0, IDOK, 0, L"e0", L"e9"),
    DIALOG_CASE(L"[x]a,{*}b,initial", L"11-", L"a", L"typed", 0, IDCANCEL, 0xFFFFFFFF, L"v0", L"v9"),
    DIALOG_CASE(L"", L"-", L"", nullptr, 0, IDOK, 0, L"", L"v9"),
    DIALOG_CASE(L"x", L"-", L"", LONG_TEXT.c_str(), 0, IDOK, 0, LONG_TEXT_KEPT.c_str(), L"v9"),
    DIALOG_CASE(L"abc,[]d", L"-0", L"", nullptr, 2, IDOK, 0, L"a", L"v9"),     // Back is a Backspace in the box
    DIALOG_CASE(L"@a,[x]b", L"x1", L"", nullptr, 0, IDOK, 2, L"v0", L"v9"),  // an @ item without '|' keeps its bit
};

TEST_F(ScriptDialogTest, ResultMaskAndVariables)
{
    for (const auto& c : DIALOG_CASES) {
        PresetVariables();
        Seen seen;
        Drive drive = [&](HWND dialog) {
            for (const wchar_t* click = c.clicks; *click; ++click)
                SendMessageW(ControlOf(dialog, *click - L'a'), BM_CLICK, 0, 0);
            if (c.typed)
                SendMessageW(ControlOf(dialog, 0), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(c.typed));
            if (c.backKeys)
                SendMessageW(ControlOf(dialog, 0), EM_SETSEL, 0x7FFF, 0x7FFF);   // the caret after the text
            for (int i = 0; i < c.backKeys; ++i)
                PostMessageW(dialog, WM_HOTKEY, 0, MAKELPARAM(MOD_KEYUP, VK_TBACK));
        };
        EXPECT_EQ(RunDialog(c.items, seen, drive, c.button), c.result) << "case at line " << c.line;
        EXPECT_EQ(seen.initial, c.initial) << "case at line " << c.line;
        EXPECT_TRUE(seen.laidOut) << "case at line " << c.line;
        EXPECT_FALSE(seen.cancelHidden) << "case at line " << c.line;
        EXPECT_STREQ(ScriptVariables[0], c.variable0) << "case at line " << c.line;
        EXPECT_STREQ(ScriptVariables[9], c.variable9) << "case at line " << c.line;
    }
}

TEST_F(ScriptDialogTest, ThirtyThirdItemHiddenCancelAndOneDialogAtATime)
{
    std::wstring items = L"#";
    for (int i = 0; i < 31; ++i)
        items += L"$" + std::to_wstring(i) + L",";
    items += L"[x]31,[x]32";
    DWORD nested = 0;
    Seen seen;
    Drive drive = [&](HWND) {
        nested = ShowScriptDialog(WholeText(L"nested"), L"$x", nullptr);
    };
    EXPECT_EQ(RunDialog(items, seen, drive, IDOK), 0x80000000u);
    EXPECT_EQ(seen.initial, std::wstring(31, L'-') + L"1");
    EXPECT_TRUE(seen.cancelHidden);
    EXPECT_EQ(nested, static_cast<DWORD>(ERROR_BUSY));
}

// --- @ items through a recording runner ---

std::vector<std::wstring> registryCalls;

// Checks the boxes whose test names a value "yes".
DWORD RecordRegistry(const wchar_t* args)
{
    registryCalls.push_back(args);
    return wcsstr(args, L"\\yes=") != nullptr;
}

TEST_F(ScriptDialogTest, RegistryItemsTestAtCreationAndWriteOnDone)
{
    const std::wstring ITEMS = L"@Yes|HKCU\\T\\yes=1?0,@No|HKCU\\T\\no=on?off,@Set|HKCU\\T\\set=5,@Plain,"
                               L"@Odd|HKCU\\T?\\x=1?0";
    const std::vector<std::wstring> CREATION = {L"HKCU\\T\\yes=1?0", L"HKCU\\T\\no=on?off", L"HKCU\\T\\set=5",
                                                L"HKCU\\T?\\x=1?0"};
    Seen seen;
    Drive clickYesAndNo = [](HWND dialog) {
        SendMessageW(ControlOf(dialog, 0), BM_CLICK, 0, 0);
        SendMessageW(ControlOf(dialog, 1), BM_CLICK, 0, 0);
    };
    registryCalls.clear();
    EXPECT_EQ(RunDialog(ITEMS, seen, clickYesAndNo, IDCANCEL, RecordRegistry), 0xFFFFFFFFu);
    EXPECT_EQ(seen.initial, L"100x0");
    EXPECT_EQ(registryCalls, CREATION);         // Cancel writes nothing

    registryCalls.clear();
    EXPECT_EQ(RunDialog(ITEMS, seen, clickYesAndNo, IDOK, RecordRegistry), 2u);
    std::vector<std::wstring> expected = CREATION;
    for (const wchar_t* done : {L"HKCU\\T\\yes=0", L"HKCU\\T\\no=on", L"HKCU\\T\\set=5", L"HKCU\\T?\\x=0"})
        expected.push_back(done);
    EXPECT_EQ(registryCalls, expected);
}

} // namespace
