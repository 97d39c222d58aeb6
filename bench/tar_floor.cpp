// The extraction floor: zlib reads of 512-byte blocks and CreateFileW/WriteFile of the
// same entries, with none of the product's checks. Only for archives bench.py made.
#include <windows.h>
#include <zlib.h>
#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned BLOCK = 512;
constexpr unsigned WRITE_CHUNK = 64 * 1024;

unsigned long long ReadOctal(const unsigned char* field, size_t length)
{
    unsigned long long value = 0;
    for (size_t i = 0; i < length && field[i]; ++i)
        if (field[i] >= '0' && field[i] <= '7')
            value = value * 8 + (field[i] - '0');
    return value;
}

// Copies 'size' bytes of entry data to 'file' (when open), reading whole blocks.
bool CopyEntryData(gzFile archive, HANDLE file, unsigned long long size)
{
    static unsigned char chunk[WRITE_CHUNK];
    unsigned filled = 0;
    for (unsigned long long left = size; left > 0;) {
        if (gzread(archive, chunk + filled, BLOCK) != static_cast<int>(BLOCK))
            return false;
        unsigned useful = left < BLOCK ? static_cast<unsigned>(left) : BLOCK;
        filled += useful;
        left -= useful;
        if (filled + BLOCK > WRITE_CHUNK || left == 0) {
            DWORD written = 0;
            if (file != INVALID_HANDLE_VALUE)
                WriteFile(file, chunk, filled, &written, nullptr);
            filled = 0;
        }
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return ERROR_INVALID_PARAMETER;
    gzFile archive = gzopen_w(argv[1], "rb");
    if (!archive)
        return ERROR_FILE_NOT_FOUND;
    unsigned char header[BLOCK];
    char longName[BLOCK + 1] = {};
    while (gzread(archive, header, BLOCK) == static_cast<int>(BLOCK) && header[0]) {
        unsigned long long size = ReadOctal(header + 124, 12);
        char name[BLOCK + 1];
        memcpy(name, longName[0] ? longName : reinterpret_cast<char*>(header), longName[0] ? BLOCK : 100);
        name[longName[0] ? BLOCK : 100] = 0;
        longName[0] = 0;
        if (header[156] == 'L') {
            if (size > BLOCK || gzread(archive, longName, BLOCK) != static_cast<int>(BLOCK))
                break;
            continue;
        }
        wchar_t path[MAX_PATH * 2];
        int length = swprintf(path, MAX_PATH * 2, L"%ls\\%hs", argv[2], name);
        for (int i = 0; i < length; ++i)
            if (path[i] == L'/')
                path[i] = L'\\';
        if (header[156] == '5') {
            CreateDirectoryW(path, nullptr);
            continue;
        }
        HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        bool complete = CopyEntryData(archive, file, size);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        if (!complete)
            break;
    }
    gzclose(archive);
    return 0;
}
