#include "base/base.h"

namespace {

HANDLE OpenForIdentity(const wchar_t* path)
{
    // Attributes alone open any file or folder, even one another program holds open.
    return CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool IsIdentityOf(const wchar_t* path, const FileIdentity& identity)
{
    FileIdentity other;
    return IdentityOfPath(path, other) && SameIdentity(other, identity);
}

// True when 'folder' is the folder some drive letter stands for. Network drives are not
// asked (an unreachable server would stall the caller), nor is a drive without a medium
// allowed to raise the platform's "insert a disk" box.
bool IsDriveLetterRoot(const FileIdentity& folder)
{
    DWORD previousMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    DWORD drives = GetLogicalDrives();
    wchar_t root[] = L"A:\\";
    bool found = false;
    for (int letter = 0; letter < 26 && !found; ++letter) {
        root[0] = static_cast<wchar_t>(L'A' + letter);
        if (!(drives & (1u << letter)) || GetDriveTypeW(root) == DRIVE_REMOTE)
            continue;
        found = IsIdentityOf(root, folder);
    }
    SetThreadErrorMode(previousMode, nullptr);
    return found;
}

} // namespace

bool IdentityOfHandle(HANDLE handle, FileIdentity& identity)
{
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information))
        return false;
    identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
    return true;
}

bool IdentityOfPath(const wchar_t* path, FileIdentity& identity)
{
    HANDLE handle = OpenForIdentity(path);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    bool known = IdentityOfHandle(handle, identity);
    CloseHandle(handle);
    return known;
}

bool SameIdentity(const FileIdentity& a, const FileIdentity& b)
{
    return a.volumeSerial == b.volumeSerial && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

bool IdentityAndNameOf(const wchar_t* path, FileIdentity& identity, wchar_t (&name)[MAX_PATH_CHARS])
{
    HANDLE handle = OpenForIdentity(path);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    bool known = IdentityOfHandle(handle, identity);
    wchar_t finalPath[2 * MAX_PATH_CHARS];
    DWORD length = GetFinalPathNameByHandleW(handle, finalPath, ARRAYSIZE(finalPath), FILE_NAME_NORMALIZED);
    CloseHandle(handle);
    const wchar_t* last = length && length < ARRAYSIZE(finalPath) ? wcsrchr(finalPath, L'\\') : nullptr;
    if (!last || CopyText(name, last + 1) != ERROR_SUCCESS)
        name[0] = 0;
    return known;
}

bool IsVolumeRoot(const wchar_t* path)
{
    HANDLE handle = OpenForIdentity(path);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    bool isFolder = GetFileInformationByHandle(handle, &information) &&
                    (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(handle);
    if (!isFolder)
        return false;
    FileIdentity folder{information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
    wchar_t volume[MAX_PATH_CHARS];
    if (GetVolumePathNameW(path, volume, MAX_PATH_CHARS) && IsIdentityOf(volume, folder))
        return true;                    // a volume's root, or a folder a volume is mounted on
    return IsDriveLetterRoot(folder);
}
