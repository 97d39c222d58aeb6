// The HTML view, driven as the help viewer drives it: created as a child window, fed
// through its messages, and read back through WM_GETTEXT and EM_POSFROMCHAR.
#include "html/html.h"
#include "base/outward_calls.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <random>
#include <string>

namespace {

constexpr int VIEW_WIDTH = 420;
constexpr int VIEW_HEIGHT = 300;

std::vector<std::wstring> shellFiles;

BOOL RecordShell(SHELLEXECUTEINFOW* info)
{
    shellFiles.push_back(info->lpFile ? info->lpFile : L"(null)");
    return TRUE;
}

// A view in a parent window, created with the help viewer's exact call; the shell seam
// records instead of opening anything. The parent lives as long as the suite: without a
// window manager, Wine takes two seconds to destroy a visible top-level window.
class HtmlViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (test::HasDisplay())
            parent = CreateWindowExW(0, L"STATIC", L"help", WS_POPUP | WS_VISIBLE, 0, 0, VIEW_WIDTH, VIEW_HEIGHT,
                                     nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }

    static void TearDownTestSuite()
    {
        if (parent)
            DestroyWindow(parent);
        parent = nullptr;
    }

    void SetUp() override
    {
        if (!test::HasDisplay())
            GTEST_SKIP() << "no display";
        HINSTANCE instance = GetModuleHandleW(nullptr);
        ASSERT_TRUE(InitHTMLControl(instance));
        ASSERT_TRUE(InitHTMLControl(instance));       // a second registration is harmless
        ASSERT_NE(parent, nullptr);
        view = CreateWindowExW(0, L"DISPLAYCLASS", nullptr, 0x50000002, 0, 0, 0, 0, parent,
                               reinterpret_cast<HMENU>(303), instance, nullptr);
        ASSERT_NE(view, nullptr);
        MoveWindow(view, 0, 0, VIEW_WIDTH, VIEW_HEIGHT, TRUE);
        savedShell = outwardCalls.shellExecute;
        outwardCalls.shellExecute = RecordShell;
        shellFiles.clear();
    }

    void TearDown() override
    {
        if (savedShell)
            outwardCalls.shellExecute = savedShell;
        if (view)
            DestroyWindow(view);
    }

    void Recreate()
    {
        DestroyWindow(view);
        view = CreateWindowExW(0, L"DISPLAYCLASS", nullptr, 0x50000002, 0, 0, VIEW_WIDTH, VIEW_HEIGHT, parent,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(view, nullptr);
    }

    void Show(const std::wstring& html, WPARAM plain = 0)
    {
        SendMessageW(view, DTM_ADDTEXTW, plain, reinterpret_cast<LPARAM>(html.c_str()));
        SendMessageW(view, DTM_ENDOFSOURCE, 0, 0);
    }

    std::wstring Shown()
    {
        std::wstring text(SendMessageW(view, WM_GETTEXTLENGTH, 0, 0), L'\0');
        LRESULT copied = SendMessageW(view, WM_GETTEXT, text.size() + 1, reinterpret_cast<LPARAM>(text.data()));
        EXPECT_EQ(static_cast<size_t>(copied), text.size());
        return text;
    }

    // The client position of the first character of 'needle' in the shown text.
    POINT PositionOf(const std::wstring& needle)
    {
        size_t index = Shown().find(needle);
        EXPECT_NE(index, std::wstring::npos) << "not shown: " << test::Utf8(needle);
        LRESULT packed = SendMessageW(view, EM_POSFROMCHAR, index, 0);
        EXPECT_NE(packed, -1);
        return {static_cast<short>(LOWORD(packed)), static_cast<short>(HIWORD(packed))};
    }

    void Click(POINT at)
    {
        LPARAM where = MAKELPARAM(at.x + 2, at.y + 3);
        SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, where);
        SendMessageW(view, WM_LBUTTONUP, 0, where);
    }

    static inline HWND parent = nullptr;
    HWND view = nullptr;
    BOOL (*savedShell)(SHELLEXECUTEINFOW*) = nullptr;
};

struct ShownCase {
    const wchar_t* html;
    const wchar_t* shown;
    int line;
};
#define SHOWN_CASE(h, s) {h, s, __LINE__}

