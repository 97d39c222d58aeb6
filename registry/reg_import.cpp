#include "registry/registry.h"
#include "base/buffer.h"
#include <climits>
#include <cstdlib>
#include <cwchar>

namespace {

constexpr wchar_t QUOTE_MARKER = 1;         // a double quote that was not escaped
constexpr DWORD REG_MUI_SZ = 21;
constexpr size_t FIRST_LINE_CAPACITY = 256;

// The current line with escapes resolved, in a buffer that grows with it: a line joined
// from continuation lines has no length limit but memory.
using CookedLine = Buffer<wchar_t>;

struct ImportState {
    CookedLine line;
    HKEY currentRoot;       // nullptr while no key is current
    CookedLine currentPath; // the current key below its root, as the registry writer names it
    HKEY currentKey;        // that key, open; nullptr when the writer's observer made it
    bool keyFailed;         // the last key line named a key the registry would not open
    RegistryFormat format;
};

enum class LineKind { Blank, Key, Value, Comment, Foreign, UnderFailedKey };

bool IsLineBreak(wchar_t unit)
{
    return unit == L'\r' || unit == L'\n';
}

const wchar_t* SkipToLineBreak(const wchar_t* text)
{
    while (*text && !IsLineBreak(*text))
        ++text;
    return text;
}

// Appends 'count' units and leaves room for a terminator behind them.
[[nodiscard]] bool AppendCooked(CookedLine& line, const wchar_t* units, size_t count)
{
    if (ReserveItems(line, count + 1) != ERROR_SUCCESS)
        return false;
    wmemcpy(line.items + line.count, units, count);
    line.count += count;
    return true;
}

// How a line is read: a key or comment line as it stands; any other line keeps track of
// its quotes, since outside them a ';' starts a comment that runs to the line break.
using LineReader = RegistryLineScan;

// One unit of a registry line as the importer reads it, and where the raw text goes on.
struct LineUnit {
    wchar_t unit;           // 0 at the line's end
    bool escaped;           // taken literally after a backslash
    const wchar_t* next;    // after the unit; at the line's end, the line break or the text's end
};

// True when 'raw' starts a value line: "@", or a quoted name closed on its own line,
// followed by blanks and "=".
bool StartsValueLine(const wchar_t* raw)
{
    if (*raw == L'"') {
        for (++raw; *raw != L'"'; raw += *raw == L'\\' && raw[1] && !IsLineBreak(raw[1]) ? 2 : 1)
            if (!*raw || IsLineBreak(*raw))
                return false;
    } else if (*raw != L'@') {
        return false;
    }
    return *SkipBlanks(raw + 1) == L'=';
}

// The line a backslash at a line's end joins on: after the line break, blank lines,
// leading blanks and whole comment lines. A key or value line is not joined, so the
// continued line ends; so does the text's end, which is returned (a piece of a file
// cut there must not end the line before more text has arrived).
LineUnit ContinueAfter(const wchar_t* lineBreak)
{
    const wchar_t* next = SkipRegistryGaps(lineBreak);
    while (*next == L';')
        next = SkipRegistryGaps(SkipToLineBreak(next));
    if (!*next)
        return {0, false, next};
    if (*next == L'[' || StartsValueLine(next))
        return {0, false, lineBreak};
    return {*next, true, next + 1};
}

// After a backslash: blanks are skipped and the next character is taken literally. When
// the line ends first (outside quotes also after a ';' comment), the next line is joined.
LineUnit ReadEscape(const wchar_t* raw, const LineReader& reader)
{
    raw = SkipBlanks(raw);
    if (*raw == L';' && !reader.inQuotes)
        raw = SkipToLineBreak(raw);
    if (IsLineBreak(*raw))
        return ContinueAfter(raw);
    if (!*raw)
        return {0, false, raw};
    return {*raw, true, raw + 1};
}

// Reads the unit at 'raw' of the line 'reader' reads.
LineUnit ReadLineUnit(const wchar_t* raw, LineReader& reader)
{
    wchar_t unit = *raw;
    if (!unit || IsLineBreak(unit))
        return {0, false, raw};
    if (reader.verbatim)
        return {unit, false, raw + 1};
    if (unit == L';' && !reader.inQuotes)
        return {0, false, SkipToLineBreak(raw)};
    if (unit == L'"')
        reader.inQuotes = !reader.inQuotes;
    if (unit != L'\\')
        return {unit, false, raw + 1};
    return ReadEscape(raw + 1, reader);
}

// The units from 'raw' on that ReadLineUnit would give one by one as they stand: none ends
// the line or starts an escape, a quote or a comment. Long data are mostly such runs.
size_t CountPlainUnits(const wchar_t* raw, const LineReader& reader)
{
    const wchar_t* unit = raw;
    if (reader.verbatim) {
        while (*unit && !IsLineBreak(*unit))
            ++unit;
    } else {
        while (*unit && !IsLineBreak(*unit) && *unit != L'\\' && *unit != L'"' && *unit != L';')
            ++unit;
    }
    return static_cast<size_t>(unit - raw);
}

// Builds the cooked form of the line at 'raw': the units ReadLineUnit gives, with each
// double quote that was not escaped turned into QUOTE_MARKER. Returns where the raw text
// goes on (the line break or the end), nullptr without memory.
const wchar_t* CookLine(const wchar_t* raw, CookedLine& line)
{
    LineReader reader = StartRegistryLineScan(raw);
    line.count = 0;
    for (;;) {
        size_t plain = CountPlainUnits(raw, reader);
        if (!AppendCooked(line, raw, plain))
            return nullptr;
        LineUnit read = ReadLineUnit(raw + plain, reader);
        if (!read.unit) {
            line.items[line.count] = 0;
            return read.next;
        }
        wchar_t cooked = !read.escaped && read.unit == L'"' ? QUOTE_MARKER : read.unit;
        if (!AppendCooked(line, &cooked, 1))
            return nullptr;
        raw = read.next;
    }
}

} // namespace

