#include "engine/engine.h"
#include "registry/registry.h"
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

constexpr size_t SPARE_UNITS = 2;                   // the cut's NUL and the carried key line's break
constexpr size_t LARGEST_BYTE_RUN = 0x7FFFFFF0;     // MultiByteToWideChar counts in int

// Bytes read from the file and not yet decoded.
struct ByteBuffer {
    unsigned char* bytes;
    size_t length;
    size_t capacity;
};

// Decoded text not yet imported. It starts with the last key line imported so far and a
// line break ('keyLength' units), which reopens that key for the value lines that follow.
struct TextBuffer {
    wchar_t* units;
    size_t length;
    size_t capacity;
    size_t keyLength;
};

struct RegistryFileReader {
    HANDLE file;
    bool isUtf16;
    UINT codePage;
    bool atEnd;
    size_t unitsToSkip;
    ByteBuffer raw;
    TextBuffer text;
};

bool IsLineBreak(wchar_t unit)
{
    return unit == L'\r' || unit == L'\n';
}

bool IsGap(wchar_t unit)
{
    return IsLineBreak(unit) || unit == L'\t' || unit == L' ';
}

const wchar_t* SkipGaps(const wchar_t* text)
{
    while (IsGap(*text))
        ++text;
    return text;
}

// Reads until the byte buffer is full or the file ends (then 'atEnd' is set).
[[nodiscard]] DWORD FillBytes(RegistryFileReader& reader)
{
    ByteBuffer& raw = reader.raw;
    while (!reader.atEnd && raw.length < raw.capacity) {
        DWORD wanted = static_cast<DWORD>(raw.capacity - raw.length < MAXDWORD ? raw.capacity - raw.length : MAXDWORD);
        DWORD read = 0;
        if (!ReadFile(reader.file, raw.bytes + raw.length, wanted, &read, nullptr))
            return RESULT_UNREADABLE;
        raw.length += read;
        reader.atEnd = read == 0;
    }
    return ERROR_SUCCESS;
}

// The encoding rules of ReadTextFile, applied to the first bytes: FF FE is UTF-16 and
// EF BB (with the byte after it) UTF-8, both dropped; otherwise a zero second byte means
// UTF-16 without mark and anything else the ANSI code page.
void DetectEncoding(RegistryFileReader& reader)
{
    ByteBuffer& raw = reader.raw;
    size_t markBytes = 0;
    bool utf16Mark = false;
    reader.codePage = CP_ACP;
    if (raw.length >= 2 && raw.bytes[0] == 0xFF && raw.bytes[1] == 0xFE) {
        markBytes = 2;
        utf16Mark = true;
    } else if (raw.length >= 2 && raw.bytes[0] == 0xEF && raw.bytes[1] == 0xBB) {
        markBytes = raw.length < 3 ? raw.length : 3;
        reader.codePage = CP_UTF8;
    }
    raw.length -= markBytes;
    memmove(raw.bytes, raw.bytes + markBytes, raw.length);
    reader.isUtf16 = utf16Mark || raw.length < 2 || raw.bytes[1] == 0;
}

// The bytes that decode to whole lines: UTF-16 up to an even count, 8-bit text through
// its last line feed (which never occurs inside a multi-byte character); all at the end.
size_t DecodableBytes(const RegistryFileReader& reader)
{
    const ByteBuffer& raw = reader.raw;
    if (reader.atEnd)
        return raw.length;
    if (reader.isUtf16)
        return raw.length & ~static_cast<size_t>(1);
    for (size_t count = raw.length; count > 0; --count)
        if (raw.bytes[count - 1] == '\n')
            return count;
    return 0;
}

[[nodiscard]] bool ReserveUnits(TextBuffer& text, size_t more)
{
    size_t needed = text.length + more + SPARE_UNITS;
    if (needed <= text.capacity)
        return true;
    size_t capacity = text.capacity * 2 > needed ? text.capacity * 2 : needed;
    auto* grown = static_cast<wchar_t*>(realloc(text.units, capacity * sizeof(wchar_t)));
    if (!grown)
        return false;
    text.units = grown;
    text.capacity = capacity;
    return true;
}

