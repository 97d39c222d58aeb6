// The file writer: every file and folder the program creates, replaces, appends to, links,
// deletes or changes the attributes of is changed here, and every change is reported to
// the change observer (base/changes.h) before and after it. A library that writes files
// itself (UnRAR) has each file announced here before it writes it.
//
// An observer's 'before' answer of CHANGE_MADE_BY_OBSERVER skips the change and counts it
// as done; any other answer but 0 refuses it and is the change's result (ERROR_CANCELLED
// for Stop). Without an observer no call is added to what the change itself costs.
#pragma once
#include "base/base.h"
#include "base/changes.h"

// --- folders ---

// Creates every missing folder along 'path' ("C:\a\b\file" creates C:\a and C:\a\b; a path
// ending in '\' creates its last folder too). Cuts 'path' at each backslash in place and
// puts it back; a folder that cannot be made is left for the write that follows to report.
// Always returns 1.
DWORD CreatePathDirectories(wchar_t* path);
// Creates the folder 'path' (a final '\' is allowed); its missing parents are made only
// when it cannot be made without them, so a folder whose parent is there costs one call.
// A failure is left for the writes into the folder to report.
void CreateFolderMakingParents(wchar_t* path);
// Creates the folder 'path' and those along it; trailing backslashes are cut from 'path'
// in place. 0 when the folder is there afterwards, otherwise why it is not.
[[nodiscard]] DWORD CreateFolderAndParents(wchar_t* path);

// --- files written in place ---

// Writes 'data' into 'path' itself: overwriting creates or empties the file, appending
// opens or creates it and writes at its end; no folder is made. The file keeps its
// identity and attributes. Returns the bytes written: 0 when it cannot be opened.
DWORD WriteFileBytes(const wchar_t* path, const void* data, DWORD byteCount, bool append);

// --- the files one run wrote ---

struct WrittenKey {
    ULONGLONG high;
    ULONGLONG low;
};
struct WrittenKeyTable {
    WrittenKey* slots;
    size_t capacity;            // a power of two, or 0 before the first key
    size_t count;
};
// What one run of a command wrote so far: its files by identity and the exact names it
// wrote them under, so that a later name reaching one of them under another name (another
// case, a trailing dot or blank, a short name, another drive) is told from a file that was
// there before. Starts zeroed; ReleaseWrittenFiles frees it. Memory grows with the files.
struct WrittenFiles {
    WrittenKeyTable identities;
    WrittenKeyTable names;
    bool hasVolumeSerial;
    DWORD volumeSerial;         // of the run's first file: see IdentityOfNewFile in file_writer.cpp
    DWORD notice;               // the first thing to tell since TakeWrittenNotice, or 0
};
void ReleaseWrittenFiles(WrittenFiles& written);
bool IsWrittenFile(const WrittenFiles& written, const FileIdentity& identity);
// What the writer met since the last call and the run should report, then 0:
// ERROR_FILE_EXISTS for a name that reached a file of the run written under another name
// (the later write still takes place), ERROR_NOT_ENOUGH_MEMORY when a file could not be
// remembered.
DWORD TakeWrittenNotice(WrittenFiles& written);

// --- files written whole, replacing what is there only once complete ---

// How an output treats the file that is there already.
struct FileOutputRules {
    bool replacesReadOnly = false;      // a read-only file is replaced and loses the bit; otherwise 5
    bool keepsAttributes = false;       // the new file takes the hidden, system and archive bits of the old one
    bool removesIncomplete = false;     // a new file whose content is not complete is removed
    HANDLE source = nullptr;            // the file copied from: a target that is this very file is left as it is
    WrittenFiles* written = nullptr;    // the run's record of what it wrote, or nullptr
};
// One file being written: a new file written directly, or a new file beside an existing
// one that takes its place once complete, so a failed write leaves the old file as it was.
struct FileOutput {
    HANDLE handle;              // nullptr: nothing is to be written (left as it is, or skipped)
    bool isReplacing;
    bool isStopped;             // the observer's progress answer ended the writing
    bool hasIdentity;
    ChangeKind kind;            // as reported before the change: a new file or a replacement
    DWORD replacedAttributes;
    FileIdentity identity;      // of the new file, when the rules keep a record
    FileOutputRules rules;
    const void* data;           // what the change reports as the new content, if known
    DWORD size;
    wchar_t path[MAX_PATH_CHARS];
    wchar_t temporary[MAX_PATH_CHARS];
};
// Opens 'path' for new content, making its folders when it cannot be created without
// them. A folder there gives 5, a read-only file 5 unless the rules replace it. 0 with
// 'output.handle' nullptr means there is nothing to write: the target is the source
// itself, or the observer made the change. 'data' and 'size' describe the content for
// the observer when the caller has it whole.
[[nodiscard]] DWORD OpenFileOutput(FileOutput& output, const wchar_t* path, const FileOutputRules& rules,
                                   const void* data = nullptr, DWORD size = 0);
// Writes 'count' bytes; a write that takes fewer has met a full disk. Then reports the
// progress: the observer's non-zero answer sets 'isStopped' and is the result.
[[nodiscard]] DWORD WriteFileOutput(FileOutput& output, const void* data, DWORD count);
[[nodiscard]] DWORD SeekFileOutput(FileOutput& output, ULONGLONG offset);
// Ends the file at the current position (a sparse file's last hole).
[[nodiscard]] DWORD EndFileOutputHere(FileOutput& output);
// Closes the output: with 'outcome' 0 the content is complete and a replacement takes the
// old file's place; otherwise the replacement goes (and a new file when the rules say so).
// Returns 'outcome', or when it is 0 the result of closing and moving into place.
DWORD FinishFileOutput(FileOutput& output, DWORD outcome);
// Writes 'count' bytes as the whole content of 'path' through an output.
[[nodiscard]] DWORD WriteWholeFile(const wchar_t* path, const void* data, DWORD count, const FileOutputRules& rules);