const wchar_t* SkipRegistryGaps(const wchar_t* text)
{
    while (IsLineBreak(*text) || *text == L'\t' || *text == L' ')
        ++text;
    return text;
}

RegistryLineScan StartRegistryLineScan(const wchar_t* line)
{
    return {0, *line == L'[' || *line == L';', false};
}

// A read that gives no unit changes nothing in the scan, so it can be made again.
const wchar_t* ScanRegistryLine(const wchar_t* line, RegistryLineScan& scan)
{
    for (;;) {
        scan.read += CountPlainUnits(line + scan.read, scan);
        LineUnit read = ReadLineUnit(line + scan.read, scan);
        if (!read.unit)
            return read.next;
        scan.read = static_cast<size_t>(read.next - line);
    }
}

namespace {

LineKind ClassifyLine(const ImportState& state)
{
    switch (state.line.items[0]) {
    case 0:
        return LineKind::Blank;
    case L'[':
        return LineKind::Key;
    case L';':
        return LineKind::Comment;
    case L'@':
    case QUOTE_MARKER:
        if (state.currentRoot)
            return LineKind::Value;
        return state.keyFailed ? LineKind::UnderFailedKey : LineKind::Foreign;
    default:
        return LineKind::Foreign;
    }
}

// Deleting what is not there leaves the registry as the text asks.
DWORD IgnoreMissing(LSTATUS result)
{
    return result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(result);
}

// The end of a key line's name: the first "]" followed only by blanks, or by blanks and a
// ';' comment; without one, the line's last character, whatever it is.
wchar_t* FindKeyNameEnd(CookedLine& line)
{
    for (wchar_t* bracket = wcschr(line.items, L']'); bracket; bracket = wcschr(bracket + 1, L']')) {
        const wchar_t* rest = SkipBlanks(bracket + 1);
        if (!*rest || *rest == L';')
            return bracket;
    }
    return line.items + line.count - 1;
}

// "[root\path]" opens (creates) the key, "[-root\path]" deletes it with everything below.
// No key is current afterwards unless opened. Returns the registry's failure; a root by
// any name, which is never deleted, and a key that is not there are no failure.
[[nodiscard]] DWORD ApplyKeyLine(ImportState& state)
{
    CloseRegistryKey(state.currentKey);
    state.currentKey = nullptr;
    state.currentRoot = nullptr;
    state.keyFailed = false;
    if (state.line.count < 2)
        return ERROR_SUCCESS;
    *FindKeyNameEnd(state.line) = 0;
    const wchar_t* keyText = state.line.items + 1;
    bool deleting = *keyText == L'-';
    if (deleting)
        ++keyText;
    HKEY root = ParseRegistryRoot(keyText);
    if (!root)
        return ERROR_SUCCESS;           // its value lines are foreign lines
    if (deleting) {
        DWORD result = DeleteRegistryTree(root, keyText);
        return result == RESULT_REGISTRY_ROOT ? ERROR_SUCCESS : IgnoreMissing(static_cast<LSTATUS>(result));
    }
    state.currentPath.count = 0;
    if (!AppendCooked(state.currentPath, keyText, wcslen(keyText) + 1)) {
        state.keyFailed = true;
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD result = CreateRegistryKey(root, keyText, KEY_ALL_ACCESS, &state.currentKey);
    state.keyFailed = result != ERROR_SUCCESS;
    if (!state.keyFailed)
        state.currentRoot = root;
    return result;
}

void EndImport(ImportState& state)
{
    CloseRegistryKey(state.currentKey);
    ReleaseItems(state.line);
    ReleaseItems(state.currentPath);
}

RegistryKey CurrentKey(const ImportState& state)
{
    return {state.currentRoot, state.currentPath.items, state.currentKey};
}

[[nodiscard]] DWORD StoreValue(const ImportState& state, const wchar_t* name, DWORD type, const void* data, size_t bytes)
{
    return SetRegistryValue(CurrentKey(state), name, type, data, static_cast<DWORD>(bytes));
}

// Each store gets the text right after its marker and returns the registry's result.
using ValueStore = DWORD (*)(const ImportState& state, const wchar_t* name, wchar_t* afterMarker);

DWORD StoreDword(const ImportState& state, const wchar_t* name, wchar_t* afterMarker)
{
    DWORD number = ReadHexNumber(SkipBlanks(afterMarker));
    return StoreValue(state, name, REG_DWORD, &number, sizeof number);
}

// Data written for Unicode devices: a zero byte after each character, and two at the end.
bool IsUtf16Text(const BYTE* bytes, DWORD count)
{
    if (count < 2 || count % 2 || bytes[count - 2])
        return false;
    for (DWORD odd = 1; odd < count; odd += 2)
        if (bytes[odd])
            return false;
    return true;
}

// Stores 8-bit text as the UTF-16 of the ANSI code page, with a terminator behind it
// (stored when the bytes end with one).
DWORD StoreAnsiText(const ImportState& state, const wchar_t* name, DWORD type, const BYTE* bytes, DWORD count)
{
    if (count > static_cast<DWORD>(INT_MAX))
        return ERROR_INVALID_DATA;
    const auto* ansi = reinterpret_cast<const char*>(bytes);
    int units = count ? MultiByteToWideChar(CP_ACP, 0, ansi, static_cast<int>(count), nullptr, 0) : 0;
    auto* wide = static_cast<wchar_t*>(malloc((static_cast<size_t>(units) + 1) * sizeof(wchar_t)));
    if (!wide)
        return ERROR_NOT_ENOUGH_MEMORY;
    units = count ? MultiByteToWideChar(CP_ACP, 0, ansi, static_cast<int>(count), wide, units) : 0;
    wide[units] = 0;
    DWORD result = StoreValue(state, name, type, wide, static_cast<size_t>(units) * sizeof(wchar_t));
    free(wide);
    return result;
}

// "hex:" is REG_BINARY, "hex(N):" type N; the bytes follow the first colon. They are
// decoded over the text, which holds at least one unit per byte, and followed by two
// zero bytes: the platform reads one unit past string data that lacks its terminator.
// REGEDIT4 came from editors whose strings were ANSI: its hex(1), hex(2) and hex(7) data
// are widened, unless they already are UTF-16 (as files written for Unicode devices hold).
DWORD StoreHex(const ImportState& state, const wchar_t* name, wchar_t* afterMarker)
{
    DWORD type = *afterMarker == L'(' ? ReadHexNumber(afterMarker + 1) : REG_BINARY;
    wchar_t* colon = wcschr(afterMarker, L':');
    if (!colon)
        return ERROR_SUCCESS;
    auto* bytes = reinterpret_cast<BYTE*>(colon + 1);
    DWORD count = DecodeHexList(colon + 1, bytes);
    bytes[count] = 0;
    bytes[count + 1] = 0;
    bool ansiText = state.format == RegistryFormat::Regedit4 &&
                    (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ);
    if (ansiText && count && !IsUtf16Text(bytes, count))
        return StoreAnsiText(state, name, type, bytes, count);
    return StoreValue(state, name, type, bytes, count);
}

// The quoted texts after the marker, each ended by NUL, and one more NUL after the last;
// built over the line itself, which is never shorter.
DWORD StoreMultiString(const ImportState& state, const wchar_t* name, wchar_t* afterMarker)
{
    wchar_t* in = wcschr(afterMarker, QUOTE_MARKER);
    if (!in)
        return ERROR_SUCCESS;
    wchar_t* start = ++in;
    wchar_t* out = start;
    while (*in) {
        if (*in != QUOTE_MARKER) {
            *out++ = *in++;
            continue;
        }
        *out++ = 0;
        wchar_t* reopen = wcschr(in + 1, QUOTE_MARKER);
        in = reopen ? reopen + 1 : in + wcslen(in);
    }
    *out++ = 0;
    return StoreValue(state, name, REG_MULTI_SZ, start, (out - start) * sizeof(wchar_t));
}

// The text between the first two quote markers of 'text', with its terminator.
DWORD StoreQuotedText(const ImportState& state, const wchar_t* name, DWORD type, wchar_t* text)
{
    wchar_t* open = wcschr(text, QUOTE_MARKER);
    wchar_t* close = open ? wcschr(open + 1, QUOTE_MARKER) : nullptr;
    if (!close)
        return ERROR_SUCCESS;
    *close = 0;
    return StoreValue(state, name, type, open + 1, (close - open) * sizeof(wchar_t));
}

DWORD StoreMuiText(const ImportState& state, const wchar_t* name, wchar_t* afterMarker)
{
    return StoreQuotedText(state, name, REG_MUI_SZ, afterMarker);
}

// Without a marker: "=-" (no quotes) deletes the value, anything else stores the
// quoted text after the "=" as REG_SZ.
DWORD StoreTextOrDelete(const ImportState& state, const wchar_t* name, wchar_t* valueText)
{
    if (valueText[1] == L'-' && !wcschr(valueText, QUOTE_MARKER))
        return IgnoreMissing(static_cast<LSTATUS>(DeleteRegistryValue(CurrentKey(state), name)));
    return StoreQuotedText(state, name, REG_SZ, valueText);
}

struct TypeMarker {
    const wchar_t* marker;
    ValueStore store;
};

// Matched at the start of the value text only (after blanks), ASCII case ignored: a
// quoted text that holds these words is text.
const TypeMarker TYPE_MARKERS[] = {
    {L"DWORD:", StoreDword},
    {L"HEX", StoreHex},
    {L"MULTI_SZ:", StoreMultiString},
    {L"MUI_SZ:", StoreMuiText},
};

// '@' names the default value, a quoted name runs to the next quote marker; the value
// text starts at the first "=" after the name. Lines without either are skipped.
[[nodiscard]] DWORD ApplyValueLine(ImportState& state)
{
    wchar_t* line = state.line.items;
    const wchar_t* name = nullptr;
    wchar_t* afterName = line + 1;
    if (line[0] == QUOTE_MARKER) {
        wchar_t* close = wcschr(line + 1, QUOTE_MARKER);
        if (!close)
            return ERROR_SUCCESS;
        *close = 0;
        name = line + 1;
        afterName = close + 1;
    }
    wchar_t* valueText = wcschr(afterName, L'=');
    if (!valueText)
        return ERROR_SUCCESS;
    wchar_t* data = valueText + (SkipBlanks(valueText + 1) - valueText);
    for (const auto& row : TYPE_MARKERS) {
        size_t matched = MatchPrefixNoCase(data, row.marker);
        if (!row.marker[matched])
            return row.store(state, name, data + matched);
    }
    return StoreTextOrDelete(state, name, valueText);
}

} // namespace

// Applies .reg text line by line, holding at most the one key of the last key line open.
// Every line is applied; the result is the first problem's code: a registry failure, or
// 1017 for a foreign line. With a cursor a foreign line ends the import and the cursor is
// left on it (on the line after it when it is the first line, which would otherwise come
// back here forever), else the cursor ends at the end of the text.
DWORD ImportRegistryTextAs(RegistryFormat format, wchar_t* text, wchar_t** cursor)
{
    ImportState state{{}, nullptr, {}, nullptr, false, format};
    DWORD result = ReserveItems(state.line, FIRST_LINE_CAPACITY);
    if (result == ERROR_SUCCESS)
        result = ReserveItems(state.currentPath, FIRST_LINE_CAPACITY);
    wchar_t* position = text + (SkipRegistryGaps(text) - text);
    wchar_t* firstLine = position;
    while (state.line.items && state.currentPath.items && *position) {
        wchar_t* lineStart = position;
        const wchar_t* lineEnd = CookLine(lineStart, state.line);
        if (!lineEnd) {
            result = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
        position = text + (lineEnd - text);
        DWORD lineResult = ERROR_SUCCESS;
        switch (ClassifyLine(state)) {
        case LineKind::Key:
            lineResult = ApplyKeyLine(state);
            break;
        case LineKind::Value:
            lineResult = ApplyValueLine(state);
            break;
        case LineKind::Foreign:
            lineResult = ERROR_NOT_REGISTRY_FILE;
            if (cursor) {
                EndImport(state);
                *cursor = lineStart == firstLine ? position : lineStart;
                return result != ERROR_SUCCESS ? result : lineResult;
            }
            break;
        case LineKind::Blank:
        case LineKind::Comment:
        case LineKind::UnderFailedKey:      // its key's failure is already counted
            break;
        }
        if (result == ERROR_SUCCESS)
            result = lineResult;
        position = text + (SkipRegistryGaps(position) - text);
    }
    if (cursor)
        *cursor = position + wcslen(position);
    EndImport(state);
    return result;
}

DWORD ImportRegistryText(wchar_t* text, wchar_t** cursor)
{
    return ImportRegistryTextAs(RegistryFormat::Version5, text, cursor);
}
