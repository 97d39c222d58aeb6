// The HTML view window: collects source text, lays it out on DTM_ENDOFSOURCE and on
// width changes, paints the visible lines, scrolls, and opens links through the shell.
#include "html/html.h"
#include "html/html_document.h"
#include "base/base.h"
#include "base/outward_calls.h"
#include <new>
#include <strsafe.h>

namespace {

constexpr int MARGIN = 8;
constexpr int WHEEL_LINES = 3;
constexpr DWORD PATH_UNITS = 4096;
constexpr COLORREF PAGE_COLOR = RGB(255, 255, 255);
constexpr COLORREF TEXT_COLOR = RGB(0, 0, 0);
constexpr COLORREF LINK_COLOR = RGB(0, 0, 204);
constexpr COLORREF RULE_COLOR = RGB(160, 160, 160);

struct HtmlView {
    HWND window;
    Buffer<wchar_t> source;         // everything DTM_ADDTEXTW gave, as HTML
    HtmlDocument document;
    HtmlLayout layout;
    HtmlFonts fonts;
    bool ready;                     // the source is laid out
    int layoutWidth;
    int scrollY;
    DWORD pressedLink;
    POINT mouse;
    wchar_t baseFolder[PATH_UNITS]; // folder of the file shown, for relative links
};

// --- source text ---

[[nodiscard]] bool AppendSource(HtmlView& view, const wchar_t* text, size_t length)
{
    return AppendItems(view.source, text, length) == ERROR_SUCCESS;
}

// Appends plain text as HTML: markup characters escaped, line ends as <br>.
[[nodiscard]] bool AppendEscaped(HtmlView& view, const wchar_t* text)
{
    constexpr struct { wchar_t unit; const wchar_t* html; } ESCAPES[] = {
        {L'&', L"&amp;"}, {L'<', L"&lt;"}, {L'>', L"&gt;"}, {L'"', L"&quot;"}, {L'\n', L"<br>"}, {L'\r', L""},
    };
    bool appended = true;
    for (const wchar_t* p = text; *p && appended; ++p) {
        const wchar_t* html = nullptr;
        for (const auto& row : ESCAPES)
            if (row.unit == *p)
                html = row.html;
        appended = html ? AppendSource(view, html, wcslen(html)) : AppendSource(view, p, 1);
    }
    return appended;
}

// --- layout and scrolling ---

int ClientHeight(const HtmlView& view)
{
    RECT client = {};
    GetClientRect(view.window, &client);
    return client.bottom;
}

int LineStep(const HtmlView& view) { return view.fonts.font[0] ? view.fonts.ascent[0] + view.fonts.descent[0] : 16; }

int MaxScroll(const HtmlView& view)
{
    int content = view.ready ? view.layout.height + 2 * MARGIN : 0;
    return content > ClientHeight(view) ? content - ClientHeight(view) : 0;
}

void UpdateScrollBar(HtmlView& view)
{
    SCROLLINFO info = {sizeof info, SIF_ALL | SIF_DISABLENOSCROLL, 0, 0, 0, view.scrollY, 0};
    info.nMax = view.ready ? view.layout.height + 2 * MARGIN - 1 : 0;
    info.nPage = static_cast<UINT>(ClientHeight(view));
    SetScrollInfo(view.window, SB_VERT, &info, TRUE);
}

void ScrollTo(HtmlView& view, int y)
{
    int limit = MaxScroll(view);
    y = y < 0 ? 0 : y > limit ? limit : y;
    if (y == view.scrollY)
        return;
    view.scrollY = y;
    UpdateScrollBar(view);
    InvalidateRect(view.window, nullptr, FALSE);
}

void Relayout(HtmlView& view)
{
    RECT client = {};
    GetClientRect(view.window, &client);
    view.layoutWidth = client.right;
    if (view.ready)
        view.ready = LayoutHtmlDocument(view.document, view.fonts, client.right - 2 * MARGIN, view.layout) ==
                     ERROR_SUCCESS;
    view.scrollY = view.scrollY < MaxScroll(view) ? view.scrollY : MaxScroll(view);
    UpdateScrollBar(view);
    InvalidateRect(view.window, nullptr, FALSE);
}

// Parses the collected source, measures and lays it out, and shows it from the top.
void ShowSource(HtmlView& view)
{
    DWORD result = ParseHtml(view.source.items, view.source.count, view.document);
    if (result == ERROR_SUCCESS)
        result = MeasureHtmlDocument(view.document, view.fonts);
    view.ready = result == ERROR_SUCCESS;
    view.scrollY = 0;
    Relayout(view);
}

void ReplaceSource(HtmlView& view, const wchar_t* html)
{
    view.source.count = 0;
    view.baseFolder[0] = 0;
    if (!AppendSource(view, html, wcslen(html)))
        view.source.count = 0;
}

// Shows a short page: the HTML 'before', 'subject' as plain text, the HTML 'after'.
void ShowMessagePage(HtmlView& view, const wchar_t* before, const wchar_t* subject, const wchar_t* after)
{
    ReplaceSource(view, L"");
    bool built = AppendSource(view, before, wcslen(before)) && AppendEscaped(view, subject) &&
                 AppendSource(view, after, wcslen(after));
    if (!built)
        view.source.count = 0;
    ShowSource(view);
}

// --- addresses ---

bool IsAsciiLetter(wchar_t c) { return (c | 0x20) >= L'a' && (c | 0x20) <= L'z'; }

// "http:", "mailto:" and the like; a single letter before ':' is a drive.
bool HasScheme(const wchar_t* address)
{
    const wchar_t* p = address;
    while (IsAsciiLetter(*p))
        ++p;
    return *p == L':' && p - address >= 2;
}

int HexValue(wchar_t digit)
{
    if (digit >= L'0' && digit <= L'9')
        return digit - L'0';
    digit |= 0x20;
    return digit >= L'a' && digit <= L'f' ? digit - L'a' + 10 : -1;
}

// Copies 'text' to 'out' with '/' as '\' and %XX escapes decoded (escaped bytes read as
// UTF-8, else the ANSI code page). False when it does not fit.
template <size_t N>
[[nodiscard]] bool DecodePath(const wchar_t* text, wchar_t (&out)[N], size_t length)
{
    for (const wchar_t* p = text; *p; ++length) {
        if (length + 1 >= N)
            return false;
        if (*p != L'%' || HexValue(p[1]) < 0 || HexValue(p[2]) < 0) {
            out[length] = *p == L'/' ? L'\\' : *p;
            ++p;
            continue;
        }
        char bytes[64];
        int count = 0;
        for (; *p == L'%' && HexValue(p[1]) >= 0 && HexValue(p[2]) >= 0 && count < 64; p += 3)
            bytes[count++] = static_cast<char>(HexValue(p[1]) * 16 + HexValue(p[2]));
        int room = static_cast<int>(N - 1 - length);
        int made = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, count, out + length, room);
        if (!made)
            made = MultiByteToWideChar(CP_ACP, 0, bytes, count, out + length, room);
        if (!made)
            return false;
        length += made - 1;
    }
    out[length] = 0;
    return true;
}