const ShownCase SHOWN_CASES[] = {
    SHOWN_CASE(L"a &amp; b &lt;c&gt; &quot;q&quot; &apos;s&apos; &copy;&reg;&eacute;&Uuml;&yuml;&nbsp;x",
               L"a & b <c> \"q\" 's' \x00A9\x00AE\x00E9\x00DC\x00FF\x00A0x"),
    SHOWN_CASE(L"&#65;&#x42;&#X43;&#x1F600;&#0;&#150;&#x110000;", L"ABC\xD83D\xDE00\xFFFD\x2013\xFFFD"),
    SHOWN_CASE(L"AT&T &bogus; &amp &", L"AT&T &bogus; & &"),
    SHOWN_CASE(L"<foo bar=\"1>2\">x</foo><blink>y</blink> <x-y/>z", L"xy z"),
    SHOWN_CASE(L"<head><title>T</title><style>p{}</style></head><script>if (a<b) x('</p>');</script>"
               L"<!-- <p>c</p> -->body<!doctype x><?pi?>",
               L"body"),
    SHOWN_CASE(L"  a \n\t  <b> b </b>  c  ", L"a b c"),
    SHOWN_CASE(L"<h1>Title</h1>text<h6>small</h6>", L"Title\r\ntext\r\nsmall"),
    SHOWN_CASE(L"a<br>b<p>c</p>d<br/><br>e<hr>f", L"a\r\nb\r\nc\r\nd\r\ne\r\nf"),
    SHOWN_CASE(L"<ol><li>one<li>two<ol><li>inner</ol><li>three</ol>", L"1. one\r\n2. two\r\n1. inner\r\n3. three"),
    SHOWN_CASE(L"<ol start=4 type=i><li>a<li>b</ol><ol type=A start=26><li>c<li>d</ol>",
               L"iv. a\r\nv. b\r\nZ. c\r\nAA. d"),
    SHOWN_CASE(L"<ul><li>a<ul><li>b<ul><li>c</ul></ul><li>d</ul>", L"\x2022 a\r\n\x25E6 b\r\n\x25AA c\r\n\x2022 d"),
    SHOWN_CASE(L"<pre>\n  a   b\n\tc <b>d</b>\n</pre>x", L"  a   b\r\n        c d\r\nx"),
    SHOWN_CASE(L"<p>x <code>  mono  </code> y</p>", L"x mono y"),
    SHOWN_CASE(L"<table><tr><td>x<td>y<tr><td>z", L"x\ty\r\nz"),
    SHOWN_CASE(L"<table><tr><td>a<br>b<td>c</table>", L"a\tc\r\nb"),               // read row by row
    SHOWN_CASE(L"<table>loose<tr><th>h</th></tr></table>after", L"loose\r\nh\r\nafter"),
    SHOWN_CASE(L"<dl><dt>term<dd>meaning</dl>", L"term\r\nmeaning"),
    SHOWN_CASE(L"<img alt=\"[logo]\" src=x.png> <a name=top></a>text", L"[logo] text"),
    SHOWN_CASE(L"a <", L"a <"),
    SHOWN_CASE(L"a <b", L"a"),
    SHOWN_CASE(L"a<!-- never closed", L"a"),
};

TEST_F(HtmlViewTest, ShowsTextNotMarkup)
{
    for (const auto& c : SHOWN_CASES) {
        Recreate();
        Show(c.html);
        EXPECT_EQ(Shown(), c.shown) << "case at line " << c.line;
    }
}

TEST_F(HtmlViewTest, TextAccumulatesAndPlainTextStaysText)
{
    SendMessageW(view, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(L"<b>hel"));
    SendMessageW(view, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(L"lo</b> "));
    Show(L"a<b>&amp;\nc", 1);
    EXPECT_EQ(Shown(), L"hello a<b>&amp;\r\nc");
}

TEST_F(HtmlViewTest, TableCellsStartInColumns)
{
    Show(L"<table><tr><th>Key</th><td>bb</td><td>x</td></tr>"
         L"<tr><td>longer cell</td><td>c</td><td>z</td></tr></table>");
    EXPECT_EQ(Shown(), L"Key\tbb\tx\r\nlonger cell\tc\tz");
    EXPECT_EQ(PositionOf(L"Key").x, PositionOf(L"longer").x);
    EXPECT_EQ(PositionOf(L"bb").x, PositionOf(L"c\t").x);
    EXPECT_EQ(PositionOf(L"x").x, PositionOf(L"z").x);
    EXPECT_GT(PositionOf(L"c\t").x, PositionOf(L"ll\t").x + 8);    // past the end of "longer cell"
    EXPECT_GT(PositionOf(L"longer").y, PositionOf(L"Key").y);
}

