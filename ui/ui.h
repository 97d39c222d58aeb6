// The program's own windows: the dialogs built from script lines, the help viewer and the
// about box, and the template of the dialogs that have no resource.
#pragma once
#include "base/base.h"

// dialog_template.cpp
// The template of the dialogs that have no resource of their own.
struct BlankDialogTemplate {
    DLGTEMPLATE header;
    WORD menu;
    WORD windowClass;
    wchar_t title[80];
};
void FillBlankDialogTemplate(BlankDialogTemplate& dialog, const wchar_t* title);

// help.cpp
[[nodiscard]] DWORD ShowHelp(HWND owner, wchar_t* args);

// script_dialog.cpp
[[nodiscard]] DWORD ShowScriptDialog(const wchar_t* title, wchar_t* items);
