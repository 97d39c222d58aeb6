// The delete floor: the fewest calls deleting a tree can make. Per folder one search and
// one RemoveDirectoryW once its entries are gone; per file the search step and one
// DeleteFileW. No checks, no attribute calls. Only for trees bench.py made (paths well
// within MAX_PATH, no read-only files).
#include <windows.h>
#include <cstdio>

namespace {

void DeleteTree(const wchar_t* folder)
{
    wchar_t search[MAX_PATH];
    swprintf(search, MAX_PATH, L"%ls\\*", folder);
    WIN32_FIND_DATAW found;
    HANDLE handle = FindFirstFileW(search, &found);
    if (handle != INVALID_HANDLE_VALUE) {
        do {
            if (found.cFileName[0] == L'.' && (!found.cFileName[1] || !wcscmp(found.cFileName, L"..")))
                continue;
            wchar_t path[MAX_PATH];
            swprintf(path, MAX_PATH, L"%ls\\%ls", folder, found.cFileName);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(path);
            else
                DeleteFileW(path);
        } while (FindNextFileW(handle, &found));
        FindClose(handle);
    }
    RemoveDirectoryW(folder);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return ERROR_INVALID_PARAMETER;
    DeleteTree(argv[1]);
    return 0;
}