// --- hard links ---

// Makes 'link' name the file 'target' (known as 'targetIdentity'): a hard link, or a copy
// of it where the file system has none; missing folders along 'link' are made. A 'link'
// that names the target already is left as it is; another file there is replaced only
// once the new link stands complete beside it (a folder or a read-only file: 5).
[[nodiscard]] DWORD LinkToFile(const wchar_t* target, const FileIdentity& targetIdentity, const wchar_t* link,
                               WrittenFiles* written);

// --- deletes ---

// What a delete list that could reach straight into a drive's root gives: nothing is deleted.
constexpr DWORD RESULT_DELETE_FROM_ROOT = 0x80070057;      // E_INVALIDARG
// True when deleting 'name' could reach straight into a drive's root: a name whose first
// component is empty ("\*", what "%1\*" gives with %1 unset), a drive alone ("C:"), a
// root itself, or a pattern whose folder is one ("C:\*", "*" while in a root,
// "C:\x\..\?*.*"), the root told by its text and by its identity. A name whose full path
// cannot be made or does not fit in MAX_PATH_CHARS counts as reaching into a root.
bool ReachesIntoRoot(const wchar_t* name);
// Deletes the names of 'names' (NUL-separated, ended by an empty name): files, folders with
// everything in them, and '*' and '?' patterns in the last component (matching folders
// too). Every name is resolved before anything is deleted; the first failure ends the
// delete and is the result, with the codes the shell's delete gives: 2 for a name that is
// not there, 0x7C for one whose folder is not there, 5 for an empty list or a read-only
// file named or matched directly (inside a folder being deleted the bit is cleared).
// RESULT_DELETE_FROM_ROOT when any name reaches into a root. No prompt, no window.
[[nodiscard]] DWORD DeleteNamedFiles(const wchar_t* names);
// Deletes the one file 'path': 0 or the platform's error.
[[nodiscard]] DWORD DeleteOneFile(const wchar_t* path);

// --- attributes, temporary copies, libraries ---

[[nodiscard]] DWORD SetAttributesOf(const wchar_t* path, DWORD attributes);
// Copies 'source' to a new file in the temporary folder whose name the platform makes
// unique with 'prefix', named in 'copy' (empty when no name could be made or the observer
// refused it). A failed copy leaves the new file empty.
void CopyToTemporaryFile(const wchar_t* source, const wchar_t* prefix, wchar_t (&copy)[MAX_PATH_CHARS]);
// Announces that a library is about to write 'path' itself: 0 lets it, CHANGE_MADE_BY_OBSERVER
// means the write is to be skipped and counted as done, anything else refuses it.
[[nodiscard]] DWORD AnnounceLibraryWrite(const wchar_t* path);
// After an announced write that went on: the library's result, as the platform's code or its own.
void ReportLibraryWrite(const wchar_t* path, DWORD result);

// --- putting files back ---

// Moves the file 'saved' to 'path' (a copy where the two lie on different volumes),
// replacing what is there: reported as CreateFile or ReplaceFile of 'path'.
[[nodiscard]] DWORD PutFileBack(const wchar_t* saved, const wchar_t* path);
// Cuts the file 'path' back to 'length' bytes in place, and gives it 'lastWrite' as its
// last write time: reported as a ReplaceFile of type REPLACED_IN_PLACE, so that what is
// cut can be kept.
[[nodiscard]] DWORD CutFileTo(const wchar_t* path, ULONGLONG length, const FILETIME& lastWrite);
// Removes the empty folder 'path'; a read-only one loses the bit first. Reported as DeleteFolder.
[[nodiscard]] DWORD RemoveEmptyFolder(const wchar_t* path);

// --- the journal's own files ---

// The journal keeps its records and the files it saves in a folder of its own. Its
// changes there are no changes of the run: these make them without reporting them to the
// observer (the journal is one). Nothing but the journal calls them.
// Makes the folder 'path' (its parent must be there): 0, ERROR_ALREADY_EXISTS when it was
// there already, or why it could not be made.
[[nodiscard]] DWORD MakeFolderUnobserved(const wchar_t* path);
// Opens 'path' for reading and writing ('creation' as CreateFileW takes it); nullptr on failure.
HANDLE CreateFileUnobserved(const wchar_t* path, DWORD creation);
// Moves a file to a name nothing has (a copy and a delete across volumes).
[[nodiscard]] DWORD MoveFileUnobserved(const wchar_t* from, const wchar_t* to);
// Copies a file to a name nothing has.
[[nodiscard]] DWORD CopyFileUnobserved(const wchar_t* from, const wchar_t* to);
// Deletes a file; a read-only or system one loses those bits first.
[[nodiscard]] DWORD DeleteFileUnobserved(const wchar_t* path);
// Deletes the folder 'path' with everything in it ('path' grows while it works and is put
// back); the first failure, after trying everything.
[[nodiscard]] DWORD DeleteTreeUnobserved(wchar_t (&path)[MAX_PATH_CHARS]);
