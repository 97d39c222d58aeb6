#include "archive/archive.h"
#include <zlib.h>
#include <cstring>
#include <cwchar>

namespace {

constexpr unsigned TAR_BLOCK = 512;
constexpr size_t NAME_OFFSET = 0;
constexpr size_t NAME_LENGTH = 100;
constexpr size_t SIZE_OFFSET = 124;
constexpr size_t SIZE_LENGTH = 12;
constexpr size_t TYPE_OFFSET = 156;
constexpr DWORD LONG_NAME_LIMIT = TAR_BLOCK - 1;
// File data are read and written many blocks at a time; headers one block at a time.
constexpr unsigned DATA_CHUNK = 64 * 1024;
static_assert(DATA_CHUNK % TAR_BLOCK == 0);

enum class TarState { ExpectingHeader, InsideFileData, LongNamePending };

struct TarExtraction {
    gzFile archive;
    const wchar_t* destination;
    TarState state;
    DWORD bytesToCome;                  // file data still to come for the current entry
    HANDLE output;                      // nullptr while no file is open
    bool isNameUsable;                  // false when the entry name did not fit its buffer
    bool isStopped;
    wchar_t entryName[MAX_PATH_CHARS];
    unsigned char longName[TAR_BLOCK];
    unsigned char data[DATA_CHUNK];     // one header block, or a run of file data blocks
};

// Converts NUL-terminated system code page text into the entry name, "/" becoming "\".
// A name that does not fit leaves the entry name unusable (the entry is then skipped).
void TakeEntryName(TarExtraction& tar, const char* name)
{
    int units = MultiByteToWideChar(CP_ACP, 0, name, -1, tar.entryName, MAX_PATH_CHARS);
    tar.isNameUsable = units > 0;
    if (!tar.isNameUsable)
        tar.entryName[0] = 0;
    for (wchar_t* p = tar.entryName; *p; ++p)
        if (*p == L'/')
            *p = L'\\';
}

void TakeHeaderName(TarExtraction& tar)
{
    char name[NAME_LENGTH + 1];
    memcpy(name, tar.data + NAME_OFFSET, NAME_LENGTH);
    name[NAME_LENGTH] = 0;
    TakeEntryName(tar, name);
}

DWORD HeaderSize(const TarExtraction& tar)
{
    return ParseOctalField(tar.data + SIZE_OFFSET, SIZE_LENGTH);
}

// A component that Windows would resolve to a parent folder: "..", and the same with
// trailing dots or spaces ("...", ".. "), which the path parser trims away.
bool IsParentComponent(const wchar_t* start, const wchar_t* end)
{
    size_t dots = 0;
    for (const wchar_t* p = start; p < end; ++p) {
        if (*p == L'.')
            ++dots;
        else if (*p != L' ')
            return false;
    }
    return dots >= 2;
}

constexpr const wchar_t* DEVICE_NAMES[] = {L"CON", L"PRN", L"AUX", L"NUL"};
constexpr const wchar_t* NUMBERED_DEVICE_NAMES[] = {L"COM", L"LPT"};

bool IsDeviceNumber(wchar_t unit)
{
    return (unit >= L'1' && unit <= L'9') || unit == L'\x00B9' || unit == L'\x00B2' || unit == L'\x00B3';
}

// A component that Windows opens as a device in any folder ("CON", "nul.txt", "COM1 "):
// its part before the first dot, trailing blanks dropped, is a device name. Writing such
// an entry would reach a port or the console instead of a file below the destination.
bool IsDeviceComponent(const wchar_t* start, const wchar_t* end)
{
    const wchar_t* stem = start;
    while (stem < end && *stem != L'.')
        ++stem;
    while (stem > start && stem[-1] == L' ')
        --stem;
    size_t length = static_cast<size_t>(stem - start);
    if (length == 3) {
        for (const wchar_t* device : DEVICE_NAMES)
            if (_wcsnicmp(start, device, 3) == 0)
                return true;
    }
    if (length == 4 && IsDeviceNumber(start[3])) {
        for (const wchar_t* device : NUMBERED_DEVICE_NAMES)
            if (_wcsnicmp(start, device, 3) == 0)
                return true;
    }
    return false;
}

// An entry name that stays inside the destination: relative, no drive letter or stream
// (no ':'), no component that climbs to a parent folder and none that names a device.
bool IsContainedName(const wchar_t* name)
{
    if (name[0] == L'\\' || wcschr(name, L':'))
        return false;
    for (const wchar_t* start = name;;) {
        const wchar_t* end = wcschr(start, L'\\');
        if (!end)
            end = start + wcslen(start);
        if (IsParentComponent(start, end) || IsDeviceComponent(start, end))
            return false;
        if (!*end)
            return true;
        start = end + 1;
    }
}

HANDLE CreateEntryFile(TarExtraction& tar)
{
    wchar_t path[MAX_PATH_CHARS];
    if (!tar.isNameUsable || BuildEntryPath(path, tar.destination, tar.entryName, false) != ERROR_SUCCESS)
        return nullptr;
    return CreateFileMakingFolders(path);
}

DWORD StartFileEntry(TarExtraction& tar)
{
    DWORD size = HeaderSize(tar);
    if (size == TAR_INVALID_NUMBER) {
        tar.isStopped = true;
        return ERROR_SUCCESS;
    }
    tar.output = CreateEntryFile(tar);     // none: the data are read and dropped
    tar.bytesToCome = size;
    tar.state = TarState::InsideFileData;
    return ERROR_SUCCESS;
}

DWORD CreateFolderEntry(TarExtraction& tar)
{
    wchar_t path[MAX_PATH_CHARS];
    if (tar.isNameUsable && BuildEntryPath(path, tar.destination, tar.entryName, true) == ERROR_SUCCESS)
        CreatePathDirectories(path);
    return ERROR_SUCCESS;
}

// Reads the name block that follows a long-name header; the name applies to the next entry.
// A size over 511, a short block, a block without its final zero or a name longer than the
// size stops the extraction.
DWORD ReadLongNameEntry(TarExtraction& tar)
{
    DWORD size = HeaderSize(tar);
    if (size > LONG_NAME_LIMIT) {
        tar.isStopped = true;
        return ERROR_SUCCESS;
    }
    int count = gzread(tar.archive, tar.longName, TAR_BLOCK);
    if (count < 0)
        return TAR_LONG_NAME_READ_FAILED;
    const char* name = reinterpret_cast<const char*>(tar.longName);
    if (count != static_cast<int>(TAR_BLOCK) || tar.longName[LONG_NAME_LIMIT] != 0 || strlen(name) > size) {
        tar.isStopped = true;
        return ERROR_SUCCESS;
    }
    TakeEntryName(tar, name);
    if (size)
        tar.state = TarState::LongNamePending;
    return ERROR_SUCCESS;
}

// Links, devices, extended headers and the like: nothing is extracted, but any data they
// carry are skipped by size so that they are not taken for headers.
DWORD SkipIgnoredEntry(TarExtraction& tar)
{
    DWORD size = HeaderSize(tar);
    if (size != TAR_INVALID_NUMBER && size) {
        tar.bytesToCome = size;
        tar.state = TarState::InsideFileData;
    }
    return ERROR_SUCCESS;
}

using EntryHandler = DWORD (*)(TarExtraction& tar);

struct EntryType {
    unsigned char flag;
    EntryHandler handler;
};

constexpr EntryType ENTRY_TYPE_TABLE[] = {
    {'0', StartFileEntry},    {'\0', StartFileEntry},   {'5', CreateFolderEntry},
    {'K', ReadLongNameEntry}, {'L', ReadLongNameEntry},
};

EntryHandler FindEntryHandler(unsigned char flag)
{
    for (const auto& row : ENTRY_TYPE_TABLE)
        if (row.flag == flag)
            return row.handler;
    return SkipIgnoredEntry;
}

// Reads one header block and acts on its entry. A short block, like the zero block that
// marks the end of the archive, ends the extraction without acting on what it holds.
DWORD ReadHeaderBlock(TarExtraction& tar)
{
    int count = gzread(tar.archive, tar.data, TAR_BLOCK);
    if (count < 0)
        return TAR_READ_FAILED;
    if (count != static_cast<int>(TAR_BLOCK) || tar.data[0] == 0) {
        tar.isStopped = true;
        return ERROR_SUCCESS;
    }
    if (tar.state == TarState::ExpectingHeader)
        TakeHeaderName(tar);
    tar.state = TarState::ExpectingHeader;
    return FindEntryHandler(tar.data[TYPE_OFFSET])(tar);
}

// Reads the blocks of file data still to come, up to one chunk, and writes the data part
// of them (not the padding) to the open file. Of a short read only whole blocks count,
// and the extraction stops after them. Write failures are ignored.
DWORD ReadFileData(TarExtraction& tar)
{
    DWORD wanted = tar.bytesToCome >= DATA_CHUNK ? DATA_CHUNK : (tar.bytesToCome + TAR_BLOCK - 1) / TAR_BLOCK * TAR_BLOCK;
    int count = gzread(tar.archive, tar.data, wanted);
    if (count < 0)
        return TAR_READ_FAILED;
    DWORD received = static_cast<DWORD>(count);
    if (received != wanted)
        tar.isStopped = true;
    DWORD bytes = received - received % TAR_BLOCK;
    if (bytes > tar.bytesToCome)
        bytes = tar.bytesToCome;
    DWORD written = 0;
    if (tar.output && bytes)
        (void)WriteFile(tar.output, tar.data, bytes, &written, nullptr);
    tar.bytesToCome = tar.isStopped ? 0 : tar.bytesToCome - bytes;
    return ERROR_SUCCESS;
}

void CloseOutput(TarExtraction& tar)
{
    if (tar.output)
        CloseHandle(tar.output);
    tar.output = nullptr;
}

DWORD RunExtraction(TarExtraction& tar)
{
    for (;;) {
        DWORD result = tar.state == TarState::InsideFileData ? ReadFileData(tar) : ReadHeaderBlock(tar);
        if (result != ERROR_SUCCESS)
            return result;
        if (tar.state != TarState::LongNamePending && tar.bytesToCome == 0) {
            tar.state = TarState::ExpectingHeader;
            CloseOutput(tar);    // an empty file is closed at once, others after their last block
        }
        if (tar.isStopped)
            return ERROR_SUCCESS;
    }
}

} // namespace

