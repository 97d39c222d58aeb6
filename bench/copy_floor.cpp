// The copy floor: the fewest calls a recursive copy can make. Per folder one search and one
// CreateDirectoryW; per file the search step, an open of the source, a create of the
// target, reads up to the first short one, the writes and two closes. No checks, no
// attribute calls. Only for trees bench.py made (paths well within MAX_PATH).
#include <windows.h>
#include <cstdio>

namespace {

constexpr DWORD CHUNK = 64 * 1024;
char chunk[CHUNK];

void CopyOne(const wchar_t* source, const wchar_t* target)
{
    HANDLE input = CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE)
        return;
    HANDLE output = CreateFileW(target, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (output != INVALID_HANDLE_VALUE) {
        DWORD read = CHUNK;
        while (read == CHUNK && ReadFile(input, chunk, CHUNK, &read, nullptr) && read) {
            DWORD written = 0;
            WriteFile(output, chunk, read, &written, nullptr);
        }
        CloseHandle(output);
    }
    CloseHandle(input);
}

void CopyTree(const wchar_t* source, const wchar_t* target)
{
    CreateDirectoryW(target, nullptr);
    wchar_t search[MAX_PATH];
    swprintf(search, MAX_PATH, L"%ls\\*", source);
    WIN32_FIND_DATAW found;
    HANDLE handle = FindFirstFileW(search, &found);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    do {
        if (found.cFileName[0] == L'.')
            continue;
        wchar_t from[MAX_PATH], to[MAX_PATH];
        swprintf(from, MAX_PATH, L"%ls\\%ls", source, found.cFileName);
        swprintf(to, MAX_PATH, L"%ls\\%ls", target, found.cFileName);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CopyTree(from, to);
        else
            CopyOne(from, to);
    } while (FindNextFileW(handle, &found));
    FindClose(handle);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return ERROR_INVALID_PARAMETER;
    CopyTree(argv[1], argv[2]);
    return 0;
}
