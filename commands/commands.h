// System commands: files, shortcuts, processes, windows, power, messages and sounds.
#pragma once
#include "base/base.h"

// file_ops.cpp
enum class FileOperationKind { Delete, CreatePath, WriteAnsi, WriteUtf16, Copy };
// A FILE argument cut into read-only pieces; nothing on disk is touched while it is read.
struct FileRequest {
    FileOperationKind kind;
    TextPiece operand;      // the first path: up to the first ';', "->" or operator ('=' of "=>" left out)
    const wchar_t* end;     // a delete list's end; a created path's last '\'; the text to write; the copy's destination
    bool flag;              // a write appends ('='); a copy recurses ('!')
};
// Finds the first operator of 'args' and cuts the argument at it.
FileRequest ReadFileRequest(const wchar_t* args);
[[nodiscard]] DWORD CarryOutFileRequest(const FileRequest& request);
[[nodiscard]] DWORD FileOperation(const wchar_t* args);

// shortcut.cpp
constexpr size_t SHORTCUT_BYTES = 1024;
// A LINK argument "path,target[,parameters[,icon]]" cut into read-only pieces; the icon
// runs to the argument's end.
struct ShortcutRequest {
    TextPiece path;
    TextPiece target;
    TextPiece parameters;   // its start is nullptr without one
    TextPiece icon;         // its start is nullptr without one
};
// 3 (ERROR_PATH_NOT_FOUND) without a target.
[[nodiscard]] DWORD ReadShortcutRequest(const wchar_t* args, ShortcutRequest& request);
// The shortcut file of a request, composed without touching the disk: 'bytes' holds the
// file's content ('byteCount' of them).
[[nodiscard]] DWORD ComposeShortcutFile(const ShortcutRequest& request, char (&bytes)[SHORTCUT_BYTES], DWORD& byteCount);
[[nodiscard]] DWORD CreateShortcut(const wchar_t* args);

// processes.cpp
// An EXEC argument "[!]file[,parameters]" cut into read-only pieces.
struct ProgramRequest {
    bool wait;                  // no '!'
    TextPiece file;
    const wchar_t* parameters;  // nullptr without a separator
};
ProgramRequest ReadProgramRequest(const wchar_t* args);
[[nodiscard]] DWORD ExecuteProgram(const wchar_t* args);
[[nodiscard]] DWORD KillProcesses(const wchar_t* args);
[[nodiscard]] DWORD ShutDownDevice(const wchar_t* args);
[[nodiscard]] DWORD SendKeys(const wchar_t* args);
// A POST argument "[=]window,message[,wParam[,lParam]]" cut into read-only pieces; anything
// after a further separator is left out.
struct WindowMessageRequest {
    bool send;                  // '='
    TextPiece window;
    TextPiece message;
    TextPiece parameters[2];
};
// E_INVALIDARG without a message.
[[nodiscard]] DWORD ReadWindowMessageRequest(const wchar_t* args, WindowMessageRequest& request);
[[nodiscard]] DWORD PostWindowMessage(const wchar_t* args);
[[nodiscard]] DWORD SetDisplayOrientation(const wchar_t* args);

// messages.cpp
// A MSGX argument "text[,caption[,type]]" cut into read-only pieces.
struct MessageBoxRequest {
    TextPiece text;
    TextPiece caption;          // its start is nullptr without one: the program's caption
    UINT type;
};
MessageBoxRequest ReadMessageBoxRequest(const wchar_t* args);
[[nodiscard]] DWORD ShowMessageBox(const wchar_t* args);
[[nodiscard]] DWORD PlaySoundFile(const wchar_t* args);
