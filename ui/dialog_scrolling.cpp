// Scrolling of the script dialogs: the dialog moves its content itself. On a Pocket PC it
// scrolls both ways; elsewhere it has the vertical scroll bar style, which the handheld's
// dialog manager would serve and the desktop's does not, so it scrolls only vertically.
#include "ui/ui.h"

namespace {

constexpr UINT SCROLL_FLAGS = SW_SCROLLCHILDREN | SW_INVALIDATE | SW_ERASE;
constexpr LONG NOTHING_YET = 0x7FFFFFFF;
constexpr int WHEEL_LINES = 3;          // lines per notch of the mouse wheel

void SetBarRange(HWND dialog, int bar, int contentExtent, int viewExtent)
{
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMax = contentExtent - 1;
    info.nPage = static_cast<UINT>(viewExtent);
    SetScrollInfo(dialog, bar, &info, TRUE);
}

// The style alone changes nothing until the frame is worked out again.
void AddVerticalScrollBar(HWND dialog)
{
    SetWindowLongPtrW(dialog, GWL_STYLE, GetWindowLongPtrW(dialog, GWL_STYLE) | WS_VSCROLL);
    SetWindowPos(dialog, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// What the children cover, with as much room above and left of it as they leave there
// (less a scroll bar's width at the left). A dialog without children has no content.
void MeasureContent(ScrollState& state, HWND dialog)
{
    LONG left = NOTHING_YET, top = NOTHING_YET, right = 0, bottom = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect = {};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        left = rect.left < left ? rect.left : left;
        top = rect.top < top ? rect.top : top;
        right = rect.right > right ? rect.right : right;
        bottom = rect.bottom > bottom ? rect.bottom : bottom;
    }
    bool hasContent = top != NOTHING_YET;
    state.contentWidth = hasContent ? left - GetSystemMetrics(SM_CXVSCROLL) + right : 0;
    state.contentHeight = hasContent ? top + bottom : 0;
}

// The new position for a scroll-bar request, and how far the content moves (towards the
// origin when positive). False when the request moves nothing.
bool StepFor(HWND dialog, int bar, int request, int position, int range, int line, int page, int& next)
{
    switch (request) {
    case SB_LINEUP:
        next = position >= line ? position - line : 0;
        return true;
    case SB_LINEDOWN:
        next = position < range - line ? position + line : range;
        return true;
    case SB_PAGEUP:
        next = position < page ? 0 : position - page;
        return true;
    case SB_PAGEDOWN:
        next = position < range - page ? position + page : range;
        return true;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: {
        SCROLLINFO info = {};
        info.cbSize = sizeof info;
        info.fMask = SIF_TRACKPOS;
        if (!GetScrollInfo(dialog, bar, &info))
            return false;
        next = info.nTrackPos;
        return true;
    }
    case SB_TOP:
        next = 0;
        return true;
    case SB_BOTTOM:
        next = range;
        return true;
    }
    return false;
}

} // namespace

INT_PTR HandleDialogScrolling(ScrollState& state, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    bool isPocketPc = platformFlags & PLATFORM_POCKET_PC;
    switch (message) {
    case WM_INITDIALOG:
        if (!isPocketPc)
            AddVerticalScrollBar(dialog);
        MeasureContent(state, dialog);
        if (!isPocketPc)
            state.contentWidth = 0;
        state.viewWidth = state.viewHeight = 0;
        state.x = state.y = 0;
        ScrollToOrigin(state, dialog);
        state.activation = {};
        state.activation.cbSize = sizeof state.activation;
        return 1;
    case WM_SIZE:
        state.viewWidth = LOWORD(lParam);
        state.viewHeight = HIWORD(lParam);
        ScrollToOrigin(state, dialog);
        break;
    case WM_ACTIVATE:
        SHHandleWMActivate(dialog, wParam, lParam, &state.activation, 0);
        break;
    case WM_SETTINGCHANGE:
        SHHandleWMSettingChange(dialog, wParam, lParam, &state.activation);
        break;
    case WM_KEYUP:
        if (wParam == VK_LEFT || wParam == VK_RIGHT)
            ScrollDialogBy(dialog, SB_HORZ, wParam == VK_LEFT ? SB_PAGEUP : SB_PAGEDOWN, state.x, state.contentWidth,
                           state.viewWidth);
        break;
    case WM_HSCROLL:
        ScrollDialogBy(dialog, SB_HORZ, LOWORD(wParam), state.x, state.contentWidth, state.viewWidth);
        break;
    case WM_VSCROLL:
        ScrollDialogBy(dialog, SB_VERT, LOWORD(wParam), state.y, state.contentHeight, state.viewHeight);
        break;
    case WM_MOUSEWHEEL:
        for (int lines = 0; lines < WHEEL_LINES; ++lines)
            ScrollDialogBy(dialog, SB_VERT, GET_WHEEL_DELTA_WPARAM(wParam) > 0 ? SB_LINEUP : SB_LINEDOWN, state.y,
                           state.contentHeight, state.viewHeight);
        break;
    }
    return 0;
}

// Moves the content back to where it started, then sets both bars for the content and
// the view (showing a bar may resize the dialog, which comes back here).
void ScrollToOrigin(ScrollState& state, HWND dialog)
{
    ScrollWindowEx(dialog, state.x, state.y, nullptr, nullptr, nullptr, nullptr, SCROLL_FLAGS);
    state.x = state.y = 0;
    SetBarRange(dialog, SB_HORZ, state.contentWidth, state.viewWidth);
    SetBarRange(dialog, SB_VERT, state.contentHeight, state.viewHeight);
}

void ScrollDialogBy(HWND dialog, int bar, int request, int& position, int contentExtent, int viewExtent)
{
    int range = contentExtent - viewExtent;
    if (range < 0)
        return;
    int line = contentExtent / 100 > 1 ? contentExtent / 100 : 1;
    int page = contentExtent / 10 > 1 ? contentExtent / 10 : 1;
    int next = position;
    if (!StepFor(dialog, bar, request, position, range, line, page, next) || next == position)
        return;
    int delta = position - next;
    position = next;
    SetScrollPos(dialog, bar, next, TRUE);
    ScrollWindowEx(dialog, bar == SB_HORZ ? delta : 0, bar == SB_VERT ? delta : 0, nullptr, nullptr, nullptr, nullptr,
                   SCROLL_FLAGS);
}