// The file path of a file: address (file://C:\x, file:///C:/x, file://server/share/x,
// with %XX escapes) or of a plain path. False when it does not fit.
[[nodiscard]] bool FilePathFromAddress(const wchar_t* address, wchar_t (&path)[PATH_UNITS])
{
    if (_wcsnicmp(address, L"file:", 5) != 0)
        return SUCCEEDED(StringCchCopyW(path, PATH_UNITS, address));
    const wchar_t* p = address + 5;
    int slashes = 0;
    for (; *p == L'/' || *p == L'\\'; ++p)
        ++slashes;
    if (_wcsnicmp(p, L"localhost/", 10) == 0)
        p += 10;
    bool drive = IsAsciiLetter(p[0]) && (p[1] == L':' || p[1] == L'|');
    const wchar_t* prefix = drive ? L"" : slashes == 3 ? L"\\" : L"\\\\";
    if (FAILED(StringCchCopyW(path, PATH_UNITS, prefix)) || !DecodePath(p, path, wcslen(prefix)))
        return false;
    if (drive)
        path[1] = L':';
    return true;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "C:\x", "C:/x" and "\\server\share" name a file without a current folder to start from.
bool IsFullyQualified(const wchar_t* path)
{
    if (IsAsciiLetter(path[0]) && path[1] == L':')
        return IsSeparator(path[2]);
    return IsSeparator(path[0]) && IsSeparator(path[1]);
}

// The units of 'folder' (a full path) that name its root: "C:" or "\\server\share".
size_t RootLength(const wchar_t* folder)
{
    if (!IsSeparator(folder[0]))
        return folder[0] && folder[1] == L':' ? 2 : 0;
    const wchar_t* share = wcschr(folder + 2, L'\\');
    const wchar_t* end = share ? wcschr(share + 1, L'\\') : nullptr;
    return end ? static_cast<size_t>(end - folder) : wcslen(folder);
}

// The folder of the file 'path', as a full path: relative links start there. Empty when
// it cannot be told or does not fit, and then no relative link is followed.
void SetBaseFolder(HtmlView& view, const wchar_t* path)
{
    DWORD length = GetFullPathNameW(path, PATH_UNITS, view.baseFolder, nullptr);
    wchar_t* separator = length && length < PATH_UNITS ? wcsrchr(view.baseFolder, L'\\') : nullptr;
    *(separator ? separator : view.baseFolder) = 0;
}

void OpenThroughShell(HtmlView& view, const wchar_t* target)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC;
    info.hwnd = view.window;
    info.lpFile = target;
    info.nShow = SW_SHOWNORMAL;
    outwardCalls.shellExecute(&info);
}

