#include "archive/archive.h"
#include "base/file_writer.h"
#include "base/outward_calls.h"
#include <zlib.h>
#include <cstring>
#include <cwchar>

namespace {

constexpr unsigned TAR_BLOCK = 512;
constexpr size_t NAME_LENGTH = 100;
constexpr size_t SIZE_OFFSET = 124;
constexpr size_t NUMBER_LENGTH = 12;        // the size field and the sparse map's numbers
constexpr size_t TYPE_OFFSET = 156;
constexpr size_t LINK_OFFSET = 157;
constexpr size_t LINK_LENGTH = 100;
constexpr size_t MAGIC_OFFSET = 257;
constexpr char USTAR_MAGIC[6] = {'u', 's', 't', 'a', 'r', 0};    // GNU's "ustar " headers have no prefix
constexpr size_t PREFIX_OFFSET = 345;
constexpr size_t PREFIX_LENGTH = 155;
constexpr size_t GNU_SPARSE_OFFSET = 386;
constexpr size_t GNU_SPARSE_SLOTS = 4;
constexpr size_t GNU_IS_EXTENDED_OFFSET = 482;
constexpr size_t GNU_REAL_SIZE_OFFSET = 483;
constexpr size_t EXTENSION_SLOTS = 21;
constexpr size_t EXTENSION_IS_EXTENDED_OFFSET = 504;
constexpr uint64_t LONG_NAME_LIMIT = TAR_BLOCK - 1;
// A name of more bytes has more than MAX_PATH_CHARS - 1 units in any code page.
constexpr size_t NAME_BYTES = 3 * MAX_PATH_CHARS;
constexpr size_t PAX_KEYWORD_CHARS = 24;
constexpr uint64_t LARGEST_NUMBER = 0x7FFFFFFFFFFFFFFFull;
// File data are read and written many blocks at a time; headers one block at a time.
constexpr unsigned DATA_CHUNK = 64 * 1024;
static_assert(DATA_CHUNK % TAR_BLOCK == 0);

// What the data blocks of the current entry are for.
enum class DataUse { Skip, File, SparseFile, SparseMap, PaxRecords };

struct SparseRegion {
    uint64_t offset;
    uint64_t size;
};

// A name from a long-name entry or a pax record, kept as bytes until its entry comes.
struct NameBytes {
    bool isSet;
    size_t length;
    char bytes[NAME_BYTES + 1];
};

// What long-name entries and pax headers say about the entry that follows them.
struct NextEntry {
    bool isAnnounced;           // an entry must follow
    bool isSkipped;             // a long name or record for it was unusable (and reported)
    NameBytes name;             // 'L', path=
    NameBytes link;             // 'K', linkpath=
    bool isLinkFromK;           // a 'K' text names the next entry too when that is no link
    bool hasSize;
    uint64_t size;
    bool hasSparseMajor;
    uint64_t sparseMajor;       // 1: the map heads the data (pax sparse 1.0)
    bool hasSparseRealSize;
    uint64_t sparseRealSize;
    bool hasSparseMapRecords;   // pax sparse 0.0 and 0.1: the map came in records
};

// A decimal number taken one byte at a time.
struct DecimalNumber {
    uint64_t value;
    bool hasDigits;
    bool isInvalid;
};

// Numbers of a sparse map arrive in turn: an offset, then its region's size.
struct MapPairing {
    bool hasOffset;
    uint64_t offset;
};

enum class PaxStep { Length, Keyword, Value, Broken };
enum class PaxKey { Other, Path, LinkPath, Size, SparseMajor, SparseRealSize, SparseOffset, SparseNumBytes, SparseMap };

struct PaxKeyword {
    const char* name;
    PaxKey key;
};

constexpr PaxKeyword PAX_KEYWORD_TABLE[] = {
    {"path", PaxKey::Path},
    {"linkpath", PaxKey::LinkPath},
    {"size", PaxKey::Size},
    {"GNU.sparse.name", PaxKey::Path},
    {"GNU.sparse.major", PaxKey::SparseMajor},
    {"GNU.sparse.realsize", PaxKey::SparseRealSize},      // 1.0
    {"GNU.sparse.size", PaxKey::SparseRealSize},          // 0.0 and 0.1
    {"GNU.sparse.offset", PaxKey::SparseOffset},          // 0.0: one record per number
    {"GNU.sparse.numbytes", PaxKey::SparseNumBytes},
    {"GNU.sparse.map", PaxKey::SparseMap},                // 0.1: "offset,size,offset,size..."
};

// Reading the records of a pax header ("<length> <keyword>=<value>\n") byte by byte as the
// blocks come, so that no record needs a buffer of its length.
struct PaxParser {
    PaxStep step;
    bool isGlobal;
    uint64_t length;
    uint64_t seen;              // bytes of the record so far
    char keyword[PAX_KEYWORD_CHARS];
    size_t keywordLength;
    bool isKeywordTooLong;
    PaxKey key;
    NameBytes* text;            // where a name value goes
    bool isTextTooLong;
    DecimalNumber number;
    MapPairing pairing;
};

// The map that heads the data of a pax sparse 1.0 entry: a count, then an offset and a
// size per region, each number on a line of its own.
struct MapLines {
    DecimalNumber number;
    bool hasCount;
    uint64_t numbersLeft;
    MapPairing pairing;
    bool isComplete;
};

struct TarExtraction {
    gzFile archive;
    const wchar_t* destination;
    DWORD result;               // the first problem met
    bool isStopped;
    bool isCut;                 // the archive ended inside an entry
    bool isHeaderForNext;       // the last header was a long name or pax header
    DataUse use;
    uint64_t bytesToCome;       // data of the current entry still to read
    NextEntry next;
    NameBytes globalName;       // path= and linkpath= of a pax global header
    NameBytes globalLink;
    PaxParser pax;
    MapLines map;
    uint64_t sparseRealSize;
    size_t regionCount;
    bool isRegionOverflow;
    size_t regionIndex;         // the region being written
    uint64_t regionDone;
    FileOutput output;          // output.handle is nullptr while no file is open
    WrittenFiles written;       // what this run wrote, by identity and by name
    wchar_t entryPath[MAX_PATH_CHARS];
    char headerName[NAME_BYTES + 1];
    char linkName[LINK_LENGTH + 1];
    unsigned char block[TAR_BLOCK];        // a long name, a sparse extension block
    unsigned char data[DATA_CHUNK];        // one header block, or a run of data blocks
    SparseRegion regions[TAR_SPARSE_REGION_LIMIT];
};

void Report(TarExtraction& tar, DWORD problem)
{
    if (tar.result == ERROR_SUCCESS)
        tar.result = problem;
}

// A long name or pax record that cannot be used: the entry it belongs to is skipped.
void SkipNextEntry(TarExtraction& tar, DWORD problem)
{
    Report(tar, problem);
    tar.next.isSkipped = true;
}

void StopAt(TarExtraction& tar, DWORD problem)
{
    Report(tar, problem);
    tar.isStopped = true;
}

void CutShort(TarExtraction& tar)
{
    StopAt(tar, TAR_TRUNCATED);
    tar.isCut = true;
}

void AddDigit(DecimalNumber& number, unsigned char byte)
{
    if (byte < '0' || byte > '9' || number.value > (LARGEST_NUMBER - 9) / 10)
        number.isInvalid = true;
    else
        number.value = number.value * 10 + (byte - '0');
    number.hasDigits = true;
}

bool IsGoodNumber(const DecimalNumber& number)
{
    return number.hasDigits && !number.isInvalid;
}

uint64_t ParseBase256(const unsigned char* field, size_t length)
{
    if ((field[0] & 0xC0) != 0x80)      // 0xC0 set: a negative number
        return TAR_INVALID_NUMBER;
    uint64_t value = field[0] & 0x3F;
    for (size_t i = 1; i < length; ++i) {
        if (value > (LARGEST_NUMBER >> 8))
            return TAR_INVALID_NUMBER;
        value = (value << 8) | field[i];
    }
    return value;
}

// --- names ---

size_t FieldLength(const unsigned char* field, size_t length)
{
    const void* end = memchr(field, 0, length);
    return end ? static_cast<size_t>(static_cast<const unsigned char*>(end) - field) : length;
}

void SetNameBytes(NameBytes& name, const char* bytes)
{
    name.length = strlen(bytes);
    memcpy(name.bytes, bytes, name.length + 1);
    name.isSet = name.length > 0;
}

// The name in the header block; a ustar header keeps the start of a long path in its
// prefix field: "prefix/name".
const char* HeaderName(TarExtraction& tar)
{
    size_t length = 0;
    if (memcmp(tar.data + MAGIC_OFFSET, USTAR_MAGIC, sizeof USTAR_MAGIC) == 0 && tar.data[PREFIX_OFFSET]) {
        length = FieldLength(tar.data + PREFIX_OFFSET, PREFIX_LENGTH);
        memcpy(tar.headerName, tar.data + PREFIX_OFFSET, length);
        tar.headerName[length++] = '/';
    }
    size_t nameLength = FieldLength(tar.data, NAME_LENGTH);
    memcpy(tar.headerName + length, tar.data, nameLength);
    tar.headerName[length + nameLength] = 0;
    return tar.headerName;
}

// The current entry's name: from 'L' or path=, else from a global path=, else the header.
// A 'K' text names the next entry as a long name does, unless that entry is a link.
const char* EntryName(TarExtraction& tar, bool isLink)
{
    if (tar.next.name.isSet)
        return tar.next.name.bytes;
    if (!isLink && tar.next.link.isSet && tar.next.isLinkFromK)
        return tar.next.link.bytes;
    if (tar.globalName.isSet)
        return tar.globalName.bytes;
    return HeaderName(tar);
}

const char* LinkTarget(TarExtraction& tar)
{
    if (tar.next.link.isSet)
        return tar.next.link.bytes;
    if (tar.globalLink.isSet)
        return tar.globalLink.bytes;
    size_t length = FieldLength(tar.data + LINK_OFFSET, LINK_LENGTH);
    memcpy(tar.linkName, tar.data + LINK_OFFSET, length);
    tar.linkName[length] = 0;
    return tar.linkName;
}

// A unit that Windows allows in no file name. A backslash in a tar name is part of the name,
// not a separator ("system-systemd\x2dcryptsetup.slice"), so it cannot be written as it is.
bool IsUnwritableUnit(wchar_t unit)
{
    return unit < L' ' || wcschr(L"\\<>\"|?*", unit) != nullptr;
}

// Removes the "." components of 'name' in place ("a\.\b" becomes "a\b"), so that names
// that differ only in them are one name, as they are one file on every system.
void DropCurrentFolderSteps(wchar_t* name)
{
    wchar_t* out = name;
    bool isFirst = true;
    for (const wchar_t* start = name;;) {
        const wchar_t* end = start;
        while (*end && *end != L'\\')
            ++end;
        size_t length = static_cast<size_t>(end - start);
        if (length != 1 || *start != L'.') {
            if (!isFirst)
                *out++ = L'\\';
            memmove(out, start, length * sizeof(wchar_t));
            out += length;
            isFirst = false;
        }
        if (!*end)
            break;
        start = end + 1;
    }
    *out = 0;
}

// Converts a name to UTF-16, "/" becoming "\" and "." components dropped: as UTF-8 when the
// bytes are valid UTF-8, as current tar programs write names, otherwise in the ANSI code
// page of older archives. A name with a unit Windows does not allow gives ERROR_INVALID_NAME.
DWORD DecodeName(const char* bytes, wchar_t (&name)[MAX_PATH_CHARS])
{
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, -1, name, MAX_PATH_CHARS);
    if (units == 0 && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        units = MultiByteToWideChar(CP_ACP, 0, bytes, -1, name, MAX_PATH_CHARS);
    if (units == 0) {
        name[0] = 0;
        return ERROR_FILENAME_EXCED_RANGE;
    }
    for (wchar_t* p = name; *p; ++p) {
        if (IsUnwritableUnit(*p))
            return ERROR_INVALID_NAME;
        if (*p == L'/')
            *p = L'\\';
    }
    DropCurrentFolderSteps(name);
    return ERROR_SUCCESS;
}

// The output path of a name; a name that cannot be used is reported.
bool MakeEntryPath(TarExtraction& tar, const char* bytes, bool isFolder, wchar_t (&path)[MAX_PATH_CHARS])
{
    wchar_t name[MAX_PATH_CHARS];
    DWORD result = DecodeName(bytes, name);
    if (result == ERROR_SUCCESS)
        result = BuildEntryPath(path, tar.destination, name, isFolder);
    if (result != ERROR_SUCCESS)
        Report(tar, result);
    return result == ERROR_SUCCESS;
}

bool EndsWithSlash(const char* name)
{
    size_t length = strlen(name);
    return length > 0 && name[length - 1] == '/';
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

constexpr const wchar_t* DEVICE_NAMES[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
constexpr const wchar_t* NUMBERED_DEVICE_NAMES[] = {L"COM", L"LPT"};

bool IsDeviceNumber(wchar_t unit)
{
    return (unit >= L'1' && unit <= L'9') || unit == L'\x00B9' || unit == L'\x00B2' || unit == L'\x00B3';
}

// A component that Windows opens as a device in any folder ("CON", "nul.txt", "COM1 ", "CONIN$"):
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
    for (const wchar_t* device : DEVICE_NAMES)
        if (length == wcslen(device) && _wcsnicmp(start, device, length) == 0)
            return true;
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

// --- output ---

// What the writer met while this run wrote (a name reaching a file of the run written
// under another name, memory for the record) is reported in its turn.
void TakeNotice(TarExtraction& tar)
{
    DWORD notice = TakeWrittenNotice(tar.written);
    if (notice != ERROR_SUCCESS)
        Report(tar, notice);
}

// A result of the writer: the observer's Stop ends the extraction, anything else is
// reported and the extraction goes on.
void TakeWriterResult(TarExtraction& tar, DWORD result)
{
    TakeNotice(tar);
    if (result == ERROR_CANCELLED)
        StopAt(tar, result);
    else if (result != ERROR_SUCCESS)
        Report(tar, result);
}

// Opens tar.entryPath for the current entry's data: a new file directly, an existing one
// (never a read-only one) through a replacement. A new file cut short stays as it came.
bool OpenOutput(TarExtraction& tar)
{
    FileOutputRules rules{.written = &tar.written};
    DWORD result = OpenFileOutput(tar.output, tar.entryPath, rules);
    TakeWriterResult(tar, result);
    return result == ERROR_SUCCESS && tar.output.handle;
}

// Closes the output: with 'outcome' 0 the file is complete and a replacement takes the old
// file's place; otherwise the old file stays as it was.
void CloseOutput(TarExtraction& tar, DWORD outcome)
{
    if (!tar.output.handle)
        return;
    DWORD result = FinishFileOutput(tar.output, outcome);
    TakeWriterResult(tar, outcome == ERROR_SUCCESS ? result : ERROR_SUCCESS);
}

// A failed write is reported and ends the writing of that file; its data are still read.
void WriteOutput(TarExtraction& tar, const unsigned char* bytes, DWORD count)
{
    DWORD result = WriteFileOutput(tar.output, bytes, count);
    if (result == ERROR_SUCCESS)
        return;
    TakeWriterResult(tar, result);
    CloseOutput(tar, result);
}

bool SeekOutput(TarExtraction& tar, uint64_t offset)
{
    DWORD result = SeekFileOutput(tar.output, offset);
    if (result == ERROR_SUCCESS)
        return true;
    Report(tar, result);
    CloseOutput(tar, result);
    return false;
}

// --- sparse files ---

void ClearSparseMap(TarExtraction& tar)
{
    tar.regionCount = 0;
    tar.isRegionOverflow = false;
    tar.regionIndex = 0;
    tar.regionDone = 0;
}

// The map is held in a fixed table; a longer one is reported and its file skipped.
void AddRegion(TarExtraction& tar, uint64_t offset, uint64_t size)
{
    if (tar.regionCount == TAR_SPARSE_REGION_LIMIT)
        tar.isRegionOverflow = true;
    else
        tar.regions[tar.regionCount++] = {offset, size};
}

void TakeMapNumber(TarExtraction& tar, MapPairing& pairing, uint64_t value)
{
    if (!pairing.hasOffset) {
        pairing = {true, value};
        return;
    }
    AddRegion(tar, pairing.offset, value);
    pairing.hasOffset = false;
}

// Whether the map places exactly 'dataSize' bytes, all of them within the real size.
bool IsSparseMapSound(const TarExtraction& tar, uint64_t dataSize)
{
    uint64_t total = 0;
    for (size_t i = 0; i < tar.regionCount; ++i) {
        const SparseRegion& region = tar.regions[i];
        if (region.offset > tar.sparseRealSize || region.size > tar.sparseRealSize - region.offset ||
            region.size > dataSize - total)
            return false;
        total += region.size;
    }
    return total == dataSize;
}

// Starts writing a sparse entry's 'dataSize' bytes of data, region by region.
void StartSparseData(TarExtraction& tar, uint64_t dataSize)
{
    tar.use = DataUse::Skip;
    if (tar.isRegionOverflow)
        Report(tar, TAR_SPARSE_MAP_TOO_LARGE);
    else if (!IsSparseMapSound(tar, dataSize))
        Report(tar, TAR_DAMAGED_HEADER);
    else if (OpenOutput(tar))
        tar.use = DataUse::SparseFile;
}

void WriteSparseData(TarExtraction& tar, const unsigned char* bytes, DWORD count)
{
    while (count && tar.output.handle && tar.regionIndex < tar.regionCount) {
        const SparseRegion& region = tar.regions[tar.regionIndex];
        uint64_t left = region.size - tar.regionDone;
        if (left == 0) {
            ++tar.regionIndex;
            tar.regionDone = 0;
            continue;
        }
        if (tar.regionDone == 0 && !SeekOutput(tar, region.offset))
            return;
        DWORD part = left < count ? static_cast<DWORD>(left) : count;
        WriteOutput(tar, bytes, part);
        tar.regionDone += part;
        bytes += part;
        count -= part;
    }
}

// A sparse file ends at its real size, which a hole at its end leaves to be set.
void SetSparseFileSize(TarExtraction& tar)
{
    if (!tar.output.handle || !SeekOutput(tar, tar.sparseRealSize))
        return;
    DWORD result = EndFileOutputHere(tar.output);
    if (result != ERROR_SUCCESS) {
        Report(tar, result);
        CloseOutput(tar, result);
    }
}

// Adds the (offset, size) slots of a GNU sparse header or extension block to the map; an
// empty slot ends them. False for a slot that is no number.
bool AddGnuSparseSlots(TarExtraction& tar, const unsigned char* slots, size_t count)
{
    for (size_t i = 0; i < count && slots[0]; ++i, slots += 2 * NUMBER_LENGTH) {
        uint64_t offset = ParseNumberField(slots, NUMBER_LENGTH);
        uint64_t size = ParseNumberField(slots + NUMBER_LENGTH, NUMBER_LENGTH);
        if (offset == TAR_INVALID_NUMBER || size == TAR_INVALID_NUMBER)
            return false;
        AddRegion(tar, offset, size);
    }
    return true;
}

void DropMapLines(TarExtraction& tar, DWORD problem)
{
    Report(tar, problem);
    tar.use = DataUse::Skip;
}

void TakeMapLine(TarExtraction& tar, uint64_t value)
{
    MapLines& map = tar.map;
    if (map.hasCount) {
        TakeMapNumber(tar, map.pairing, value);
        --map.numbersLeft;
    } else if (value > TAR_SPARSE_REGION_LIMIT) {
        DropMapLines(tar, TAR_SPARSE_MAP_TOO_LARGE);
    } else {
        map.hasCount = true;
        map.numbersLeft = 2 * value;
    }
    map.isComplete = map.hasCount && map.numbersLeft == 0;
}

// Reads a block of the map that heads a pax sparse 1.0 entry's data. The rest of the block
// in which the map ends is padding.
void ReadMapLines(TarExtraction& tar, const unsigned char* bytes, DWORD count)
{
    MapLines& map = tar.map;
    for (DWORD i = 0; i < count && !map.isComplete && tar.use == DataUse::SparseMap; ++i) {
        if (bytes[i] != '\n') {
            AddDigit(map.number, bytes[i]);
            if (map.number.isInvalid)
                DropMapLines(tar, TAR_DAMAGED_HEADER);
        } else if (!map.number.hasDigits) {
            DropMapLines(tar, TAR_DAMAGED_HEADER);
        } else {
            TakeMapLine(tar, map.number.value);
            map.number = {};
        }
    }
}

// --- pax records ---

PaxKey FindPaxKey(const PaxParser& pax)
{
    if (pax.isKeywordTooLong)
        return PaxKey::Other;
    for (const auto& row : PAX_KEYWORD_TABLE)
        if (strcmp(row.name, pax.keyword) == 0)
            return !pax.isGlobal || row.key == PaxKey::Path || row.key == PaxKey::LinkPath ? row.key : PaxKey::Other;
    return PaxKey::Other;
}

void BreakPaxRecords(TarExtraction& tar)
{
    tar.pax.step = PaxStep::Broken;
    SkipNextEntry(tar, TAR_DAMAGED_HEADER);
}

void StartPaxValue(TarExtraction& tar)
{
    PaxParser& pax = tar.pax;
    pax.keyword[pax.keywordLength] = 0;
    pax.key = FindPaxKey(pax);
    pax.number = {};
    pax.text = nullptr;
    if (pax.key == PaxKey::Path)
        pax.text = pax.isGlobal ? &tar.globalName : &tar.next.name;
    if (pax.key == PaxKey::LinkPath)
        pax.text = pax.isGlobal ? &tar.globalLink : &tar.next.link;
    if (pax.text)
        *pax.text = {};
    pax.isTextTooLong = false;
    pax.step = PaxStep::Value;
}

void AddPaxValueByte(TarExtraction& tar, unsigned char byte)
{
    PaxParser& pax = tar.pax;
    if (pax.text) {
        if (pax.text->length < NAME_BYTES)
            pax.text->bytes[pax.text->length++] = static_cast<char>(byte);
        else
            pax.isTextTooLong = true;
    } else if (pax.key == PaxKey::SparseMap && byte == ',') {
        if (!IsGoodNumber(pax.number))
            BreakPaxRecords(tar);
        else
            TakeMapNumber(tar, pax.pairing, pax.number.value);
        pax.number = {};
    } else if (pax.key != PaxKey::Other) {
        AddDigit(pax.number, byte);
    }
}

void FinishPaxText(TarExtraction& tar)
{
    PaxParser& pax = tar.pax;
    pax.text->bytes[pax.text->length] = 0;
    pax.text->isSet = pax.text->length > 0;      // an empty value takes the name back
    if (pax.isTextTooLong)
        SkipNextEntry(tar, ERROR_FILENAME_EXCED_RANGE);
    if (pax.key == PaxKey::LinkPath && !pax.isGlobal)
        tar.next.isLinkFromK = false;
}

void FinishPaxNumber(TarExtraction& tar)
{
    PaxParser& pax = tar.pax;
    NextEntry& next = tar.next;
    if (pax.key == PaxKey::Size) {
        next.hasSize = pax.number.hasDigits;      // an invalid size stops at the entry
        next.size = IsGoodNumber(pax.number) ? pax.number.value : TAR_INVALID_NUMBER;
        return;
    }
    bool isPairMissing = pax.key == PaxKey::SparseOffset ? pax.pairing.hasOffset
                                                          : pax.key == PaxKey::SparseNumBytes && !pax.pairing.hasOffset;
    if (!IsGoodNumber(pax.number) || isPairMissing) {
        SkipNextEntry(tar, TAR_DAMAGED_HEADER);
        return;
    }
    uint64_t value = pax.number.value;
    if (pax.key == PaxKey::SparseMajor) {
        next.hasSparseMajor = true;
        next.sparseMajor = value;
    } else if (pax.key == PaxKey::SparseRealSize) {
        next.hasSparseRealSize = true;
        next.sparseRealSize = value;
    } else {
        TakeMapNumber(tar, pax.pairing, value);
        next.hasSparseMapRecords = true;
        if (pax.key == PaxKey::SparseMap && pax.pairing.hasOffset)     // an odd count of numbers
            SkipNextEntry(tar, TAR_DAMAGED_HEADER);
    }
}

void FinishPaxRecord(TarExtraction& tar)
{
    PaxParser& pax = tar.pax;
    if (pax.text)
        FinishPaxText(tar);
    else if (pax.key != PaxKey::Other)
        FinishPaxNumber(tar);
    pax.step = PaxStep::Length;
    pax.seen = 0;
    pax.number = {};
}

void ReadPaxLengthByte(TarExtraction& tar, unsigned char byte)
{
    PaxParser& pax = tar.pax;
    if (byte != ' ') {
        AddDigit(pax.number, byte);
        if (pax.number.isInvalid)
            BreakPaxRecords(tar);
    } else if (IsGoodNumber(pax.number) && pax.number.value > pax.seen + 1) {
        pax.length = pax.number.value;
        pax.keywordLength = 0;
        pax.isKeywordTooLong = false;
        pax.step = PaxStep::Keyword;
    } else {
        BreakPaxRecords(tar);
    }
}

void ReadPaxKeywordByte(TarExtraction& tar, unsigned char byte)
{
    PaxParser& pax = tar.pax;
    if (pax.seen >= pax.length)
        BreakPaxRecords(tar);
    else if (byte == '=')
        StartPaxValue(tar);
    else if (pax.keywordLength + 1 < PAX_KEYWORD_CHARS)
        pax.keyword[pax.keywordLength++] = static_cast<char>(byte);
    else
        pax.isKeywordTooLong = true;
}

void ReadPaxValueByte(TarExtraction& tar, unsigned char byte)
{
    if (tar.pax.seen < tar.pax.length)
        AddPaxValueByte(tar, byte);
    else if (byte == '\n')
        FinishPaxRecord(tar);
    else
        BreakPaxRecords(tar);
}

void ReadPaxRecords(TarExtraction& tar, const unsigned char* bytes, DWORD count)
{
    for (DWORD i = 0; i < count && tar.pax.step != PaxStep::Broken; ++i) {
        ++tar.pax.seen;
        if (tar.pax.step == PaxStep::Length)
            ReadPaxLengthByte(tar, bytes[i]);
        else if (tar.pax.step == PaxStep::Keyword)
            ReadPaxKeywordByte(tar, bytes[i]);
        else
            ReadPaxValueByte(tar, bytes[i]);
    }
}

// The records must end with the data, and an offset must have its region's size.
void FinishPaxRecords(TarExtraction& tar)
{
    const PaxParser& pax = tar.pax;
    bool isComplete = pax.step == PaxStep::Length && pax.seen == 0 && !pax.pairing.hasOffset;
    if (pax.step != PaxStep::Broken && !isComplete)
        BreakPaxRecords(tar);
}

// --- entries ---

uint64_t HeaderSize(const TarExtraction& tar)
{
    return ParseNumberField(tar.data + SIZE_OFFSET, NUMBER_LENGTH);
}

uint64_t EntrySize(const TarExtraction& tar)
{
    return tar.next.hasSize ? tar.next.size : HeaderSize(tar);
}

// Sets the entry's data to be read past until a handler finds a use for them. False, and
// extraction stops, for a size that is no number: the next header cannot be found.
bool TakeEntrySize(TarExtraction& tar, uint64_t size)
{
    if (size == TAR_INVALID_NUMBER) {
        StopAt(tar, TAR_INVALID_SIZE);
        return false;
    }
    tar.use = DataUse::Skip;
    tar.bytesToCome = size;
    return true;
}

DWORD CreateFolderEntry(TarExtraction& tar)
{
    wchar_t path[MAX_PATH_CHARS];
    if (tar.next.isSkipped || !MakeEntryPath(tar, EntryName(tar, false), true, path))
        return ERROR_SUCCESS;
    TakeWriterResult(tar, CreateFolderAndParents(path));
    return ERROR_SUCCESS;
}

// A regular file entry that pax records mark sparse: its map came in the records (0.0,
// 0.1) or heads its data (1.0).
void StartPaxSparseFile(TarExtraction& tar, uint64_t size)
{
    const NextEntry& next = tar.next;
    bool isMapInData = next.hasSparseMajor && next.sparseMajor == 1;
    bool isMapInRecords = next.hasSparseMapRecords && (!next.hasSparseMajor || next.sparseMajor == 0);
    if (!next.hasSparseRealSize || !(isMapInData || isMapInRecords)) {
        Report(tar, TAR_DAMAGED_HEADER);
        return;
    }
    tar.sparseRealSize = next.sparseRealSize;
    if (isMapInRecords) {
        StartSparseData(tar, size);
        return;
    }
    ClearSparseMap(tar);
    tar.map = {};
    tar.use = DataUse::SparseMap;
}

// A regular file. A name ending in "/" is a folder, as old tar programs marked folders.
DWORD StartFileEntry(TarExtraction& tar)
{
    uint64_t size = EntrySize(tar);
    if (!TakeEntrySize(tar, size) || tar.next.isSkipped)
        return ERROR_SUCCESS;
    const char* name = EntryName(tar, false);
    if (EndsWithSlash(name))
        return CreateFolderEntry(tar);
    if (!MakeEntryPath(tar, name, false, tar.entryPath))
        return ERROR_SUCCESS;
    if (tar.next.hasSparseMajor || tar.next.hasSparseMapRecords)
        StartPaxSparseFile(tar, size);
    else if (OpenOutput(tar))
        tar.use = DataUse::File;
    return ERROR_SUCCESS;
}

// A GNU sparse file: four map slots in the header, more in extension blocks that follow it
// and that its size does not count.
DWORD StartGnuSparseEntry(TarExtraction& tar)
{
    uint64_t size = EntrySize(tar);
    ClearSparseMap(tar);
    bool isSound = AddGnuSparseSlots(tar, tar.data + GNU_SPARSE_OFFSET, GNU_SPARSE_SLOTS);
    tar.sparseRealSize = ParseNumberField(tar.data + GNU_REAL_SIZE_OFFSET, NUMBER_LENGTH);
    for (bool isExtended = tar.data[GNU_IS_EXTENDED_OFFSET] != 0; isExtended;) {
        int count = gzread(tar.archive, tar.block, TAR_BLOCK);
        if (count < 0)
            return TAR_READ_FAILED;
        if (count != static_cast<int>(TAR_BLOCK)) {
            CutShort(tar);
            return ERROR_SUCCESS;
        }
        isSound = AddGnuSparseSlots(tar, tar.block, EXTENSION_SLOTS) && isSound;
        isExtended = tar.block[EXTENSION_IS_EXTENDED_OFFSET] != 0;
    }
    if (!TakeEntrySize(tar, size) || tar.next.isSkipped)
        return ERROR_SUCCESS;
    if (!isSound || tar.sparseRealSize == TAR_INVALID_NUMBER)
        Report(tar, TAR_DAMAGED_HEADER);
    else if (MakeEntryPath(tar, EntryName(tar, false), false, tar.entryPath))
        StartSparseData(tar, size);
    return ERROR_SUCCESS;
}

// A hard link to a file this run extracted (its name checked like any entry name), whatever
// name the link gives it: the target is found by its identity.
DWORD CreateHardLinkEntry(TarExtraction& tar)
{
    if (!TakeEntrySize(tar, EntrySize(tar)) || tar.next.isSkipped)
        return ERROR_SUCCESS;
    wchar_t link[MAX_PATH_CHARS];
    wchar_t target[MAX_PATH_CHARS];
    if (!MakeEntryPath(tar, EntryName(tar, true), false, link) || !MakeEntryPath(tar, LinkTarget(tar), false, target))
        return ERROR_SUCCESS;
    FileIdentity targetIdentity;
    if (!IdentityOfPath(target, targetIdentity) || !IsWrittenFile(tar.written, targetIdentity)) {
        Report(tar, TAR_LINK_TARGET_MISSING);
        return ERROR_SUCCESS;
    }
    TakeWriterResult(tar, LinkToFile(target, targetIdentity, link, &tar.written));
    return ERROR_SUCCESS;
}

// Symbolic links are not created: that needs a privilege, and their targets may lie
// outside the destination.
DWORD ReportSymbolicLink(TarExtraction& tar)
{
    if (TakeEntrySize(tar, EntrySize(tar)) && !tar.next.isSkipped)
        Report(tar, TAR_SYMBOLIC_LINK);
    return ERROR_SUCCESS;
}

// A folder of a GNU incremental archive: its data, the list of what the folder held, are
// read past.
DWORD CreateDumpDirEntry(TarExtraction& tar)
{
    if (!TakeEntrySize(tar, EntrySize(tar)))
        return ERROR_SUCCESS;
    return CreateFolderEntry(tar);
}

// Devices, pipes and the like: nothing is extracted; their data are read past.
DWORD SkipIgnoredEntry(TarExtraction& tar)
{
    (void)TakeEntrySize(tar, EntrySize(tar));
    return ERROR_SUCCESS;
}

// Reads the name block of a long-name entry ('L' names the next entry, 'K' the target of
// the next link); the name applies to the entry that follows. Names over 511 bytes and
// damaged name blocks make that entry skipped.
DWORD ReadLongNameEntry(TarExtraction& tar)
{
    tar.next.isAnnounced = true;
    uint64_t size = HeaderSize(tar);
    if (!TakeEntrySize(tar, size))
        return ERROR_SUCCESS;
    if (size > LONG_NAME_LIMIT) {
        SkipNextEntry(tar, ERROR_FILENAME_EXCED_RANGE);
        return ERROR_SUCCESS;
    }
    tar.bytesToCome = 0;            // the one name block is read here, even for size 0
    int count = gzread(tar.archive, tar.block, TAR_BLOCK);
    if (count < 0)
        return TAR_LONG_NAME_READ_FAILED;
    if (count != static_cast<int>(TAR_BLOCK)) {
        CutShort(tar);
        return ERROR_SUCCESS;
    }
    const char* name = reinterpret_cast<const char*>(tar.block);
    if (tar.block[LONG_NAME_LIMIT] != 0 || strlen(name) > size) {
        SkipNextEntry(tar, TAR_DAMAGED_HEADER);
        return ERROR_SUCCESS;
    }
    bool isLinkName = tar.data[TYPE_OFFSET] == 'K';
    SetNameBytes(isLinkName ? tar.next.link : tar.next.name, name);
    if (isLinkName)
        tar.next.isLinkFromK = true;
    return ERROR_SUCCESS;
}

// A pax header: 'x' for the next entry, 'g' for every later one (its path= and linkpath=).
DWORD StartPaxHeader(TarExtraction& tar)
{
    bool isGlobal = tar.data[TYPE_OFFSET] == 'g';
    if (!isGlobal)
        tar.next.isAnnounced = true;
    if (!TakeEntrySize(tar, HeaderSize(tar)))
        return ERROR_SUCCESS;
    if (isGlobal)
        tar.globalName.isSet = tar.globalLink.isSet = false;
    tar.pax = {};
    tar.pax.isGlobal = isGlobal;
    tar.use = DataUse::PaxRecords;
    return ERROR_SUCCESS;
}

using EntryHandler = DWORD (*)(TarExtraction& tar);

struct EntryType {
    unsigned char flag;
    EntryHandler handler;
    bool isForNextEntry;    // says something about the entry that follows
};

constexpr EntryType ENTRY_TYPE_TABLE[] = {
    {'0', StartFileEntry, false},      {'\0', StartFileEntry, false},       {'7', StartFileEntry, false},  // contiguous
    {'5', CreateFolderEntry, false},   {'D', CreateDumpDirEntry, false},    {'1', CreateHardLinkEntry, false},
    {'2', ReportSymbolicLink, false},  {'S', StartGnuSparseEntry, false},   {'L', ReadLongNameEntry, true},
    {'K', ReadLongNameEntry, true},    {'x', StartPaxHeader, true},         {'g', StartPaxHeader, true},
};
constexpr EntryType IGNORED_ENTRY_TYPE = {0, SkipIgnoredEntry, false};

const EntryType& FindEntryType(unsigned char flag)
{
    for (const auto& row : ENTRY_TYPE_TABLE)
        if (row.flag == flag)
            return row;
    return IGNORED_ENTRY_TYPE;
}

// Reads one header block and acts on its entry. A short block ends the extraction as
// truncated; the zero block that marks the end of the archive, or the end of the data,
// ends it normally unless a long name or pax header still waits for its entry.
DWORD ReadHeaderBlock(TarExtraction& tar)
{
    int count = gzread(tar.archive, tar.data, TAR_BLOCK);
    if (count < 0)
        return TAR_READ_FAILED;
    if (count > 0 && count != static_cast<int>(TAR_BLOCK)) {
        CutShort(tar);
        return ERROR_SUCCESS;
    }
    if (count == 0 || tar.data[0] == 0) {
        if (tar.next.isAnnounced)
            Report(tar, TAR_TRUNCATED);
        tar.isStopped = true;
        return ERROR_SUCCESS;
    }
    const EntryType& type = FindEntryType(tar.data[TYPE_OFFSET]);
    tar.isHeaderForNext = type.isForNextEntry;
    DWORD result = type.handler(tar);
    if (!type.isForNextEntry)
        tar.next = {};
    return result;
}

unsigned ChunkFor(uint64_t bytesToCome)
{
    if (bytesToCome >= DATA_CHUNK)
        return DATA_CHUNK;
    return static_cast<unsigned>((bytesToCome + TAR_BLOCK - 1) / TAR_BLOCK * TAR_BLOCK);
}

// Data that nobody writes (a skipped entry's) gives the observer its chance to stop the
// extraction all the same, as each written chunk does.
void SkipData(TarExtraction& tar)
{
    DWORD answer = ReportProgress(0);
    if (answer != ERROR_SUCCESS)
        StopAt(tar, answer);
}

void UseData(TarExtraction& tar, DWORD bytes)
{
    switch (tar.use) {
    case DataUse::File: WriteOutput(tar, tar.data, bytes); break;
    case DataUse::SparseFile: WriteSparseData(tar, tar.data, bytes); break;
    case DataUse::SparseMap: ReadMapLines(tar, tar.data, bytes); break;
    case DataUse::PaxRecords: ReadPaxRecords(tar, tar.data, bytes); break;
    case DataUse::Skip: SkipData(tar); break;
    }
}

// Reads the data blocks still to come, up to one chunk (one block while a sparse map is
// read), and uses their data part, not the padding. Of a short read only whole blocks
// count, and extraction stops after them as truncated.
DWORD ReadEntryData(TarExtraction& tar)
{
    unsigned wanted = tar.use == DataUse::SparseMap ? TAR_BLOCK : ChunkFor(tar.bytesToCome);
    int count = gzread(tar.archive, tar.data, wanted);
    if (count < 0)
        return TAR_READ_FAILED;
    unsigned received = static_cast<unsigned>(count);
    if (received != wanted)
        CutShort(tar);
    unsigned whole = received - received % TAR_BLOCK;
    DWORD bytes = whole < tar.bytesToCome ? whole : static_cast<DWORD>(tar.bytesToCome);
    UseData(tar, bytes);
    tar.bytesToCome = tar.isCut ? 0 : tar.bytesToCome - bytes;
    if (tar.use == DataUse::SparseMap && tar.map.isComplete)
        StartSparseData(tar, tar.bytesToCome);
    return ERROR_SUCCESS;
}

// Ends the current entry once its data are read, or the archive ended inside them.
void FinishEntry(TarExtraction& tar)
{
    if (!tar.isCut && tar.use == DataUse::PaxRecords)
        FinishPaxRecords(tar);
    if (!tar.isCut && tar.use == DataUse::SparseMap)
        Report(tar, TAR_DAMAGED_HEADER);
    if (!tar.isCut && tar.use == DataUse::SparseFile)
        SetSparseFileSize(tar);
    CloseOutput(tar, tar.isCut ? TAR_TRUNCATED : ERROR_SUCCESS);
    if (!tar.isHeaderForNext)
        ClearSparseMap(tar);
    tar.use = DataUse::Skip;
}

DWORD RunExtraction(TarExtraction& tar)
{
    while (!tar.isStopped) {
        DWORD failure = tar.bytesToCome ? ReadEntryData(tar) : ReadHeaderBlock(tar);
        if (failure != ERROR_SUCCESS) {
            Report(tar, failure);
            break;
        }
        if (tar.bytesToCome == 0)
            FinishEntry(tar);
    }
    CloseOutput(tar, tar.result != ERROR_SUCCESS ? tar.result : TAR_TRUNCATED);
    return tar.result;
}

} // namespace

// Reads a tar number field. Octal: a zero byte ends it, spaces are skipped wherever they
// stand, digits 0-7 accumulate. Base-256 (first byte 0x80, as tar programs write sizes of
// 8 GiB and more): the bytes big-endian. Any other byte, a negative base-256 number or one
// of 2^63 or more gives TAR_INVALID_NUMBER.
uint64_t ParseNumberField(const unsigned char* field, size_t length)
{
    if (field[0] & 0x80)
        return ParseBase256(field, length);
    uint64_t value = 0;
    for (size_t i = 0; i < length && field[i]; ++i) {
        if (field[i] == ' ')
            continue;
        if (field[i] < '0' || field[i] > '7' || value > (LARGEST_NUMBER >> 3))
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

// Extracts the files, folders and hard links of a tar or tar-gzip archive under
// 'destination', streaming through zlib; memory grows only with the number of files
// written. The result is the first problem met (0: none); see archive.h and docs/archive.md.
DWORD ExtractTarGz(const wchar_t* archive, const wchar_t* destination)
{
    gzFile file = archive ? gzopen_w(archive, "rb") : nullptr;
    if (!file)
        return TAR_CANNOT_OPEN;
    gzbuffer(file, TAR_GZIP_BUFFER_BYTES);
    auto* tar = static_cast<TarExtraction*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(TarExtraction)));
    DWORD result = ERROR_NOT_ENOUGH_MEMORY;
    if (tar) {
        tar->archive = file;
        tar->destination = destination;
        result = RunExtraction(*tar);
        ReleaseWrittenFiles(tar->written);
        HeapFree(GetProcessHeap(), 0, tar);
    }
    gzclose(file);
    return result;
}
