#include "ui/ui.h"

// A visible, centred, bordered popup with no controls, titled 'title' (or the application
// title) cut to 79 characters; its procedure creates the content and gives it its size.
void FillBlankDialogTemplate(BlankDialogTemplate& dialog, TextPiece title)
{
    ZeroMemory(&dialog, sizeof dialog);
    dialog.header.style = WS_POPUP | WS_VISIBLE | WS_BORDER | DS_CENTER | DS_SETFOREGROUND;
    StringCchCopyNW(dialog.title, ARRAYSIZE(dialog.title), title.start, title.length);
}

void FillBlankDialogTemplate(BlankDialogTemplate& dialog, const wchar_t* title)
{
    FillBlankDialogTemplate(dialog, WholeText(title ? title : applicationTitle));
}