void ShowFile(HtmlView& view, const wchar_t* address)
{
    wchar_t path[PATH_UNITS];
    wchar_t* text = FilePathFromAddress(address, path) ? ReadHtmlFile(path) : nullptr;
    if (!text) {
        ShowMessagePage(view, L"<h3>Page not found</h3><p>This file could not be read: <b>", address,
                        L"</b></p>");
        return;
    }
    ReplaceSource(view, text);
    free(text);
    SetBaseFolder(view, path);
    ShowSource(view);
}

void ShowWebAddress(HtmlView& view, const wchar_t* address)
{
    OpenThroughShell(view, address);
    ReplaceSource(view, L"<p>This page opens in your web browser:</p><p><a href=\"");
    bool built = AppendEscaped(view, address) && AppendSource(view, L"\">", 2) && AppendEscaped(view, address) &&
                 AppendSource(view, L"</a></p>", 8);
    if (!built)
        view.source.count = 0;
    ShowSource(view);
}

// --- links ---

DWORD LinkAt(const HtmlView& view, int x, int y)
{
    if (!view.ready)
        return 0;
    x -= MARGIN;
    y += view.scrollY - MARGIN;
    const HtmlLayout& layout = view.layout;
    DWORD band = FindBandAt(layout, y);
    if (band >= layout.bands.count || layout.bands.items[band].top > y)
        return 0;
    for (DWORD i = layout.bands.items[band].first; i < layout.bands.items[band].end; ++i) {
        const HtmlFragment& fragment = layout.fragments.items[i];
        if (fragment.link && x >= fragment.x && x < fragment.x + fragment.width &&
            y >= fragment.baseline - view.fonts.ascent[fragment.font] &&
            y < fragment.baseline + view.fonts.descent[fragment.font])
            return fragment.link;
    }
    return 0;
}