using PlaceCheck = bool (*)(POINT first, POINT second);
bool SameColumn(POINT first, POINT second) { return first.x == second.x; }
bool FurtherRight(POINT first, POINT second) { return second.x > first.x + 10; }
bool FurtherDown(POINT first, POINT second) { return second.y > first.y; }
bool InsideView(POINT, POINT second) { return second.x > 0 && second.x < VIEW_WIDTH; }

struct PlaceCase {
    const wchar_t* html;
    const wchar_t* first;
    const wchar_t* second;
    PlaceCheck check;
    int line;
};
#define PLACE_CASE(h, a, b, c) {h, a, b, c, __LINE__}

const PlaceCase PLACE_CASES[] = {
    PLACE_CASE(L"<pre>a   1\nbbbb2</pre>", L"1", L"2", SameColumn),           // monospace, spaces kept
    PLACE_CASE(L"<ul><li>outer<ul><li>inner</ul></ul>", L"outer", L"inner", FurtherRight),
    PLACE_CASE(L"<p>plain</p><blockquote>quoted</blockquote>", L"plain", L"quoted", FurtherRight),
    PLACE_CASE(L"<table><tr><td>a wide cell<tr><td align=right>r</table>", L"a wide", L"r", FurtherRight),
    PLACE_CASE(L"<p>word word word word word word word word word word word word word word word word word word "
               L"word word word word word word word word word word word end</p>", L"word", L"end", FurtherDown),
    PLACE_CASE(L"<p>中文中文中文中文中文中文中文中文中文中文中文中文中文中文中文中文中文中文中文中文中文中文中文末</p>",
               L"中", L"末", FurtherDown),                                     // CJK wraps without spaces
    PLACE_CASE(L"<table><tr><td>x<td>longwordlongwordlongwordlongwordlongwordlongword"
               L"<td>longwordlongwordlongwordlongword<td>z</table>", L"x", L"z", InsideView),
};

TEST_F(HtmlViewTest, PlacesText)
{
    for (const auto& c : PLACE_CASES) {
        Show(c.html);
        POINT first = PositionOf(c.first);
        POINT second = PositionOf(c.second);
        EXPECT_TRUE(c.check(first, second)) << "case at line " << c.line << ": " << first.x << "," << first.y
                                            << " then " << second.x << "," << second.y;
        Recreate();
    }
}

TEST_F(HtmlViewTest, HeadingLinesAreTaller)
{
    Show(L"<h1>Big<br>Big2</h1><p>s1<br>s2</p>");
    EXPECT_GT(PositionOf(L"Big2").y - PositionOf(L"Big").y, PositionOf(L"s2").y - PositionOf(L"s1").y + 5);
}

TEST_F(HtmlViewTest, RefusesMissingTextAndCutsTextToTheBuffer)
{
    EXPECT_FALSE(SendMessageW(view, DTM_ADDTEXTW, 0, 0));
    EXPECT_FALSE(SendMessageW(view, DTM_NAVIGATE, 0x80, 0));
    Show(L"abcdef");
    wchar_t small[4] = {L'x', L'x', L'x', L'x'};
    EXPECT_EQ(SendMessageW(view, WM_GETTEXT, ARRAYSIZE(small), reinterpret_cast<LPARAM>(small)), 3);
    EXPECT_STREQ(small, L"abc");
    EXPECT_EQ(SendMessageW(view, EM_POSFROMCHAR, 6, 0), -1);
}

TEST_F(HtmlViewTest, CentresParagraphs)
{
    for (const wchar_t* html : {L"<p align=center>mid</p>", L"<center>mid</center>", L"<div align=\"CENTER\">mid</div>"}) {
        Show(std::wstring(L"<p>left</p>") + html);
        int middle = PositionOf(L"mid").x;
        EXPECT_GT(middle, VIEW_WIDTH / 2 - 40) << test::Utf8(html);
        EXPECT_LT(middle, VIEW_WIDTH / 2) << test::Utf8(html);
        EXPECT_LT(PositionOf(L"left").x, 20) << test::Utf8(html);
    }
}

