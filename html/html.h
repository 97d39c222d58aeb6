// The HTML view control of the handheld platform, which the help viewer shows its pages
// in. The desktop has none, so this is a small one of our own: it lays HTML out with GDI
// (paragraphs, headings, lists, tables, preformatted text, links) and scrolls vertically.
// This is the folder's one header for the rest of the program; its inner parts are in
// html_document.h.
#pragma once
#include <windows.h>

// Window class of the control, and its messages (the handheld's values).
#define HTML_VIEW_CLASS L"DISPLAYCLASS"
constexpr UINT DTM_ADDTEXTW = 0x0466;       // wParam 0: HTML, else plain text; lParam: const wchar_t*
constexpr UINT DTM_ENDOFSOURCE = 0x0468;    // the text is complete: lay it out and show it
constexpr UINT DTM_NAVIGATE = 0x0478;       // wParam: flags (ignored); lParam: const wchar_t* address

// Besides these, the control answers WM_GETTEXT / WM_GETTEXTLENGTH with the text it shows
// (lines end in CR LF, table cells are separated by a tab) and EM_POSFROMCHAR with the
// client position of a character of that text (-1 if there is none). Links and web
// addresses are opened through outwardCalls.shellExecute (base/outward_calls.h).

// html_view.cpp
// Registers the control's window class. Returns TRUE on success and when the class is
// already registered.
BOOL InitHTMLControl(HINSTANCE instance);