void ScrollToAnchor(HtmlView& view, const wchar_t* name)
{
    const HtmlLayout& layout = view.layout;
    for (DWORD i = 0; i < layout.anchors.count; ++i) {
        const HtmlAnchorPlace& anchor = layout.anchors.items[i];
        if (anchor.length == wcslen(name) && wmemcmp(view.document.text.items + anchor.start, name, anchor.length) == 0) {
            ScrollTo(view, anchor.y);
            return;
        }
    }
}

// The file a link names, as a full path in 'path'. A relative name is taken from the
// folder of the page's file and a name starting with one '\' or '/' from that folder's
// root, never from the current folder; the part from '#' or '?' on is no part of the
// name. False for a name that only a current folder could complete (a page that came as
// text, "C:name", "file:name") and for one that does not fit.
[[nodiscard]] bool ResolveFileLink(const HtmlView& view, const wchar_t* href, wchar_t (&path)[PATH_UNITS])
{
    wchar_t name[PATH_UNITS];
    if (FAILED(StringCchCopyW(name, PATH_UNITS, href)))
        return false;
    name[wcscspn(name, L"#?")] = 0;
    if (_wcsnicmp(name, L"file:", 5) == 0)
        return IsSeparator(name[5]) && IsSeparator(name[6]) && FilePathFromAddress(name, path) &&
               IsFullyQualified(path);
    if (HasScheme(name))
        return false;
    if (IsFullyQualified(name))
        return SUCCEEDED(StringCchCopyW(path, PATH_UNITS, name));
    if (!view.baseFolder[0] || (IsAsciiLetter(name[0]) && name[1] == L':'))
        return false;
    size_t folderLength = IsSeparator(name[0]) ? RootLength(view.baseFolder) : wcslen(view.baseFolder);
    wchar_t joined[PATH_UNITS];
    if (FAILED(StringCchPrintfW(joined, PATH_UNITS, L"%.*s\\", static_cast<int>(folderLength), view.baseFolder)) ||
        !DecodePath(name + (IsSeparator(name[0]) ? 1 : 0), joined, wcslen(joined)))
        return false;
    DWORD length = GetFullPathNameW(joined, PATH_UNITS, path, nullptr);
    return length && length < PATH_UNITS;
}

// A web or mail address goes to the shell as it is, a file as a full path; a link that
// names no file on its own is not followed, so no program is started from whatever
// folder happens to be current.
void FollowLink(HtmlView& view, DWORD link)
{
    const wchar_t* href = view.document.text.items + view.document.links.items[link - 1].start;
    if (!href[0])
        return;
    if (href[0] == L'#') {
        ScrollToAnchor(view, href + 1);
        return;
    }
    if (HasScheme(href) && _wcsnicmp(href, L"file:", 5) != 0) {
        OpenThroughShell(view, href);
        return;
    }
    wchar_t path[PATH_UNITS];
    if (ResolveFileLink(view, href, path))
        OpenThroughShell(view, path);
}

// --- painting ---

void DrawFragment(const HtmlView& view, HDC dc, const HtmlFragment& fragment, int dy)
{
    if (fragment.flags & FRAGMENT_RULE) {
        RECT line = {MARGIN + fragment.x, fragment.baseline + dy, MARGIN + fragment.x + fragment.width,
                     fragment.baseline + dy + 1};
        SetBkColor(dc, RULE_COLOR);
        ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &line, L"", 0, nullptr);
        return;
    }
    SelectObject(dc, view.fonts.font[fragment.font]);
    SetTextColor(dc, fragment.link ? LINK_COLOR : TEXT_COLOR);
    ExtTextOutW(dc, MARGIN + fragment.x, fragment.baseline + dy, 0, nullptr,
                view.document.text.items + fragment.start, fragment.length, nullptr);
}

