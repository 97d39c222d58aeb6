#include "base/base.h"

// Creates every missing folder along 'path' ("C:\a\b\file" creates C:\a and C:\a\b; a
// path ending in '\' creates its last folder too). Cuts 'path' at each backslash in place
// and puts it back; a folder that cannot be made is left for the write that follows to
// report. Always returns 1.
DWORD CreatePathDirectories(wchar_t* path)
{
    for (wchar_t* p = wcschr(path, L'\\'); p; p = wcschr(p + 1, L'\\')) {
        *p = 0;
        WIN32_FILE_ATTRIBUTE_DATA attributes;
        bool isFolder = GetFileAttributesExW(path, GetFileExInfoStandard, &attributes) &&
                        (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        if (!isFolder && path[0])
            CreateDirectoryW(path, nullptr);
        *p = L'\\';
    }
    return 1;
}

void CreateFolderMakingParents(wchar_t* path)
{
    if (!CreateDirectoryW(path, nullptr) && GetLastError() == ERROR_PATH_NOT_FOUND)
        CreatePathDirectories(path);
}

namespace {

HANDLE CreateForWriting(const wchar_t* path, DWORD creation)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, creation, 0, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

} // namespace

HANDLE CreateFileMakingFolders(wchar_t* path, DWORD creation)
{
    HANDLE file = CreateForWriting(path, creation);
    if (!file && GetLastError() == ERROR_PATH_NOT_FOUND) {
        CreatePathDirectories(path);
        file = CreateForWriting(path, creation);
    }
    return file;
}
