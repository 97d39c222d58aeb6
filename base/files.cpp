#include "base/base.h"
#include "base/outward_calls.h"
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD SHARE_READ = FILE_SHARE_READ;
constexpr size_t SPARE_BYTES = 16;
constexpr ULONGLONG LARGEST_TEXT_FILE = INT_MAX - SPARE_BYTES;    // the conversion counts in int
constexpr ULONGLONG LARGEST_BYTE_FILE = MAXDWORD - SPARE_BYTES;

// Reads up to 'count' bytes into 'buffer'; returns how many arrived.
DWORD ReadUpTo(HANDLE file, void* buffer, DWORD count)
{
    DWORD read = 0;
    if (count && !outwardCalls.readFile(file, buffer, count, &read, nullptr))
        return 0;
    return read;
}

// The number of bytes to read: the file's size, or '*limit' when that is smaller. More
// than 'largest' bytes are refused (false) rather than cut short.
bool SizeToRead(HANDLE file, const DWORD* limit, ULONGLONG largest, DWORD& bytes)
{
    LARGE_INTEGER size;
    ULONGLONG wanted = GetFileSizeEx(file, &size) ? static_cast<ULONGLONG>(size.QuadPart) : 0;
    if (limit && *limit < wanted)
        wanted = *limit;
    if (wanted > largest)
        return false;
    bytes = static_cast<DWORD>(wanted);
    return true;
}

// Converts the 8-bit text after the mark to a new UTF-16 block; frees 'bytes' either way.
// 'length' is the byte count on entry and the UTF-16 byte count on return.
wchar_t* WidenText(unsigned char* bytes, DWORD& length, const TextEncoding& encoding)
{
    size_t count = length - encoding.markBytes;
    auto* wide = static_cast<wchar_t*>(malloc((count + SPARE_BYTES) * sizeof(wchar_t)));
    size_t units = wide ? DecodeTextBytes(encoding, bytes + encoding.markBytes, count, wide) : 0;
    free(bytes);
    length = static_cast<DWORD>(units * sizeof(wchar_t));
    return wide;
}

} // namespace

TextEncoding DetectTextEncoding(const unsigned char* bytes, size_t length)
{
    TextEncoding encoding{false, CP_ACP, 0};
    bool utf16Mark = length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
    if (utf16Mark) {
        encoding.markBytes = 2;
    } else if (length >= 2 && bytes[0] == 0xEF && bytes[1] == 0xBB) {
        encoding.markBytes = length < 3 ? length : 3;
        encoding.codePage = CP_UTF8;
    }
    const unsigned char* text = bytes + encoding.markBytes;
    size_t textLength = length - encoding.markBytes;
    encoding.isUtf16 = utf16Mark || textLength < 2 || text[1] == 0;
    return encoding;
}

size_t DecodeTextBytes(const TextEncoding& encoding, const unsigned char* bytes, size_t count, wchar_t* out)
{
    if (encoding.isUtf16) {
        memcpy(out, bytes, count & ~static_cast<size_t>(1));
        if (count & 1)
            out[count / 2] = bytes[count - 1];
        return (count + 1) / 2;
    }
    if (!count)
        return 0;
    int units = MultiByteToWideChar(encoding.codePage, 0, reinterpret_cast<const char*>(bytes), static_cast<int>(count),
                                    out, static_cast<int>(count));
    return units > 0 ? static_cast<size_t>(units) : 0;
}

HANDLE OpenFileForAccess(const wchar_t* path, DWORD access)
{
    HANDLE file = CreateFileW(path, access, SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// Reads a text file into a malloc'ed UTF-16 block ending in NUL, in the encodings
// DetectTextEncoding tells apart. 'byteCount' (optional) limits the bytes read on entry
// (the mark counts) and holds the text's length in bytes on return.
wchar_t* ReadTextFile(const wchar_t* path, DWORD* byteCount)
{
    HANDLE file = OpenFileForAccess(path, GENERIC_READ);
    if (!file)
        return nullptr;
    DWORD size = 0;
    auto* bytes = SizeToRead(file, byteCount, LARGEST_TEXT_FILE, size)
                      ? static_cast<unsigned char*>(malloc(static_cast<size_t>(size) + SPARE_BYTES))
                      : nullptr;
    DWORD length = bytes ? ReadUpTo(file, bytes, size) : 0;
    CloseHandle(file);
    if (!bytes)
        return nullptr;
    TextEncoding encoding = DetectTextEncoding(bytes, length);
    wchar_t* text = reinterpret_cast<wchar_t*>(bytes);
    if (encoding.isUtf16) {
        length -= static_cast<DWORD>(encoding.markBytes);
        memmove(bytes, bytes + encoding.markBytes, length);
    } else if (!(text = WidenText(bytes, length, encoding))) {
        return nullptr;
    }
    auto* end = reinterpret_cast<unsigned char*>(text) + length;
    end[0] = end[1] = end[2] = 0;
    if (byteCount)
        *byteCount = length;
    return text;
}

// Reads a file's bytes, limited by '*byteCount' when given, into 'buffer' or into a new
// malloc'ed block; two zero bytes follow the content. Returns nullptr on failure.
void* ReadFileBytes(const wchar_t* path, DWORD* byteCount, void* buffer)
{
    HANDLE file = OpenFileForAccess(path, GENERIC_READ);
    if (!file)
        return nullptr;
    DWORD size = 0;
    unsigned char* bytes = nullptr;
    if (SizeToRead(file, byteCount, LARGEST_BYTE_FILE, size))
        bytes = static_cast<unsigned char*>(buffer ? buffer : malloc(static_cast<size_t>(size) + SPARE_BYTES));
    if (!bytes) {
        CloseHandle(file);
        return nullptr;
    }
    DWORD read = ReadUpTo(file, bytes, size);
    bytes[read] = bytes[read + 1] = 0;
    if (byteCount)
        *byteCount = read;
    CloseHandle(file);
    return bytes;
}
