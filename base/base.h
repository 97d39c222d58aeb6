// The base every other folder builds on: limits and result codes, the process-wide values,
// text routines, paths and the one pattern walker, reading files with the one text
// decoder, file identities, the shell-open helper and the registry root prefixes. The
// file writer (file_writer.h) and the change observer (changes.h) build on it. It
// includes nothing of the program's own.
#pragma once
#include <windows.h>
#include <strsafe.h>
#include <cstddef>

constexpr size_t MAX_PATH_CHARS = 260;
constexpr size_t LINE_BUFFER_CHARS = 4096;
constexpr size_t VARIABLE_COUNT = 10;
constexpr wchar_t ARG_SEPARATOR = 1;

// Result codes of the engine besides the platform's own.
constexpr DWORD RESULT_NOT_FOUND = 1;       // block end, label or procedure end not found; failed beep
constexpr DWORD RESULT_NO_FILE = 2;         // nothing matched a file pattern
constexpr DWORD RESULT_UNREADABLE = 110;    // ERROR_OPEN_FAILED: a file that cannot be read

// Copies 'src' into a fixed buffer; a text that does not fit is an error, never cut.
template <size_t N>
[[nodiscard]] DWORD CopyText(wchar_t (&dest)[N], const wchar_t* src)
{
    return SUCCEEDED(StringCchCopyW(dest, N, src)) ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER;
}

// program.cpp
extern HINSTANCE instanceHandle;
extern const wchar_t* applicationTitle;
// Ten texts shared by every run of the process: %0 .. %9.
extern wchar_t ScriptVariables[VARIABLE_COUNT][MAX_PATH_CHARS];
// The open console, owner of the windows that commands open; nullptr while it is closed.
extern HWND consoleWindow;

// A run of 'length' units of a text that nobody changes. It ends with the text's NUL only
// when it reaches the text's end; a call that needs an ended text gets a copy (CopyPiece,
// AddPieceText).
struct TextPiece {
    const wchar_t* start;
    size_t length;
};
constexpr size_t MAX_ARGUMENT_PIECES = 5;
// An argument cut at its first separators; the pieces from 'count' on are empty, at the
// text's end.
struct ArgumentPieces {
    size_t count;
    TextPiece pieces[MAX_ARGUMENT_PIECES];
};
// Ended texts copied out of pieces side by side, for calls that take several at once. The
// pieces of one line (with their NULs in place of its separators) always fit.
struct PieceTexts {
    wchar_t units[LINE_BUFFER_CHARS];
    size_t used = 0;
};

// Copies 'piece' into a fixed buffer with a NUL; a piece that does not fit is an error,
// never cut.
template <size_t N>
[[nodiscard]] DWORD CopyPiece(wchar_t (&dest)[N], TextPiece piece)
{
    dest[0] = 0;
    if (piece.length >= N)
        return ERROR_INSUFFICIENT_BUFFER;
    CopyMemory(dest, piece.start, piece.length * sizeof(wchar_t));
    dest[piece.length] = 0;
    return ERROR_SUCCESS;
}

// language.cpp
// The two languages of the program's texts, menus and dialogs.
constexpr LANGID LANGUAGE_CHINESE = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
constexpr LANGID LANGUAGE_ENGLISH = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
// The language a setting ("zh", "en", any case; anything else or nullptr: none) chooses,
// else the one the interface language calls for: Chinese for a Chinese interface, English
// for every other.
LANGID ChooseProgramLanguage(const wchar_t* setting, LANGID interfaceLanguage);
// The language VARNOLT_LANG and the user's interface language choose, read at each call
// (texts are loaded seldom). Every text, menu and dialog of the program is loaded in it.
LANGID ProgramLanguage();
// Resource 'id' of 'type' in the program's language, else in the other one, else in any.
HRSRC FindProgramResource(HINSTANCE module, const wchar_t* type, UINT id);
// String 'id' in the program's language (the other one's where it has none), read in place
// and not NUL-terminated: its units in 'length'; nullptr (and 0) when neither has it.
const wchar_t* FindProgramString(HINSTANCE module, UINT id, size_t& length);
// Copies string 'id' as LoadStringW does (cut to 'capacity' - 1 units, NUL-terminated) and
// returns its length, 0 when it is missing.
int LoadProgramString(HINSTANCE module, UINT id, wchar_t* text, int capacity);
template <size_t N>
int LoadProgramString(UINT id, wchar_t (&text)[N])
{
    return LoadProgramString(instanceHandle, id, text, static_cast<int>(N));
}
HMENU LoadProgramMenu(HINSTANCE module, UINT id);
const DLGTEMPLATE* FindProgramDialog(HINSTANCE module, UINT id);