// Makes room for a line that does not end within the bytes held.
[[nodiscard]] bool GrowBytes(ByteBuffer& raw)
{
    if (raw.capacity > LARGEST_BYTE_RUN / 2)
        return false;
    auto* grown = static_cast<unsigned char*>(realloc(raw.bytes, raw.capacity * 2));
    if (!grown)
        return false;
    raw.bytes = grown;
    raw.capacity *= 2;
    return true;
}

// Appends the decodable bytes to the text as UTF-16 and keeps the rest for the next read.
// An odd last byte of a UTF-16 file stands for itself, as ReadTextFile reads it.
[[nodiscard]] DWORD DecodeBytes(RegistryFileReader& reader)
{
    ByteBuffer& raw = reader.raw;
    TextBuffer& text = reader.text;
    size_t count = DecodableBytes(reader);
    if (count == 0)
        return raw.length == raw.capacity && !GrowBytes(raw) ? ERROR_NOT_ENOUGH_MEMORY : ERROR_SUCCESS;
    if (!ReserveUnits(text, count))
        return ERROR_NOT_ENOUGH_MEMORY;
    wchar_t* out = text.units + text.length;
    if (reader.isUtf16) {
        memcpy(out, raw.bytes, count & ~static_cast<size_t>(1));
        if (count & 1)
            out[count / 2] = raw.bytes[count - 1];
        text.length += (count + 1) / 2;
    } else {
        int units = MultiByteToWideChar(reader.codePage, 0, reinterpret_cast<char*>(raw.bytes), static_cast<int>(count),
                                        out, static_cast<int>(count));
        text.length += units > 0 ? static_cast<size_t>(units) : 0;
    }
    raw.length -= count;
    memmove(raw.bytes, raw.bytes + count, raw.length);
    return ERROR_SUCCESS;
}

// Drops the units before the registry text (blanks, marks, header) as they arrive.
void DropSkippedUnits(RegistryFileReader& reader)
{
    TextBuffer& text = reader.text;
    size_t pending = text.length - text.keyLength;
    size_t dropped = reader.unitsToSkip < pending ? reader.unitsToSkip : pending;
    wmemmove(text.units + text.keyLength, text.units + text.keyLength + dropped, pending - dropped);
    text.length -= dropped;
    reader.unitsToSkip -= dropped;
}

// A NUL ends the text, as it ends the whole text read at once.
void EndAtNul(RegistryFileReader& reader, size_t newFrom)
{
    TextBuffer& text = reader.text;
    if (const wchar_t* nul = wmemchr(text.units + newFrom, 0, text.length - newFrom)) {
        text.length = static_cast<size_t>(nul - text.units);
        reader.atEnd = true;
        reader.raw.length = 0;
    }
}

// The last line break after the carried key line at which the text can be cut without
// cutting a line: the last unit before it that is not a blank or line break is not a
// backslash, which would join the next line. 0 when there is none.
size_t FindSafeCut(const TextBuffer& text)
{
    size_t at = text.length;
    while (at > text.keyLength) {
        --at;
        if (!IsLineBreak(text.units[at]))
            continue;
        size_t before = at;
        while (before > text.keyLength && IsGap(text.units[before - 1]))
            --before;
        if (before == text.keyLength || text.units[before - 1] != L'\\')
            return at;
        at = before - 1;
    }
    return 0;
}

// The end of the line at 'line' as the importer reads it: a key line ends at its line
// break; in any other line a backslash also takes the blanks and line breaks after it
// and the character after those.
const wchar_t* SkipRawLine(const wchar_t* line)
{
    bool verbatim = *line == L'[';
    while (*line && !IsLineBreak(*line)) {
        if (!verbatim && *line == L'\\') {
            line = SkipGaps(line + 1);
            if (!*line)
                break;
        }
        ++line;
    }
    return line;
}

