#include "base/base.h"

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
    // Attributes alone open any file or folder, even one another program holds open.
    HANDLE handle = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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
