// Every change the program makes to the machine is made by one of two writers (the
// registry writer and the file writer) or announced by the command that makes it (a
// program started, keys sent, ...), and each is reported to one observer that the run
// owns: the journal that can undo a run, the console's progress line and its Stop.
// With no observer installed the cost of a change is one pointer test.
#pragma once
#include "base/base.h"

enum class ChangeKind : unsigned char {
    // The registry writer: 'root' and 'path' name the key, 'name' the value (nullptr: the
    // default value); a set value carries its new 'type', 'data' and 'size'.
    CreateKey,
    SetValue,
    DeleteValue,
    DeleteKeyTree,
    // The file writer: 'path' is the full path of the file or folder; a hard link's
    // 'name' is its target; a replaced file's 'size' the new content's length when known.
    CreateFolder,
    CreateFile,
    ReplaceFile,        // an existing file gets new content (a copy, an extraction, a text write)
    AppendToFile,
    DeleteFile,
    DeleteFolder,       // an empty folder; a tree is reported file by file, folder by folder
    CreateHardLink,
    SetAttributes,      // 'type' holds the new attributes
    WriteByLibrary,     // a library is about to write 'path' itself (UnRAR, a shortcut's save)
    // Actions that cannot be taken back, announced by their commands: 'path' names what
    // was acted on (a program, a window, a library), 'name' the detail where there is one.
    StartProgram,
    EndProgram,
    SendInput,
    PowerAction,
    RegisterLibrary,
    PlaySound,
    DisplayOrientation,
};

struct Change {
    ChangeKind kind;
    HKEY root;
    const wchar_t* path;
    const wchar_t* name;
    DWORD type;
    const void* data;
    DWORD size;
};

// What an observer's 'before' may answer besides 0 (go on) and a result that refuses the
// change (ERROR_CANCELLED for Stop): the observer has made the change itself, so the
// writer must not (the journal keeps a file the writer would delete by moving it away).
constexpr DWORD CHANGE_MADE_BY_OBSERVER = 0x20000000 | 0x7A01;    // a customer-defined code

// The 'type' of a ReplaceFile change that rewrites the file itself, which keeps its
// identity and attributes (a text written over it, a file cut back): an observer that
// keeps the old content copies it and never moves the file away.
constexpr DWORD REPLACED_IN_PLACE = 1;

struct ChangeObserver {
    // Before each change; 0 lets it go on.
    DWORD (*before)(void* context, const Change& change);
    // After each change that went on, with its result.
    void (*after)(void* context, const Change& change, DWORD result);
    // From inside long work (a large file copied, an archive read): the bytes done since the
    // last call. Anything but 0 stops the work with that result.
    DWORD (*progress)(void* context, ULONGLONG bytes);
    void* context;
};

// changes.cpp
// Makes 'observer' the one that sees every change (nullptr: none); it must outlive its
// use. Returns the previous one.
const ChangeObserver* SetChangeObserver(const ChangeObserver* observer);
const ChangeObserver* CurrentChangeObserver();
// The observer's answer before 'change' (0 without an observer).
DWORD ReportChangeBefore(const Change& change);
void ReportChangeAfter(const Change& change, DWORD result);
DWORD ReportProgress(ULONGLONG bytes);
// For the commands whose actions cannot be taken back: reports the action before it
// happens ('value' goes in the change's 'type': the orientation a display had before);
// 0 lets it go on, CHANGE_MADE_BY_OBSERVER means it is to be left undone and counted as
// done (a trial run), anything else refuses it with that result.
DWORD AnnounceAction(ChangeKind kind, const wchar_t* subject, const wchar_t* detail, DWORD value = 0);
// A command's result for an announced action that is not taken: 0 for one the observer
// leaves undone on purpose (CHANGE_MADE_BY_OBSERVER), otherwise the observer's refusal.
inline DWORD ResultOfUntakenAction(DWORD answer)
{
    return answer == CHANGE_MADE_BY_OBSERVER ? ERROR_SUCCESS : answer;
}
// How long a wait goes on without giving the observer a chance to stop it.
constexpr DWORD WAIT_SLICE_MS = 20;
// Waits until 'handle' is signalled (nullptr: for the time alone) or 'milliseconds' have
// passed (INFINITE: no limit). While an observer watches, the wait goes in slices of
// WAIT_SLICE_MS with ReportProgress(0) after each, so that the run can be stopped and its
// window answers. 0 at the end of the wait; the observer's answer when it ended the wait;
// the platform's error when the wait failed.
[[nodiscard]] DWORD WaitReportingProgress(HANDLE handle, DWORD milliseconds);