// The start of the last key line of the NUL-terminated 'text' ('keyEnd' set to its end),
// or nullptr when it has none.
const wchar_t* FindLastKeyLine(const wchar_t* text, const wchar_t*& keyEnd)
{
    const wchar_t* keyStart = nullptr;
    for (const wchar_t* line = SkipGaps(text); *line;) {
        const wchar_t* end = SkipRawLine(line);
        if (*line == L'[') {
            keyStart = line;
            keyEnd = end;
        }
        line = SkipGaps(end);
    }
    return keyStart;
}

// Keeps the key line at 'keyStart' (when there is one) followed by a line break, and the
// units after 'cut' behind it.
void CarryKeyLine(TextBuffer& text, const wchar_t* keyStart, const wchar_t* keyEnd, size_t cut)
{
    if (keyStart) {
        size_t keyUnits = static_cast<size_t>(keyEnd - keyStart);
        wmemmove(text.units, keyStart, keyUnits);
        text.units[keyUnits] = L'\n';
        text.keyLength = keyUnits + 1;
    }
    wmemmove(text.units + text.keyLength, text.units + cut, text.length - cut);
    text.length = text.keyLength + (text.length - cut);
}

DWORD CombineResults(DWORD total, DWORD piece)
{
    if (total == ERROR_NOT_ENOUGH_MEMORY || piece == ERROR_SUCCESS)
        return total;
    return piece;
}

// Imports the text up to 'cut' (a line break, or the end) with the carried key line in
// front, then keeps what follows for the next piece.
[[nodiscard]] DWORD ImportCompleteLines(TextBuffer& text, size_t cut)
{
    text.units[text.length] = 0;
    wchar_t kept = text.units[cut];
    text.units[cut] = 0;
    DWORD result = ImportRegistryText(text.units, nullptr);
    const wchar_t* keyEnd = nullptr;
    const wchar_t* keyStart = FindLastKeyLine(text.units + text.keyLength, keyEnd);
    text.units[cut] = kept;
    CarryKeyLine(text, keyStart, keyEnd, cut);
    return result;
}

// One round: read, decode, drop the header and import the lines that are complete.
[[nodiscard]] DWORD ImportNextPiece(RegistryFileReader& reader, DWORD& result)
{
    DWORD status = FillBytes(reader);
    size_t newFrom = reader.text.length;
    if (status == ERROR_SUCCESS)
        status = DecodeBytes(reader);
    if (status != ERROR_SUCCESS)
        return status;
    DropSkippedUnits(reader);
    EndAtNul(reader, newFrom < reader.text.length ? newFrom : reader.text.length);
    size_t cut = reader.atEnd ? reader.text.length : FindSafeCut(reader.text);
    if (cut > reader.text.keyLength)
        result = CombineResults(result, ImportCompleteLines(reader.text, cut));
    return result == ERROR_NOT_ENOUGH_MEMORY ? result : ERROR_SUCCESS;
}

} // namespace

// Reads the file in pieces of REG_FILE_PIECE_BYTES and imports each run of complete lines
// as it arrives, so that memory does not grow with the file, only with its longest line.
DWORD ImportRegistryFile(const wchar_t* path, size_t headerUnits)
{
    HANDLE file = OpenFileForAccess(path, GENERIC_READ);
    if (!file)
        return RESULT_UNREADABLE;
    RegistryFileReader reader{file, false, CP_ACP, false, headerUnits,
                              {static_cast<unsigned char*>(malloc(REG_FILE_PIECE_BYTES)), 0, REG_FILE_PIECE_BYTES},
                              {nullptr, 0, 0, 0}};
    DWORD result = ERROR_SUCCESS;
    DWORD status = reader.raw.bytes ? FillBytes(reader) : ERROR_NOT_ENOUGH_MEMORY;
    if (status == ERROR_SUCCESS)
        DetectEncoding(reader);
    while (status == ERROR_SUCCESS && !(reader.atEnd && reader.raw.length == 0 && reader.text.length == reader.text.keyLength))
        status = ImportNextPiece(reader, result);
    free(reader.raw.bytes);
    free(reader.text.units);
    CloseHandle(file);
    return status == ERROR_SUCCESS ? result : status;
}