void DrawPage(const HtmlView& view, HDC dc, int width, int height)
{
    RECT page = {0, 0, width, height};
    SetBkColor(dc, PAGE_COLOR);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &page, L"", 0, nullptr);
    if (!view.ready)
        return;
    HGDIOBJ original = GetCurrentObject(dc, OBJ_FONT);
    SetBkMode(dc, TRANSPARENT);
    SetTextAlign(dc, TA_BASELINE | TA_LEFT | TA_NOUPDATECP);
    int dy = MARGIN - view.scrollY;
    const HtmlLayout& layout = view.layout;
    for (DWORD band = FindBandAt(layout, -dy); band < layout.bands.count && layout.bands.items[band].top + dy < height;
         ++band)
        for (DWORD i = layout.bands.items[band].first; i < layout.bands.items[band].end; ++i)
            DrawFragment(view, dc, layout.fragments.items[i], dy);
    SelectObject(dc, original);
}

// --- messages ---

using MessageHandler = LRESULT (*)(HtmlView& view, UINT message, WPARAM wParam, LPARAM lParam);

LRESULT OnCreate(HtmlView& view, UINT, WPARAM, LPARAM)
{
    ShowScrollBar(view.window, SB_VERT, TRUE);
    UpdateScrollBar(view);
    return 0;
}

LRESULT OnAddText(HtmlView& view, UINT, WPARAM plain, LPARAM lParam)
{
    auto* text = reinterpret_cast<const wchar_t*>(lParam);
    if (!text)
        return FALSE;
    return plain ? AppendEscaped(view, text) : AppendSource(view, text, wcslen(text));
}

LRESULT OnEndOfSource(HtmlView& view, UINT, WPARAM, LPARAM)
{
    ShowSource(view);
    return view.ready;
}

LRESULT OnNavigate(HtmlView& view, UINT, WPARAM, LPARAM lParam)
{
    auto* address = reinterpret_cast<const wchar_t*>(lParam);
    if (!address)
        return FALSE;
    if (HasScheme(address) && _wcsnicmp(address, L"file:", 5) != 0)
        ShowWebAddress(view, address);
    else
        ShowFile(view, address);
    return view.ready;
}

LRESULT OnPaint(HtmlView& view, UINT, WPARAM, LPARAM)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(view.window, &paint);
    RECT client = {};
    GetClientRect(view.window, &client);
    HDC memory = client.right > 0 && client.bottom > 0 ? CreateCompatibleDC(dc) : nullptr;
    HBITMAP bitmap = memory ? CreateCompatibleBitmap(dc, client.right, client.bottom) : nullptr;
    if (bitmap) {
        HGDIOBJ original = SelectObject(memory, bitmap);
        DrawPage(view, memory, client.right, client.bottom);
        BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
        SelectObject(memory, original);
        DeleteObject(bitmap);
    } else {
        DrawPage(view, dc, client.right, client.bottom);
    }
    if (memory)
        DeleteDC(memory);
    EndPaint(view.window, &paint);
    return 0;
}

LRESULT OnEraseBackground(HtmlView&, UINT, WPARAM, LPARAM) { return TRUE; }

LRESULT OnSize(HtmlView& view, UINT, WPARAM, LPARAM lParam)
{
    if (LOWORD(lParam) != view.layoutWidth) {
        Relayout(view);
        return 0;
    }
    view.scrollY = view.scrollY < MaxScroll(view) ? view.scrollY : MaxScroll(view);
    UpdateScrollBar(view);
    InvalidateRect(view.window, nullptr, FALSE);
    return 0;
}

enum ScrollMove : BYTE { MOVE_LINE_UP, MOVE_LINE_DOWN, MOVE_PAGE_UP, MOVE_PAGE_DOWN, MOVE_TOP, MOVE_BOTTOM };

struct MoveEntry {
    WPARAM code;
    ScrollMove move;
};