// text.cpp
bool CharEqualsNoCase(wchar_t a, wchar_t b);
size_t MatchPrefix(const wchar_t* subject, const wchar_t* other);
size_t MatchPrefixNoCase(const wchar_t* subject, const wchar_t* other);
const wchar_t* FindNoCase(const wchar_t* text, const wchar_t* needle);
TextPiece WholeText(const wchar_t* text);
// Cuts 'text' at its first 'most' - 1 separators (2 <= 'most' <= MAX_ARGUMENT_PIECES): the
// last piece found runs to the text's end, later separators included, and so is ended.
// 'count' is one more than the separators cut.
ArgumentPieces CutArgument(const wchar_t* text, size_t most);
// The first (last) 'unit' inside 'piece'; nullptr when there is none.
const wchar_t* FindInPiece(TextPiece piece, wchar_t unit);
const wchar_t* FindLastInPiece(TextPiece piece, wchar_t unit);
// The part of 'piece' before 'at', and the part from 'at' on; 'at' lies inside the piece
// or at its end.
TextPiece PieceBefore(TextPiece piece, const wchar_t* at);
TextPiece PieceFrom(TextPiece piece, const wchar_t* at);
// The unit at 'index' of 'piece', or 0 past its end, as if the piece were an ended text.
wchar_t UnitOfPiece(TextPiece piece, size_t index);
// True when the two pieces are the same text with ASCII case ignored (as _wcsicmp
// compares two ended texts).
bool PiecesEqualNoCase(TextPiece a, TextPiece b);
// Copies 'piece' with a NUL after the texts copied before and returns where it starts;
// nullptr when it does not fit.
const wchar_t* AddPieceText(PieceTexts& texts, TextPiece piece);
const wchar_t* SkipBlanks(const wchar_t* text);
int HexDigitValue(wchar_t digit);
// Reads a decimal number as _wtol does (blanks, an optional sign, digits; no digits give
// 0), except that 2147483648 to 4294967295 give those unsigned values instead of the
// saturated 2147483647, so that every 32-bit value can be written. Negative numbers stay
// negative (for a pointer-sized argument they widen with their sign).
long long ReadDecimalNumber(const wchar_t* text);
// Reads a text that is a decimal number and nothing else: an optional sign, then ASCII
// digits to its end (no blanks). False for any other text, and for a number outside
// 'lowest'..'highest'; 'number' is set only on success.
bool ReadWholeDecimalNumber(const wchar_t* text, long long lowest, long long highest, long long& number);

// paths.cpp
using FileVisitor = DWORD (*)(void* userData, const wchar_t* folder, const WIN32_FIND_DATAW& found);
bool WildcardMatch(const wchar_t* name, const wchar_t* pattern);
wchar_t* SplitLastComponent(wchar_t*& path);
[[nodiscard]] DWORD EnumerateFiles(FileVisitor visitor, void* userData, const wchar_t* folder, const wchar_t* pattern);

// One entry that a walk reached: 'path' is its full path, 'relative' its path below the
// walk's first folder ("" for an entry of that folder itself, "sub\deeper" further down).
struct WalkEntry {
    const wchar_t* path;
    const wchar_t* relative;
    const WIN32_FIND_DATAW* found;
};
struct FileWalk {
    DWORD (*visitFile)(void* userData, const WalkEntry& entry);
    // Recursive walks only: called before a folder is entered; any result but 0 is that
    // folder's result and the walk does not enter it. nullptr enters every folder.
    DWORD (*enterFolder)(void* userData, const WalkEntry& entry);
    void* userData;
    DWORD pathTooLong;      // the result of an entry whose path does not fit MAX_PATH_CHARS
};
// Visits the files of 'folder' that the platform matches with 'pattern'; recursive, every
// file below 'folder' whose name matches 'pattern' exactly (case counts), in every folder
// whose name does not start with '.'. Folders are never visited as files. The result is
// that of the last entry of 'folder' (2 for one that was skipped), or 2 when it has none.
[[nodiscard]] DWORD WalkFiles(const FileWalk& walk, const wchar_t* folder, const wchar_t* pattern, bool recursive);

