// System commands: files, shortcuts, processes, windows, power, messages and sounds.
#pragma once
#include "base/base.h"

// file_ops.cpp
enum class FileOperationKind { Delete, CreatePath, WriteAnsi, WriteUtf16, Copy };
// A FILE argument cut into its parts; nothing on disk is touched while it is read.
struct FileRequest {
    FileOperationKind kind;
    wchar_t* operand;       // the first path; for a delete, a NUL-separated list
    wchar_t* end;           // a delete list's end; the text to write; the copy's destination
    bool flag;              // a write appends ('='); a copy recurses ('!')
};
// Scans 'args' for its first operator and cuts it in place into a request.
FileRequest ReadFileRequest(wchar_t* args);
[[nodiscard]] DWORD CarryOutFileRequest(const FileRequest& request);
[[nodiscard]] DWORD FileOperation(wchar_t* args);

// shortcut.cpp
constexpr size_t SHORTCUT_BYTES = 1024;
// The shortcut file a LINK argument names, composed without touching the disk: 'args' is
// cut to the shortcut's path and 'bytes' holds the file's content ('byteCount' of them).
[[nodiscard]] DWORD ComposeShortcutFile(wchar_t* args, char (&bytes)[SHORTCUT_BYTES], DWORD& byteCount);
[[nodiscard]] DWORD CreateShortcut(wchar_t* args);

// processes.cpp
[[nodiscard]] DWORD ExecuteProgram(wchar_t* args);
[[nodiscard]] DWORD KillProcesses(wchar_t* args);
[[nodiscard]] DWORD ShutDownDevice(wchar_t* args);
[[nodiscard]] DWORD SendKeys(wchar_t* args);
[[nodiscard]] DWORD PostWindowMessage(wchar_t* args);
[[nodiscard]] DWORD SetDisplayOrientation(wchar_t* args);

// messages.cpp
[[nodiscard]] DWORD ShowMessageBox(wchar_t* args);
[[nodiscard]] DWORD PlaySoundFile(wchar_t* args);
