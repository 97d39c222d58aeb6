// The help viewer's floor: a dialog holding one plain multi-line edit control that shows
// the text of the file named on the command line (UTF-8, as the guide is written), laid
// out by the edit control's own line breaking. Closes when told to.
#include <windows.h>
#include <string>
#include <vector>

namespace {

constexpr int EDIT_ID = 100;

std::wstring ReadUtf8File(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return L"";
    std::vector<char> bytes(GetFileSize(file, nullptr));
    DWORD read = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    int units = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(read), nullptr, 0);
    std::wstring text(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(read), text.data(), units);
    return text;
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        RECT work = {};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        MoveWindow(dialog, work.left, work.top, work.right - work.left, work.bottom - work.top, FALSE);
        RECT client = {};
        GetClientRect(dialog, &client);
        HWND edit = CreateWindowExW(0, L"Edit", nullptr, WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY,
                                    0, 0, client.right, client.bottom, dialog,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(EDIT_ID)), nullptr, nullptr);
        SendMessageW(edit, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
        SetWindowTextW(edit, reinterpret_cast<const std::wstring*>(lParam)->c_str());

        return TRUE;
    }
    if ((message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) || message == WM_CLOSE) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

struct Template {
    DLGTEMPLATE header;
    WORD menu, windowClass;
    wchar_t title[8];
};

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int)
{
    std::wstring path = commandLine;
    path.erase(0, path.find_first_not_of(L" \""));
    path.erase(path.find_last_not_of(L" \"") + 1);
    std::wstring text = ReadUtf8File(path.c_str());
    static const Template TEMPLATE = {{WS_POPUP | WS_VISIBLE | WS_BORDER, 0, 0, 0, 0, 0, 0}, 0, 0, L"Floor"};
    return static_cast<int>(DialogBoxIndirectParamW(instance, &TEMPLATE.header, nullptr, DialogProc,
                                                    reinterpret_cast<LPARAM>(&text)));
}