constexpr MoveEntry KEY_MOVES[] = {
    {VK_UP, MOVE_LINE_UP},     {VK_DOWN, MOVE_LINE_DOWN}, {VK_PRIOR, MOVE_PAGE_UP},
    {VK_NEXT, MOVE_PAGE_DOWN}, {VK_HOME, MOVE_TOP},       {VK_END, MOVE_BOTTOM},
};

constexpr MoveEntry BAR_MOVES[] = {
    {SB_LINEUP, MOVE_LINE_UP},     {SB_LINEDOWN, MOVE_LINE_DOWN}, {SB_PAGEUP, MOVE_PAGE_UP},
    {SB_PAGEDOWN, MOVE_PAGE_DOWN}, {SB_TOP, MOVE_TOP},            {SB_BOTTOM, MOVE_BOTTOM},
};

int TargetOf(const HtmlView& view, ScrollMove move)
{
    int page = ClientHeight(view) - LineStep(view);
    page = page > LineStep(view) ? page : LineStep(view);
    const int targets[] = {view.scrollY - LineStep(view), view.scrollY + LineStep(view), view.scrollY - page,
                           view.scrollY + page, 0, MaxScroll(view)};
    return targets[move];
}

template <size_t N>
bool ApplyMove(HtmlView& view, const MoveEntry (&moves)[N], WPARAM code)
{
    for (const auto& row : moves)
        if (row.code == code) {
            ScrollTo(view, TargetOf(view, row.move));
            return true;
        }
    return false;
}

LRESULT OnVScroll(HtmlView& view, UINT, WPARAM wParam, LPARAM)
{
    if (ApplyMove(view, BAR_MOVES, LOWORD(wParam)))
        return 0;
    if (LOWORD(wParam) == SB_THUMBTRACK || LOWORD(wParam) == SB_THUMBPOSITION) {
        SCROLLINFO info = {sizeof info, SIF_TRACKPOS, 0, 0, 0, 0, 0};
        GetScrollInfo(view.window, SB_VERT, &info);
        ScrollTo(view, info.nTrackPos);
    }
    return 0;
}

LRESULT OnKeyDown(HtmlView& view, UINT message, WPARAM key, LPARAM lParam)
{
    return ApplyMove(view, KEY_MOVES, key) ? 0 : DefWindowProcW(view.window, message, key, lParam);
}

LRESULT OnMouseWheel(HtmlView& view, UINT, WPARAM wParam, LPARAM)
{
    ScrollTo(view, view.scrollY - GET_WHEEL_DELTA_WPARAM(wParam) * WHEEL_LINES * LineStep(view) / WHEEL_DELTA);
    return 0;
}

LRESULT OnGetDlgCode(HtmlView&, UINT, WPARAM, LPARAM) { return DLGC_WANTARROWS; }

LRESULT OnMouseMove(HtmlView& view, UINT, WPARAM, LPARAM lParam)
{
    view.mouse = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    return 0;
}

LRESULT OnButtonDown(HtmlView& view, UINT message, WPARAM wParam, LPARAM lParam)
{
    SetFocus(view.window);
    OnMouseMove(view, message, wParam, lParam);
    view.pressedLink = LinkAt(view, view.mouse.x, view.mouse.y);
    return 0;
}

// A link opens when the button goes up over the link it went down on.
LRESULT OnButtonUp(HtmlView& view, UINT message, WPARAM wParam, LPARAM lParam)
{
    OnMouseMove(view, message, wParam, lParam);
    DWORD link = LinkAt(view, view.mouse.x, view.mouse.y);
    bool follow = link && link == view.pressedLink;
    view.pressedLink = 0;
    if (follow)
        FollowLink(view, link);
    return 0;
}

LRESULT OnSetCursor(HtmlView& view, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (LOWORD(lParam) == HTCLIENT && LinkAt(view, view.mouse.x, view.mouse.y)) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
    }
    return DefWindowProcW(view.window, message, wParam, lParam);
}