TEST_F(HtmlViewTest, LinksGoToTheShell)
{
    Show(L"<p>plain <a href=\"http://example.com/a?b=1&amp;c=2\">here</a> <a name=x>not a link</a></p>");
    Click(PositionOf(L"plain"));
    Click(PositionOf(L"not a link"));
    EXPECT_TRUE(shellFiles.empty());
    Click(PositionOf(L"here"));
    ASSERT_EQ(shellFiles.size(), 1u);
    EXPECT_EQ(shellFiles[0], L"http://example.com/a?b=1&c=2");
}

TEST_F(HtmlViewTest, LinkToAnAnchorScrolls)
{
    std::wstring html = L"<a href=\"#end\">jump</a>";
    for (int i = 0; i < 100; ++i)
        html += L"<p>filler</p>";
    Show(html + L"<h2 id=end>End</h2>");
    Click(PositionOf(L"jump"));
    EXPECT_TRUE(shellFiles.empty());
    POINT end = PositionOf(L"End");
    EXPECT_GE(end.y, 0);
    EXPECT_LT(end.y, VIEW_HEIGHT);
}

TEST_F(HtmlViewTest, NavigatesToFilesInEveryAddressForm)
{
    test::TempFolder folder;
    std::wstring path = folder / L"my help.htm";
    test::WriteBytes(path, "\xEF\xBB\xBF" + test::Utf8(L"<h1>帮助</h1><p>中文内容</p><a href='sub/next%20page.htm#x'>next</a>"));
    std::wstring slashed = path;
    for (auto& unit : slashed)
        unit = unit == L'\\' ? L'/' : unit;
    std::wstring escaped;
    for (wchar_t unit : path)
        escaped += unit == L' ' ? std::wstring(L"%20") : std::wstring(1, unit);
    for (const std::wstring& address : {L"file://" + path, L"file:///" + slashed, L"file://" + escaped, path}) {
        SendMessageW(view, DTM_NAVIGATE, 0x80, reinterpret_cast<LPARAM>(address.c_str()));
        EXPECT_EQ(Shown(), L"帮助\r\n中文内容\r\nnext") << test::Utf8(address);
    }
    Click(PositionOf(L"next"));
    ASSERT_EQ(shellFiles.size(), 1u);
    EXPECT_EQ(shellFiles[0], folder / L"sub\\next page.htm");

    std::wstring missing = L"file://" + folder / L"missing.htm";
    SendMessageW(view, DTM_NAVIGATE, 0x80, reinterpret_cast<LPARAM>(missing.c_str()));
    std::wstring shown = Shown();
    std::erase(shown, L'\r');
    std::erase(shown, L'\n');
    EXPECT_NE(shown.find(missing), std::wstring::npos);
}

TEST_F(HtmlViewTest, WebAddressGoesToTheShell)
{
    const wchar_t* address = L"https://example.org/help?a=1&b=<2>";
    SendMessageW(view, DTM_NAVIGATE, 0x80, reinterpret_cast<LPARAM>(address));
    ASSERT_EQ(shellFiles.size(), 1u);
    EXPECT_EQ(shellFiles[0], address);
    Click(PositionOf(address));
    ASSERT_EQ(shellFiles.size(), 2u);
    EXPECT_EQ(shellFiles[1], address);
}

TEST_F(HtmlViewTest, ScrollsAndRewraps)
{
    std::wstring html;
    for (int i = 0; i < 200; ++i)
        html += L"<p>paragraph " + std::to_wstring(i) + L" with some words to wrap</p>";
    Show(html);
    int top = PositionOf(L"paragraph 0 ").y;
    SendMessageW(view, WM_KEYDOWN, VK_NEXT, 0);
    int paged = PositionOf(L"paragraph 0 ").y;
    EXPECT_LT(paged, top - VIEW_HEIGHT / 2);
    SendMessageW(view, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_LT(PositionOf(L"paragraph 0 ").y, paged);
    SendMessageW(view, WM_KEYDOWN, VK_END, 0);
    int last = PositionOf(L"paragraph 199").y;
    EXPECT_GT(last, 0);
    EXPECT_LT(last, VIEW_HEIGHT);
    SendMessageW(view, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), 0);
    EXPECT_GT(PositionOf(L"paragraph 199").y, last);
    SendMessageW(view, WM_KEYDOWN, VK_HOME, 0);
    EXPECT_EQ(PositionOf(L"paragraph 0 ").y, top);
    SendMessageW(view, WM_VSCROLL, SB_PAGEDOWN, 0);
    EXPECT_EQ(PositionOf(L"paragraph 0 ").y, paged);
    SendMessageW(view, WM_VSCROLL, SB_BOTTOM, 0);
    EXPECT_EQ(PositionOf(L"paragraph 199").y, last);

    std::wstring wide = Shown();
    MoveWindow(view, 0, 0, VIEW_WIDTH / 3, VIEW_HEIGHT, TRUE);
    std::wstring narrow = Shown();
    EXPECT_GT(std::count(narrow.begin(), narrow.end(), L'\n'), std::count(wide.begin(), wide.end(), L'\n') + 100);
}

