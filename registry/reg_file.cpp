#include "registry/registry.h"
#include "base/buffer.h"
#include "base/outward_calls.h"
#include <cstring>
#include <cwchar>

namespace {

constexpr size_t SPARE_UNITS = 2;                   // the cut's NUL and the carried key line's break
// The bytes held for a line that does not end: doubled from REG_FILE_PIECE_BYTES as far as
// this, where MultiByteToWideChar, which counts in int, still takes them.
constexpr size_t LARGEST_BYTE_RUN = 0x40000000;

// Bytes read from the file and not yet decoded.
using ByteBuffer = Buffer<unsigned char, LARGEST_BYTE_RUN>;

// Decoded text not yet imported. It starts with the last key line imported so far and a
// line break ('keyLength' units), which reopens that key for the value lines that follow.
// The search for a place to cut goes on where the last one stopped ('scanFrom'): within
// the line that the text's end cut short ('inLine', read as far as 'scan' says), or in
// the gap before the next line; so a line longer than many pieces is read once, not once a piece.
struct TextBuffer {
    Buffer<wchar_t> units;
    size_t keyLength;
    size_t scanFrom;
    bool inLine;
    RegistryLineScan scan;
};

struct RegistryFileReader {
    HANDLE file;
    TextEncoding encoding;
    bool atEnd;
    size_t unitsToSkip;
    ByteBuffer raw;
    TextBuffer text;
    bool headerSeen;
    RegistryFormat format;
    ULONGLONG bytesRead;
};

// Reads until the byte buffer is full or the file ends (then 'atEnd' is set).
[[nodiscard]] DWORD FillBytes(RegistryFileReader& reader)
{
    ByteBuffer& raw = reader.raw;
    while (!reader.atEnd && raw.count < raw.capacity) {
        DWORD wanted = static_cast<DWORD>(raw.capacity - raw.count < MAXDWORD ? raw.capacity - raw.count : MAXDWORD);
        DWORD read = 0;
        if (!outwardCalls.readFile(reader.file, raw.items + raw.count, wanted, &read, nullptr))
            return RESULT_UNREADABLE;
        raw.count += read;
        reader.bytesRead += read;
        reader.atEnd = read == 0;
    }
    return ERROR_SUCCESS;
}

// Tells the encoding from the first bytes and drops the mark.
void DetectEncoding(RegistryFileReader& reader)
{
    ByteBuffer& raw = reader.raw;
    reader.encoding = DetectTextEncoding(raw.items, raw.count);
    raw.count -= reader.encoding.markBytes;
    memmove(raw.items, raw.items + reader.encoding.markBytes, raw.count);
}

// The bytes that decode to whole lines: UTF-16 up to an even count, 8-bit text through
// its last line break (neither byte occurs inside a multi-byte character); all at the end.
size_t DecodableBytes(const RegistryFileReader& reader)
{
    const ByteBuffer& raw = reader.raw;
    if (reader.atEnd)
        return raw.count;
    if (reader.encoding.isUtf16)
        return raw.count & ~static_cast<size_t>(1);
    for (size_t count = raw.count; count > 0; --count)
        if (raw.items[count - 1] == '\n' || raw.items[count - 1] == '\r')
            return count;
    return 0;
}

// Appends the decodable bytes to the text as UTF-16 and keeps the rest for the next read.
// An odd last byte of a UTF-16 file stands for itself, as ReadTextFile reads it.
[[nodiscard]] DWORD DecodeBytes(RegistryFileReader& reader)
{
    ByteBuffer& raw = reader.raw;
    TextBuffer& text = reader.text;
    size_t count = DecodableBytes(reader);
    if (count == 0)
        return raw.count == raw.capacity ? ReserveItems(raw, 1) : ERROR_SUCCESS;     // a line longer than the bytes held
    if (ReserveItems(text.units, count + SPARE_UNITS) != ERROR_SUCCESS)
        return ERROR_NOT_ENOUGH_MEMORY;
    text.units.count += DecodeTextBytes(reader.encoding, raw.items, count, text.units.items + text.units.count);
    raw.count -= count;
    memmove(raw.items, raw.items + count, raw.count);
    return ERROR_SUCCESS;
}

// The header among the units skipped tells the form: its first letter is the one after
// the blanks and marks, 'R' for REGEDIT4 and 'W' for the version 5 header.
void NoteHeader(RegistryFileReader& reader, const wchar_t* units, size_t count)
{
    for (size_t index = 0; index < count && !reader.headerSeen; ++index) {
        wchar_t unit = units[index];
        if (unit != L'\r' && unit != L'\n' && unit != L'\t' && unit != L' ' && unit < 127) {
            reader.headerSeen = true;
            reader.format = unit == L'R' ? RegistryFormat::Regedit4 : RegistryFormat::Version5;
        }
    }
}

// Drops the units before the registry text (blanks, marks, header) as they arrive.
void DropSkippedUnits(RegistryFileReader& reader)
{
    TextBuffer& text = reader.text;
    size_t pending = text.units.count - text.keyLength;
    size_t dropped = reader.unitsToSkip < pending ? reader.unitsToSkip : pending;
    if (!dropped)
        return;             // the text that waits for a line's end is not moved for nothing
    NoteHeader(reader, text.units.items + text.keyLength, dropped);
    wmemmove(text.units.items + text.keyLength, text.units.items + text.keyLength + dropped, pending - dropped);
    text.units.count -= dropped;
    reader.unitsToSkip -= dropped;
}

// A NUL ends the text, as it ends the whole text read at once.
void EndAtNul(RegistryFileReader& reader, size_t newFrom)
{
    TextBuffer& text = reader.text;
    if (const wchar_t* nul = wmemchr(text.units.items + newFrom, 0, text.units.count - newFrom)) {
        text.units.count = static_cast<size_t>(nul - text.units.items);
        reader.atEnd = true;
        reader.raw.count = 0;
    }
}

// Where the text can be cut without cutting a line: after the last line that ends
// before the text does (a line joined to the next by a backslash at its end goes on).
// The last key line before the cut is found on the way. 'cut' is 0 when there is none.
struct SafeCut {
    size_t cut;
    const wchar_t* keyStart;
    const wchar_t* keyEnd;
};

// Reads on from where the last search stopped. Every line it finds whole is imported
// before the next search, so what it keeps is only the start of the line that is not.
SafeCut FindSafeCut(TextBuffer& text)
{
    SafeCut found{0, nullptr, nullptr};
    for (;;) {
        if (!text.inLine) {
            text.scanFrom = static_cast<size_t>(SkipRegistryGaps(text.units.items + text.scanFrom) - text.units.items);
            if (!text.units.items[text.scanFrom])
                break;
            text.scan = StartRegistryLineScan(text.units.items + text.scanFrom);
            text.inLine = true;
        }
        const wchar_t* line = text.units.items + text.scanFrom;
        const wchar_t* end = ScanRegistryLine(line, text.scan);
        if (!*end)
            break;
        found.cut = static_cast<size_t>(end - text.units.items);
        if (*line == L'[') {
            found.keyStart = line;
            found.keyEnd = end;
        }
        text.scanFrom = found.cut;
        text.inLine = false;
    }
    return found;
}

// Keeps the key line at 'keyStart' (when there is one) followed by a line break, and the
// units after 'cut' behind it; the search for the next cut goes on where it stopped.
void CarryKeyLine(TextBuffer& text, const wchar_t* keyStart, const wchar_t* keyEnd, size_t cut)
{
    if (keyStart) {
        size_t keyUnits = static_cast<size_t>(keyEnd - keyStart);
        wmemmove(text.units.items, keyStart, keyUnits);
        text.units.items[keyUnits] = L'\n';
        text.keyLength = keyUnits + 1;
    }
    wmemmove(text.units.items + text.keyLength, text.units.items + cut, text.units.count - cut);
    text.units.count = text.keyLength + (text.units.count - cut);
    text.inLine = text.inLine && text.scanFrom >= cut;
    text.scanFrom = text.scanFrom >= cut ? text.keyLength + (text.scanFrom - cut) : text.keyLength;
}

// Imports the text up to 'cut' (a line break, or the end) with the carried key line in
// front, then keeps what follows for the next piece.
[[nodiscard]] DWORD ImportCompleteLines(TextBuffer& text, const SafeCut& safe, RegistryFormat format)
{
    wchar_t kept = text.units.items[safe.cut];
    text.units.items[safe.cut] = 0;
    DWORD result = ImportRegistryTextAs(format, text.units.items, nullptr);
    text.units.items[safe.cut] = kept;
    CarryKeyLine(text, safe.keyStart, safe.keyEnd, safe.cut);
    return result;
}

// One round: read, decode, drop the header and import the lines that are complete.
[[nodiscard]] DWORD ImportNextPiece(RegistryFileReader& reader, DWORD& result)
{
    DWORD status = FillBytes(reader);
    size_t newFrom = reader.text.units.count;
    if (status == ERROR_SUCCESS)
        status = DecodeBytes(reader);
    if (status != ERROR_SUCCESS)
        return status;
    DropSkippedUnits(reader);
    EndAtNul(reader, newFrom < reader.text.units.count ? newFrom : reader.text.units.count);
    TextBuffer& text = reader.text;
    if (text.units.count <= text.keyLength)
        return ERROR_SUCCESS;
    text.units.items[text.units.count] = 0;
    SafeCut safe = reader.atEnd ? SafeCut{text.units.count, nullptr, nullptr} : FindSafeCut(text);
    if (safe.cut <= text.keyLength)
        return ERROR_SUCCESS;
    DWORD piece = ImportCompleteLines(text, safe, reader.format);
    if (piece == ERROR_NOT_ENOUGH_MEMORY)
        return piece;
    if (result == ERROR_SUCCESS)        // the file's first problem is its result
        result = piece;
    return ERROR_SUCCESS;
}

} // namespace