// Reads a tar number field: a zero byte ends it, spaces are skipped wherever they stand,
// digits 0-7 accumulate. Any other byte, or a value beyond 32 bits, gives TAR_INVALID_NUMBER.
DWORD ParseOctalField(const unsigned char* field, size_t length)
{
    DWORD value = 0;
    for (size_t i = 0; i < length && field[i]; ++i) {
        if (field[i] == ' ')
            continue;
        if (field[i] < '0' || field[i] > '7' || value > (MAXDWORD >> 3))
            return TAR_INVALID_NUMBER;
        value = value * 8 + (field[i] - '0');
    }
    return value;
}

// Builds "destination\name" (a folder: "destination\name\"), the destination as written.
// Fails for a name that would leave the destination and for a path beyond the buffer.
DWORD BuildEntryPath(wchar_t (&path)[MAX_PATH_CHARS], const wchar_t* destination, const wchar_t* name, bool isFolder)
{
    if (!IsContainedName(name))
        return ERROR_INVALID_NAME;
    const wchar_t* format = isFolder ? L"%s\\%s\\" : L"%s\\%s";
    if (FAILED(StringCchPrintfW(path, MAX_PATH_CHARS, format, destination ? destination : L"", name)))
        return ERROR_FILENAME_EXCED_RANGE;
    return ERROR_SUCCESS;
}

// Extracts the regular files and folders of a tar or tar-gzip archive under 'destination',
// streaming through zlib with fixed memory. Results: 0 (end reached, or a stop on bad
// input), TAR_CANNOT_OPEN, TAR_READ_FAILED, TAR_LONG_NAME_READ_FAILED.
DWORD ExtractTarGz(wchar_t* archive, wchar_t* destination)
{
    gzFile file = archive ? gzopen_w(archive, "rb") : nullptr;
    if (!file)
        return TAR_CANNOT_OPEN;
    gzbuffer(file, TAR_GZIP_BUFFER_BYTES);
    TarExtraction tar{file, destination, TarState::ExpectingHeader, 0, nullptr, false, false, {}, {}, {}};
    DWORD result = RunExtraction(tar);
    CloseOutput(tar);
    gzclose(file);
    return result;
}
