#include "registry/registry.h"
#include <cstdlib>

namespace {

constexpr wchar_t QUOTE_MARKER = 1;         // a double quote that was not escaped
constexpr DWORD REG_MUI_SZ = 21;
constexpr size_t FIRST_LINE_CAPACITY = 256;

// The current line with escapes resolved, in a buffer that grows with it: a line joined
// from continuation lines has no length limit.
struct CookedLine {
    wchar_t* text;
    size_t length;
    size_t capacity;
};

struct ImportState {
    CookedLine line;
    HKEY currentKey;
};

enum class LineKind { Blank, Key, Value, Comment, Foreign };

bool IsLineBreak(wchar_t unit)
{
    return unit == L'\r' || unit == L'\n';
}

bool AppendCooked(CookedLine& line, wchar_t unit)
{
    if (line.length + 1 >= line.capacity) {
        size_t capacity = line.capacity * 2;
        auto* grown = static_cast<wchar_t*>(realloc(line.text, capacity * sizeof(wchar_t)));
        if (!grown)
            return false;
        line.text = grown;
        line.capacity = capacity;
    }
    line.text[line.length++] = unit;
    return true;
}

// One unit of a registry line as the importer reads it, and where the raw text goes on.
struct LineUnit {
    wchar_t unit;           // 0 at the line's end
    bool escaped;           // taken literally after a backslash
    const wchar_t* next;    // after the unit; at the line's end, the line break or the text's end
};

// Reads the unit at 'raw' of a line ('verbatim' for a key line, which is read as it stands).
// Elsewhere a backslash takes the next character literally after skipping blanks and line
// breaks, so a backslash at the line's end joins the next line.
LineUnit ReadLineUnit(const wchar_t* raw, bool verbatim)
{
    wchar_t unit = *raw;
    if (!unit || IsLineBreak(unit))
        return {0, false, raw};
    if (verbatim || unit != L'\\')
        return {unit, false, raw + 1};
    raw = SkipRegistryGaps(raw + 1);
    if (!*raw)
        return {0, false, raw};
    return {*raw, true, raw + 1};
}

// Builds the cooked form of the line at 'raw': the units ReadLineUnit gives, with each
// double quote that was not escaped turned into QUOTE_MARKER. Returns where the raw text
// goes on (the line break or the end), nullptr without memory.
const wchar_t* CookLine(const wchar_t* raw, CookedLine& line)
{
    bool verbatim = *raw == L'[';
    line.length = 0;
    for (LineUnit read = ReadLineUnit(raw, verbatim);; read = ReadLineUnit(read.next, verbatim)) {
        if (!read.unit) {
            line.text[line.length] = 0;
            return read.next;
        }
        if (!AppendCooked(line, !read.escaped && read.unit == L'"' ? QUOTE_MARKER : read.unit))
            return nullptr;
    }
}

} // namespace

const wchar_t* SkipRegistryGaps(const wchar_t* text)
{
    while (IsLineBreak(*text) || *text == L'\t' || *text == L' ')
        ++text;
    return text;
}

const wchar_t* FindRegistryLineEnd(const wchar_t* line)
{
    bool verbatim = *line == L'[';
    LineUnit read = ReadLineUnit(line, verbatim);
    while (read.unit)
        read = ReadLineUnit(read.next, verbatim);
    return read.next;
}

namespace {

LineKind ClassifyLine(const ImportState& state)
{
    switch (state.line.text[0]) {
    case 0:
        return LineKind::Blank;
    case L'[':
        return LineKind::Key;
    case L';':
        return LineKind::Comment;
    case L'@':
    case QUOTE_MARKER:
        return state.currentKey ? LineKind::Value : LineKind::Foreign;
    default:
        return LineKind::Foreign;
    }
}

// "[root\path]" opens (creates) the key, "[-root\path]" deletes it with everything below.
// The last character is dropped whatever it is. No key is current afterwards unless opened.
void ApplyKeyLine(ImportState& state)
{
    CloseRegistryKey(state.currentKey);
    state.currentKey = nullptr;
    if (state.line.length < 2)
        return;
    state.line.text[state.line.length - 1] = 0;
    const wchar_t* keyText = state.line.text + 1;
    bool deleting = *keyText == L'-';
    if (deleting)
        ++keyText;
    HKEY root = ParseRegistryRoot(keyText);
    if (!root)
        return;
    if (deleting)
        (void)DeleteRegistryTree(root, keyText);
    else
        state.currentKey = OpenRegistryKey(root, keyText, KEY_ALL_ACCESS);
}

void StoreValue(HKEY key, const wchar_t* name, DWORD type, const void* data, size_t bytes)
{
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(bytes));
}

// Each store gets the value text (from the "=") and the text right after its marker.
using ValueStore = void (*)(HKEY key, const wchar_t* name, wchar_t* valueText, wchar_t* afterMarker);

