#include "engine/engine.h"

// The first position in 'text' where 'needle' stands, ASCII case ignored; nullptr when
// there is none. An empty needle is found at the start of a non-empty text.
const wchar_t* FindNoCase(const wchar_t* text, const wchar_t* needle)
{
    for (; *text; ++text) {
        size_t i = 0;
        while (needle[i] && CharEqualsNoCase(text[i], needle[i]))
            ++i;
        if (!needle[i])
            return text;
    }
    return nullptr;
}

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
