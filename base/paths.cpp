#include "base/base.h"

// '*' matches any run, '?' any one character, everything else itself (case counts).
// Backtracks to the last star only, which is enough for a single run of text.
bool WildcardMatch(const wchar_t* name, const wchar_t* pattern)
{
    const wchar_t* nameAttempt = name;
    const wchar_t* patternAttempt = pattern;
    bool starSeen = false;
    for (;;) {
        const wchar_t* n = nameAttempt;
        const wchar_t* p = patternAttempt;
        for (;;) {
            if (!*n) {
                if (*p == L'*')
                    ++p;
                return *p == 0;
            }
            if (*p == L'*') {
                if (!p[1])
                    return true;
                nameAttempt = n;
                patternAttempt = p + 1;
                starSeen = true;
                break;
            }
            if (*p != L'?' && *p != *n) {
                if (!starSeen)
                    return false;
                ++nameAttempt;
                break;
            }
            ++n;
            ++p;
        }
    }
}

// Cuts 'path' at its last backslash: 'path' keeps the folder part and the name part is
// returned. Without a backslash the folder part is the empty text at the path's end.
wchar_t* SplitLastComponent(wchar_t*& path)
{
    wchar_t* backslash = wcsrchr(path, L'\\');
    if (backslash) {
        *backslash = 0;
        return backslash + 1;
    }
    wchar_t* name = path;
    path += wcslen(path);
    return name;
}

// Calls 'visitor' for every entry of 'folder' that the platform matches with 'pattern',
// files and folders alike, until one returns E_ABORT. Returns the last visitor's result,
// or 2 when nothing matched (or the search text would not fit).
DWORD EnumerateFiles(FileVisitor visitor, void* userData, const wchar_t* folder, const wchar_t* pattern)
{
    wchar_t search[MAX_PATH_CHARS];
    if (FAILED(StringCchPrintfW(search, MAX_PATH_CHARS, L"%s\\%s", folder, pattern)))
        return RESULT_NO_FILE;
    WIN32_FIND_DATAW found;
    HANDLE handle = FindFirstFileW(search, &found);
    if (handle == INVALID_HANDLE_VALUE)
        return RESULT_NO_FILE;
    DWORD result;
    do {
        result = visitor(userData, folder, found);
    } while (result != static_cast<DWORD>(E_ABORT) && FindNextFileW(handle, &found));
    FindClose(handle);
    return result;
}

namespace {

struct Walk {
    const FileWalk& walk;
    const wchar_t* pattern;     // the case-sensitive file name filter of a recursive walk
    bool recursive;
    wchar_t relative[MAX_PATH_CHARS];
};

DWORD WalkFolder(Walk& walk, const wchar_t* folder, const wchar_t* pattern);

// Enters one folder of a recursive walk; 'relative' grows by its name and is put back.
DWORD EnterFolder(Walk& walk, const WalkEntry& entry)
{
    if (walk.walk.enterFolder) {
        DWORD result = walk.walk.enterFolder(walk.walk.userData, entry);
        if (result != ERROR_SUCCESS)
            return result;
    }
    if (wcslen(entry.path) + 2 >= MAX_PATH_CHARS)        // no room for the search's "\*"
        return walk.walk.pathTooLong;
    size_t length = wcslen(walk.relative);
    if (FAILED(StringCchPrintfW(walk.relative + length, MAX_PATH_CHARS - length, length ? L"\\%s" : L"%s",
                                entry.found->cFileName)))
        return walk.walk.pathTooLong;
    DWORD result = WalkFolder(walk, entry.path, L"*");
    walk.relative[length] = 0;
    return result;
}

DWORD VisitEntry(void* userData, const wchar_t* folder, const WIN32_FIND_DATAW& found)
{
    auto& walk = *static_cast<Walk*>(userData);
    bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder && (!walk.recursive || found.cFileName[0] == L'.'))
        return RESULT_NO_FILE;
    if (!isFolder && walk.recursive && !WildcardMatch(found.cFileName, walk.pattern))
        return RESULT_NO_FILE;
    wchar_t path[MAX_PATH_CHARS];
    if (FAILED(StringCchPrintfW(path, MAX_PATH_CHARS, L"%s\\%s", folder, found.cFileName)))
        return walk.walk.pathTooLong;
    WalkEntry entry{path, walk.relative, &found};
    return isFolder ? EnterFolder(walk, entry) : walk.walk.visitFile(walk.walk.userData, entry);
}

DWORD WalkFolder(Walk& walk, const wchar_t* folder, const wchar_t* pattern)
{
    return EnumerateFiles(VisitEntry, &walk, folder, pattern);
}

} // namespace

DWORD WalkFiles(const FileWalk& fileWalk, const wchar_t* folder, const wchar_t* pattern, bool recursive)
{
    Walk walk{fileWalk, pattern, recursive, {}};
    return WalkFolder(walk, folder, recursive ? L"*" : pattern);
}