// files.cpp
// How the bytes of a text file encode it: UTF-16 (with or without mark) taken as it
// stands, or 8-bit text in 'codePage' (UTF-8 after its mark, otherwise ANSI).
struct TextEncoding {
    bool isUtf16;
    UINT codePage;
    size_t markBytes;       // the bytes of the mark at the start, dropped from the text
};
// Tells the encoding from a file's first bytes ('length' of them, all there are when the
// file is shorter): FF FE is UTF-16, EF BB (and the byte after it) UTF-8; after the mark a
// text whose second byte is 0, or that is shorter than two bytes, is UTF-16.
TextEncoding DetectTextEncoding(const unsigned char* bytes, size_t length);
// Decodes 'count' bytes into 'out', which has room for 'count' units; returns the units
// written. An odd last byte of UTF-16 stands for itself.
size_t DecodeTextBytes(const TextEncoding& encoding, const unsigned char* bytes, size_t count, wchar_t* out);
// Opens the existing file 'path' with 'access' (reading; files are changed only through
// the file writer, base/file_writer.h). Returns nullptr on failure.
HANDLE OpenFileForAccess(const wchar_t* path, DWORD access);
wchar_t* ReadTextFile(const wchar_t* path, DWORD* byteCount);
void* ReadFileBytes(const wchar_t* path, DWORD* byteCount, void* buffer);

// identity.cpp
// What the platform knows a file or folder by, whatever name reached it: short 8.3 names,
// trailing dots and blanks, other drive letters, "\\?\" and UNC forms, "..".
struct FileIdentity {
    DWORD volumeSerial;
    DWORD indexHigh;
    DWORD indexLow;
};
// The identity of the open 'handle'; false when the platform cannot tell it.
bool IdentityOfHandle(HANDLE handle, FileIdentity& identity);
// The identity of the file or folder 'path' names; false when there is none or it cannot
// be opened even for its attributes.
bool IdentityOfPath(const wchar_t* path, FileIdentity& identity);
bool SameIdentity(const FileIdentity& a, const FileIdentity& b);
// The identity of 'path' and the one name a folder listing shows it by, whatever name
// 'path' used ("BACKUP~1" gives "Backup"); 'name' is empty for the root of a volume, or
// when the platform cannot tell. False when 'path' cannot be opened.
bool IdentityAndNameOf(const wchar_t* path, FileIdentity& identity, wchar_t (&name)[MAX_PATH_CHARS]);
// True when 'path' names a folder that is the root of a volume or of a drive letter,
// whatever name reaches it: "M:\", a folder a volume is mounted on, the folder a
// substituted drive stands for, Wine's drive_c seen through Z:. False for anything that
// cannot be opened.
bool IsVolumeRoot(const wchar_t* path);

// shell.cpp
// The last error, or 'fallback' when a failed call left none, so a failure never reads 0.
DWORD LastErrorOr(DWORD fallback);
// Opens 'file' with the shell's default action, owned by the console when it is open and
// without the shell's error boxes. With 'process' the started process's handle (or
// nullptr, for a document handed to a program that was running already) is returned
// there for the caller to close. 0, or the platform's error.
[[nodiscard]] DWORD ShellOpen(const wchar_t* file, const wchar_t* parameters, HANDLE* process);

// registry_roots.cpp
constexpr size_t REGISTRY_ROOT_COUNT = 8;
constexpr size_t REGISTRY_PREFIX_CHARS = 20;
// A predefined root key and the exact, case-sensitive prefix that names it ("HKLM\").
struct RegistryRoot {
    HKEY root;
    wchar_t prefix[REGISTRY_PREFIX_CHARS];
};
extern const RegistryRoot RegistryRoots[REGISTRY_ROOT_COUNT];
// Matches the first row of RegistryRoots whose whole prefix begins the text at 'position'
// and moves 'position' past it. Returns nullptr, with 'position' unchanged, when none does.
HKEY ParseRegistryRoot(const wchar_t*& position);
HKEY ParseRegistryRoot(wchar_t*& position);