// Reads the file in pieces of REG_FILE_PIECE_BYTES and imports each run of complete lines
// as it arrives, so that memory does not grow with the file, only with its longest line.
// After each piece the observer hears of the bytes read; its answer other than 0 ends the
// import with that result (Stop).
DWORD ImportRegistryFile(const wchar_t* path, size_t headerUnits)
{
    HANDLE file = OpenFileForAccess(path, GENERIC_READ);
    if (!file)
        return RESULT_UNREADABLE;
    RegistryFileReader reader{file, {}, false, headerUnits, {}, {}, false, RegistryFormat::Version5, 0};
    DWORD result = ERROR_SUCCESS;
    DWORD status = ReserveItems(reader.raw, REG_FILE_PIECE_BYTES);
    if (status == ERROR_SUCCESS)
        status = FillBytes(reader);
    if (status == ERROR_SUCCESS)
        DetectEncoding(reader);
    ULONGLONG reported = 0;
    while (status == ERROR_SUCCESS && !(reader.atEnd && reader.raw.count == 0 && reader.text.units.count == reader.text.keyLength)) {
        status = ImportNextPiece(reader, result);
        if (status == ERROR_SUCCESS)
            status = ReportProgress(reader.bytesRead - reported);      // the observer may stop the import here
        reported = reader.bytesRead;
    }
    ReleaseItems(reader.raw);
    ReleaseItems(reader.text.units);
    CloseHandle(file);
    return status == ERROR_SUCCESS ? result : status;
}