TEST_F(HtmlViewTest, LaysOutALongGuideQuickly)
{
    std::wstring guide;
    for (int section = 0; guide.size() < 150000; ++section) {
        guide += L"<h2>Section " + std::to_wstring(section) + L"</h2><p>Some <b>text</b> and <i>more</i> &amp; "
                 L"a <a href=\"#s\">link</a>, long enough to wrap over a line or two of the view.</p>"
                 L"<table><tr><th>Keyword</th><th>Does</th></tr><tr><td>EVAL</td><td>sets a variable</td></tr>"
                 L"<tr><td>CALL</td><td>runs a procedure</td></tr></table>"
                 L"<pre>EVAL 1=Varnolt\n  IFEX %1=x,EVAL 2=y</pre><ul><li>one<li>two</ul>";
    }
    ULONGLONG start = GetTickCount64();
    Show(guide);
    MoveWindow(view, 0, 0, VIEW_WIDTH - 50, VIEW_HEIGHT, TRUE);
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_NE(Shown().find(L"Section 99"), std::wstring::npos);
}

// Random bytes, tags and references, deep nesting, endless attributes and words, and
// megabytes of small appends: every document must be shown without a crash or a hang.
TEST_F(HtmlViewTest, SurvivesGarbage)
{
    const wchar_t* pieces[] = {L"<", L">", L"&", L"&#", L"&#x", L";", L"\"", L"'", L"=", L"/", L"<!--", L"-->",
                               L"<table>", L"<tr>", L"<td>", L"</table>", L"<ul>", L"<li>", L"<ol start=", L"<pre>",
                               L"</pre>", L"<a href=", L"</a>", L"<br>", L"<p align=center>", L"<script>", L"</",
                               L"<hr>", L"\t", L"\n", L" ", L"\xD800", L"\xDC00", L"中", L"&nbsp;", L"<h1>"};
    std::mt19937 random(20240601);
    for (int document = 0; document < 3000; ++document) {
        if (document % 30 == 0)
            Recreate();
        std::wstring html;
        for (int n = random() % 60; n > 0; --n)
            html += random() % 3 ? pieces[random() % ARRAYSIZE(pieces)] : std::wstring(1, wchar_t(1 + random() % 0xFFFE));
        SendMessageW(view, DTM_ADDTEXTW, random() % 4 == 0, reinterpret_cast<LPARAM>(html.c_str()));
        if (document % 10 == 9)
            SendMessageW(view, DTM_ENDOFSOURCE, 0, 0);
        if (document % 30 == 29) {
            MoveWindow(view, 0, 0, 30 + random() % 400, 100, TRUE);
            Shown();
            InvalidateRect(view, nullptr, FALSE);
            UpdateWindow(view);
        }
    }

    std::wstring nested;
    for (const wchar_t* level : {L"<ul><li>", L"<table><tr><td>", L"<blockquote><div>", L"<b><i>"})
        for (int i = 0; i < 5000; ++i)
            nested += level;
    std::wstring huge = L"<a href=\"" + std::wstring(1 << 20, L'x') + L"\">" + std::wstring(1 << 20, L'y');
    for (const std::wstring& html : {nested + L"deep", huge}) {
        Recreate();
        Show(html);
        InvalidateRect(view, nullptr, FALSE);
        UpdateWindow(view);
        EXPECT_GT(SendMessageW(view, WM_GETTEXTLENGTH, 0, 0), 0);
    }

    ULONGLONG start = GetTickCount64();
    std::wstring line = L"plain words of a long log, appended piece by piece. ";
    for (int i = 0; i < 40000; ++i)
        SendMessageW(view, DTM_ADDTEXTW, 1, reinterpret_cast<LPARAM>(line.c_str()));
    SendMessageW(view, DTM_ENDOFSOURCE, 0, 0);
    EXPECT_LT(GetTickCount64() - start, 10000u);
}

} // namespace