LRESULT OnGetText(HtmlView& view, UINT, WPARAM capacity, LPARAM lParam)
{
    auto* buffer = reinterpret_cast<wchar_t*>(lParam);
    if (!view.ready || !buffer || !capacity) {
        if (buffer && capacity)
            buffer[0] = 0;
        return 0;
    }
    DWORD units = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
    DWORD length = GetHtmlLayoutText(view.document, view.layout, buffer, units);
    return length < units ? length : units - 1;
}

LRESULT OnGetTextLength(HtmlView& view, UINT, WPARAM, LPARAM)
{
    return view.ready ? GetHtmlLayoutText(view.document, view.layout, nullptr, 0) : 0;
}

// The client position of a character of the shown text, as an edit control gives it.
LRESULT OnPosFromChar(HtmlView& view, UINT, WPARAM index, LPARAM)
{
    DWORD offset = 0;
    const HtmlFragment* fragment =
        view.ready && index < MAXDWORD ? FindFragmentOfChar(view.document, view.layout, static_cast<DWORD>(index), offset)
                                       : nullptr;
    if (!fragment)
        return -1;
    int x = MARGIN + fragment->x;
    for (DWORD i = 0; i < offset; ++i)
        x += view.document.advance.items[fragment->start + i];
    int y = MARGIN + fragment->baseline - view.fonts.ascent[fragment->font] - view.scrollY;
    return MAKELONG(x, y);
}

struct MessageEntry {
    UINT message;
    MessageHandler handler;
};

constexpr MessageEntry MESSAGE_TABLE[] = {
    {WM_CREATE, OnCreate},           {DTM_ADDTEXTW, OnAddText},       {DTM_ENDOFSOURCE, OnEndOfSource},
    {DTM_NAVIGATE, OnNavigate},      {WM_PAINT, OnPaint},             {WM_ERASEBKGND, OnEraseBackground},
    {WM_SIZE, OnSize},               {WM_VSCROLL, OnVScroll},         {WM_KEYDOWN, OnKeyDown},
    {WM_MOUSEWHEEL, OnMouseWheel},   {WM_GETDLGCODE, OnGetDlgCode},   {WM_MOUSEMOVE, OnMouseMove},
    {WM_LBUTTONDOWN, OnButtonDown},  {WM_LBUTTONUP, OnButtonUp},      {WM_SETCURSOR, OnSetCursor},
    {WM_GETTEXT, OnGetText},         {WM_GETTEXTLENGTH, OnGetTextLength}, {EM_POSFROMCHAR, OnPosFromChar},
};

void DestroyView(HtmlView* view)
{
    ReleaseItems(view->source);
    FreeHtmlDocument(view->document);
    FreeHtmlLayout(view->layout);
    ReleaseHtmlFonts(view->fonts);
    delete view;
}

LRESULT CALLBACK HtmlViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* view = new (std::nothrow) HtmlView{};
        if (!view)
            return FALSE;
        view->window = window;
        SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(view));
    }
    auto* view = reinterpret_cast<HtmlView*>(GetWindowLongPtrW(window, 0));
    if (message == WM_NCDESTROY && view) {
        SetWindowLongPtrW(window, 0, 0);
        DestroyView(view);
        view = nullptr;
    }
    for (const auto& row : MESSAGE_TABLE)
        if (view && row.message == message)
            return row.handler(*view, message, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

BOOL InitHTMLControl(HINSTANCE instance)
{
    WNDCLASSEXW existing = {};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(instance, HTML_VIEW_CLASS, &existing))
        return TRUE;
    WNDCLASSEXW type = {};
    type.cbSize = sizeof type;
    type.lpfnWndProc = HtmlViewProc;
    type.cbWndExtra = sizeof(HtmlView*);
    type.hInstance = instance;
    type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    type.lpszClassName = HTML_VIEW_CLASS;
    return RegisterClassExW(&type) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}
