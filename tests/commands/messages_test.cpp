#include "commands/commands.h"
#include "support/outward_calls_guard.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <mmsystem.h>
#include <thread>

namespace {

// --- PLAY through a recorder ---

std::wstring playedName;
DWORD playedFlags;
bool nameGiven;
BOOL playAnswer;

BOOL RecordPlay(const wchar_t* sound, HMODULE module, DWORD flags)
{
    nameGiven = sound != nullptr;
    playedName = sound ? sound : L"";
    playedFlags = module ? 0xDEADu : flags;
    return playAnswer;
}

struct PlayCase {
    const wchar_t* script;
    const wchar_t* name;        // nullptr: no name passed
    DWORD flags;
    int line;
};
#define PLAY_CASE(s, n, f) {s, n, f, __LINE__}

const PlayCase PLAY_CASES[] = {
    PLAY_CASE(L"PLAY C:\\a.wav", L"C:\\a.wav", SND_FILENAME),
    PLAY_CASE(L"PLAY *!C:\\a.wav", L"C:\\a.wav", SND_LOOP | SND_ASYNC | SND_FILENAME),
    PLAY_CASE(L"PLAY $SystemStart", L"SystemStart", SND_ALIAS | SND_FILENAME),
    PLAY_CASE(L"PLAY !!*$!x,y", L"x\x01y", SND_ASYNC | SND_LOOP | SND_ALIAS | SND_FILENAME),   // not split
    PLAY_CASE(L"PLAY a!b", L"a!b", SND_FILENAME),                  // marks only at the start
    PLAY_CASE(L"PLAY", nullptr, SND_FILENAME),                     // stops the sound
    PLAY_CASE(L"PLAY !", nullptr, SND_ASYNC | SND_FILENAME),
};

TEST(Play, FlagsAndName)
{
    test::OutwardCallsGuard guard;
    outwardCalls.playSound = RecordPlay;
    for (BOOL answer : {TRUE, FALSE}) {
        playAnswer = answer;
        for (const auto& c : PLAY_CASES) {
            EXPECT_EQ(test::Run(c.script), answer ? 0u : 1u) << "case at line " << c.line;
            EXPECT_EQ(nameGiven, c.name != nullptr) << "case at line " << c.line;
            EXPECT_EQ(playedName, c.name ? c.name : L"") << "case at line " << c.line;
            EXPECT_EQ(playedFlags, c.flags) << "case at line " << c.line;
        }
    }
}

// --- MSGX under a display: a helper thread answers the box ---

struct BoxSeen {
    bool found = false;
    std::wstring caption;
    std::wstring text;
    bool hasYes = false;
    bool hasIcon = false;
};

BOOL CALLBACK FindOwnBox(HWND window, LPARAM result)
{
    DWORD process = 0;
    wchar_t className[16];
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !GetClassNameW(window, className, ARRAYSIZE(className)) ||
        wcscmp(className, L"#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND*>(result) = window;
    return FALSE;
}

// Waits for this process's message box, notes what it shows and presses 'button'.
void AnswerBox(BoxSeen& seen, int button)
{
    constexpr int MESSAGE_ICON_CONTROL = 0x0440;   // the box's icon control
    constexpr int MESSAGE_TEXT_CONTROL = 0xFFFF;
    for (int attempt = 0; attempt < 1200; ++attempt) {     // a fresh prefix builds its font cache first
        HWND box = nullptr;
        EnumWindows(FindOwnBox, reinterpret_cast<LPARAM>(&box));
        if (box) {
            wchar_t text[MAX_PATH_CHARS];
            GetWindowTextW(box, text, MAX_PATH_CHARS);
            seen.caption = text;
            GetDlgItemTextW(box, MESSAGE_TEXT_CONTROL, text, MAX_PATH_CHARS);
            seen.text = text;
            seen.hasYes = GetDlgItem(box, IDYES) != nullptr;
            HWND icon = GetDlgItem(box, MESSAGE_ICON_CONTROL);
            seen.hasIcon = icon && SendMessageW(icon, STM_GETICON, 0, 0) != 0;
            seen.found = true;
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
            return;
        }
        Sleep(50);
    }
}

struct BoxCase {
    const wchar_t* script;
    int button;
    const wchar_t* caption;
    const wchar_t* text;
    bool yesNo;
    bool icon;
    int line;
};
#define BOX_CASE(s, b, c, t, y, i) {s, b, c, t, y, i, __LINE__}

const BoxCase BOX_CASES[] = {
    BOX_CASE(L"MSGX Hello there", IDOK, L"Varnolt", L"Hello there", false, true),
    BOX_CASE(L"MSGX Text,My caption", IDOK, L"My caption", L"Text", false, true),
    BOX_CASE(L"MSGX Sure?,Question,4", IDYES, L"Question", L"Sure?", true, false),   // 4 replaces the icon
    BOX_CASE(L"MSGX Sure?,Question,36", IDNO, L"Question", L"Sure?", true, true),
    BOX_CASE(L"MSGX a%,b,c,4,9", IDYES, L"c", L"a,b", true, false),                   // the type ends at a separator
};

TEST(Msgx, ReturnsTheButtonPressed)
{
    if (!test::HasDisplay())
        GTEST_SKIP() << "no display: run under xvfb-run";
    for (const auto& c : BOX_CASES) {
        BoxSeen seen;
        std::thread answer(AnswerBox, std::ref(seen), c.button);
        DWORD result = test::Run(c.script);     // about 2 s: Wine waits for a window manager that Xvfb lacks
        answer.join();
        ASSERT_TRUE(seen.found) << "case at line " << c.line;
        EXPECT_EQ(result, static_cast<DWORD>(c.button)) << "case at line " << c.line;
        EXPECT_EQ(seen.caption, c.caption) << "case at line " << c.line;
        EXPECT_EQ(seen.text, c.text) << "case at line " << c.line;
        EXPECT_EQ(seen.hasYes, c.yesNo) << "case at line " << c.line;
        EXPECT_EQ(seen.hasIcon, c.icon) << "case at line " << c.line;
    }
}

} // namespace