void StoreDword(HKEY key, const wchar_t* name, wchar_t*, wchar_t* afterMarker)
{
    DWORD number = ReadHexNumber(afterMarker);
    StoreValue(key, name, REG_DWORD, &number, sizeof number);
}

// "hex:" is REG_BINARY, "hex(N):" type N; the bytes follow the first colon.
void StoreHex(HKEY key, const wchar_t* name, wchar_t*, wchar_t* afterMarker)
{
    DWORD type = *afterMarker == L'(' ? ReadHexNumber(afterMarker + 1) : REG_BINARY;
    wchar_t* colon = wcschr(afterMarker, L':');
    if (!colon)
        return;
    DWORD count = DecodeHexList(colon + 1);
    StoreValue(key, name, type, colon + 1, count);
}

// The quoted texts after the marker, each ended by NUL, and one more NUL after the last;
// built over the line itself, which is never shorter.
void StoreMultiString(HKEY key, const wchar_t* name, wchar_t*, wchar_t* afterMarker)
{
    wchar_t* in = wcschr(afterMarker, QUOTE_MARKER);
    if (!in)
        return;
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
    StoreValue(key, name, REG_MULTI_SZ, start, (out - start) * sizeof(wchar_t));
}

// The text between the first two quote markers after the "=", as REG_SZ (or the MUI
// type when "MUI_SZ:" occurs); "=-" without quotes deletes the value instead.
void StoreText(HKEY key, const wchar_t* name, wchar_t* valueText)
{
    wchar_t* open = wcschr(valueText, QUOTE_MARKER);
    if (!open) {
        if (valueText[1] == L'-')
            RegDeleteValueW(key, name);
        return;
    }
    wchar_t* close = wcschr(open + 1, QUOTE_MARKER);
    if (!close)
        return;
    DWORD type = FindNoCase(valueText, L"MUI_SZ:") ? REG_MUI_SZ : REG_SZ;
    *close = 0;
    StoreValue(key, name, type, open + 1, (close - open) * sizeof(wchar_t));
}

struct TypeMarker {
    const wchar_t* marker;
    ValueStore store;
};

// Searched anywhere in the value text, ASCII case ignored, in this order.
const TypeMarker TYPE_MARKERS[] = {
    {L"DWORD:", StoreDword},
    {L"HEX", StoreHex},
    {L"MULTI_SZ:", StoreMultiString},
};

// '@' names the default value, a quoted name runs to the next quote marker; the value
// text starts at the first "=" after the name. Lines without either are skipped.
void ApplyValueLine(ImportState& state)
{
    wchar_t* line = state.line.text;
    const wchar_t* name = nullptr;
    wchar_t* afterName = line + 1;
    if (line[0] == QUOTE_MARKER) {
        wchar_t* close = wcschr(line + 1, QUOTE_MARKER);
        if (!close)
            return;
        *close = 0;
        name = line + 1;
        afterName = close + 1;
    }
    wchar_t* valueText = wcschr(afterName, L'=');
    if (!valueText)
        return;
    for (const auto& row : TYPE_MARKERS) {
        if (const wchar_t* found = FindNoCase(valueText, row.marker)) {
            row.store(state.currentKey, name, valueText, valueText + (found - valueText) + wcslen(row.marker));
            return;
        }
    }
    StoreText(state.currentKey, name, valueText);
}

} // namespace

// Applies .reg text line by line, holding at most the one key of the last key line open.
// A foreign line gives 1017; with a cursor it ends the import and the cursor is left on
// it (on the line after it when it is the first line, which would otherwise come back
// here forever), else the cursor ends at the end of the text.
DWORD ImportRegistryText(wchar_t* text, wchar_t** cursor)
{
    ImportState state{{static_cast<wchar_t*>(malloc(FIRST_LINE_CAPACITY * sizeof(wchar_t))), 0, FIRST_LINE_CAPACITY}, nullptr};
    DWORD result = state.line.text ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
    wchar_t* position = text + (SkipRegistryGaps(text) - text);
    wchar_t* firstLine = position;
    while (result != ERROR_NOT_ENOUGH_MEMORY && *position) {
        wchar_t* lineStart = position;
        const wchar_t* lineEnd = CookLine(lineStart, state.line);
        if (!lineEnd) {
            result = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
        position = text + (lineEnd - text);
        switch (ClassifyLine(state)) {
        case LineKind::Key:
            ApplyKeyLine(state);
            break;
        case LineKind::Value:
            ApplyValueLine(state);
            break;
        case LineKind::Foreign:
            result = ERROR_NOT_REGISTRY_FILE;
            if (cursor) {
                CloseRegistryKey(state.currentKey);
                free(state.line.text);
                *cursor = lineStart == firstLine ? position : lineStart;
                return result;
            }
            break;
        case LineKind::Blank:
        case LineKind::Comment:
            break;
        }
        position = text + (SkipRegistryGaps(position) - text);
    }
    if (cursor)
        *cursor = position + wcslen(position);
    CloseRegistryKey(state.currentKey);
    free(state.line.text);
    return result;
}
