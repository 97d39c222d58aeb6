// HTML source to document nodes: a tokenizer that yields text and tags, and a builder that
// keeps the open block elements on a small stack and turns tags into text runs, block,
// table and anchor nodes. Every step moves forward through the source, so any input,
// however malformed, is parsed in one pass.
#include "html/html_document.h"
#include <strsafe.h>

namespace {

constexpr DWORD TAG_NAME_UNITS = 16;
constexpr DWORD ENTITY_NAME_UNITS = 10;
constexpr int BLOCK_DEPTH = 64;
constexpr BYTE INDENT_LIMIT = 12;
constexpr DWORD PRE_TAB_COLUMNS = 8;
constexpr DWORD MARKER_UNITS = 24;
constexpr wchar_t REPLACEMENT_CHARACTER = 0xFFFD;

// --- tokenizer ---

enum HtmlTokenKind : BYTE { TOKEN_TEXT, TOKEN_OPEN, TOKEN_CLOSE };

struct HtmlToken {
    HtmlTokenKind kind;
    const wchar_t* start;               // text: the raw text; tags: the attributes
    DWORD length;
    wchar_t name[TAG_NAME_UNITS];       // lower case; empty when too long to be a known tag
};

struct HtmlTokenizer {
    const wchar_t* cursor;
    const wchar_t* end;
    wchar_t rawEnd[TAG_NAME_UNITS];     // after <script> or <style>: skip to this end tag
};

bool IsAsciiLetter(wchar_t c) { return (c | 0x20) >= L'a' && (c | 0x20) <= L'z'; }
bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsNameUnit(wchar_t c) { return IsAsciiLetter(c) || IsAsciiDigit(c) || c == L'-' || c == L':' || c == L'_'; }
bool IsHtmlSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f'; }

// A '<' starts markup only before a letter, '/', '!' or '?'; otherwise it is text.
bool StartsMarkup(const wchar_t* p, const wchar_t* end)
{
    return p + 1 < end && (IsAsciiLetter(p[1]) || p[1] == L'/' || p[1] == L'!' || p[1] == L'?');
}

// Returns the first occurrence of 'needle' in [p, end), or end.
const wchar_t* FindUnits(const wchar_t* p, const wchar_t* end, const wchar_t* needle)
{
    size_t length = wcslen(needle);
    for (; static_cast<size_t>(end - p) >= length; ++p)
        if (wmemcmp(p, needle, length) == 0)
            return p;
    return end;
}

const wchar_t* SkipPast(const wchar_t* p, const wchar_t* end, wchar_t stop)
{
    while (p < end && *p != stop)
        ++p;
    return p < end ? p + 1 : end;
}

// Skips a script or style body: up to the "</name" ending it (any case), or the end.
const wchar_t* SkipRawText(const wchar_t* p, const wchar_t* end, const wchar_t* name)
{
    size_t length = wcslen(name);
    for (; p < end; ++p) {
        if (p[0] != L'<' || static_cast<size_t>(end - p) < length + 2 || p[1] != L'/')
            continue;
        const wchar_t* after = p + 2 + length;
        if (_wcsnicmp(p + 2, name, length) == 0 && (after == end || !IsNameUnit(*after)))
            return p;
    }
    return end;
}

// Reads a tag name into 'name' in lower case (empty if it does not fit); returns what follows.
const wchar_t* ReadTagName(const wchar_t* p, const wchar_t* end, wchar_t (&name)[TAG_NAME_UNITS])
{
    DWORD length = 0;
    for (; p < end && IsNameUnit(*p); ++p, ++length)
        if (length < TAG_NAME_UNITS - 1)
            name[length] = static_cast<wchar_t>(*p | (IsAsciiLetter(*p) ? 0x20 : 0));
    name[length < TAG_NAME_UNITS ? length : 0] = 0;
    return p;
}

// Returns the '>' closing a tag whose attributes start at 'p' (quotes after '=' hide a
// '>'), or end when the tag is never closed.
const wchar_t* FindTagEnd(const wchar_t* p, const wchar_t* end)
{
    wchar_t quote = 0;
    wchar_t last = 0;
    for (; p < end; ++p) {
        if (quote) {
            if (*p == quote)
                quote = last = 0;
        } else if ((*p == L'"' || *p == L'\'') && last == L'=') {
            quote = *p;
        } else if (*p == L'>') {
            return p;
        } else if (!IsHtmlSpace(*p)) {
            last = *p;
        }
    }
    return end;
}

// Skips a comment, declaration or processing instruction at 'p'; returns what follows.
const wchar_t* SkipDeclaration(const wchar_t* p, const wchar_t* end)
{
    if (end - p >= 4 && wmemcmp(p, L"<!--", 4) == 0) {
        const wchar_t* close = FindUnits(p + 4, end, L"-->");
        return close < end ? close + 3 : end;
    }
    return SkipPast(p + 1, end, L'>');
}

bool IsRawTextTag(const wchar_t* name) { return wcscmp(name, L"script") == 0 || wcscmp(name, L"style") == 0; }

// Reads the next token; false at the end of the source. Comments, declarations and the
// bodies of script and style elements yield no token.
bool NextHtmlToken(HtmlTokenizer& tokenizer, HtmlToken& token)
{
    const wchar_t* end = tokenizer.end;
    if (tokenizer.rawEnd[0]) {
        tokenizer.cursor = SkipRawText(tokenizer.cursor, end, tokenizer.rawEnd);
        tokenizer.rawEnd[0] = 0;
    }
    while (tokenizer.cursor < end) {
        const wchar_t* p = tokenizer.cursor;
        if (*p != L'<' || !StartsMarkup(p, end)) {
            const wchar_t* stop = p + 1;
            while (stop < end && (*stop != L'<' || !StartsMarkup(stop, end)))
                ++stop;
            token = {TOKEN_TEXT, p, static_cast<DWORD>(stop - p), {}};
            tokenizer.cursor = stop;
            return true;
        }
        bool closing = p[1] == L'/';
        if (p[1] == L'!' || p[1] == L'?' || (closing && (p + 2 >= end || !IsAsciiLetter(p[2])))) {
            tokenizer.cursor = SkipDeclaration(p, end);
            continue;
        }
        token.kind = closing ? TOKEN_CLOSE : TOKEN_OPEN;
        const wchar_t* attributes = ReadTagName(p + 1 + closing, end, token.name);
        const wchar_t* close = FindTagEnd(attributes, end);
        token.start = attributes;
        token.length = static_cast<DWORD>(close - attributes);
        tokenizer.cursor = close < end ? close + 1 : end;
        bool selfClosing = close > attributes && close[-1] == L'/';
        if (!closing && !selfClosing && IsRawTextTag(token.name))
            StringCchCopyW(tokenizer.rawEnd, TAG_NAME_UNITS, token.name);
        return true;
    }
    return false;
}

// Finds attribute 'name' in a tag; sets 'value' and 'length' to its raw value, without
// quotes (empty for an attribute without a value).
bool FindAttribute(const HtmlToken& tag, const wchar_t* name, const wchar_t*& value, DWORD& length)
{
    const wchar_t* p = tag.start;
    const wchar_t* end = tag.start + tag.length;
    size_t nameLength = wcslen(name);
    while (p < end) {
        while (p < end && (IsHtmlSpace(*p) || *p == L'/'))
            ++p;
        const wchar_t* found = p;
        while (p < end && !IsHtmlSpace(*p) && *p != L'=' && *p != L'/')
            ++p;
        size_t foundLength = static_cast<size_t>(p - found);
        if (foundLength == 0) {
            ++p;
            continue;
        }
        while (p < end && IsHtmlSpace(*p))
            ++p;
        const wchar_t* start = p;
        const wchar_t* stop = p;
        if (p < end && *p == L'=') {
            ++p;
            while (p < end && IsHtmlSpace(*p))
                ++p;
            if (p < end && (*p == L'"' || *p == L'\'')) {
                wchar_t quote = *p++;
                start = stop = p;
                while (stop < end && *stop != quote)
                    ++stop;
                p = stop < end ? stop + 1 : end;
            } else {
                start = stop = p;
                while (stop < end && !IsHtmlSpace(*stop))
                    ++stop;
                p = stop;
            }
        }
        if (foundLength == nameLength && _wcsnicmp(found, name, nameLength) == 0) {
            value = start;
            length = static_cast<DWORD>(stop - start);
            return true;
        }
    }
    return false;
}

bool AttributeIs(const wchar_t* value, DWORD length, const wchar_t* word)
{
    return wcslen(word) == length && _wcsnicmp(value, word, length) == 0;
}

// --- character references ---

struct NamedEntity {
    const wchar_t* name;
    wchar_t unit;
};

constexpr NamedEntity NAMED_ENTITIES[] = {
    {L"amp", L'&'},       {L"lt", L'<'},        {L"gt", L'>'},        {L"quot", L'"'},
    {L"apos", L'\''},     {L"trade", 0x2122},   {L"euro", 0x20AC},    {L"hellip", 0x2026},
    {L"mdash", 0x2014},   {L"ndash", 0x2013},   {L"lsquo", 0x2018},   {L"rsquo", 0x2019},
    {L"sbquo", 0x201A},   {L"ldquo", 0x201C},   {L"rdquo", 0x201D},   {L"bdquo", 0x201E},
    {L"bull", 0x2022},    {L"dagger", 0x2020},  {L"Dagger", 0x2021},  {L"permil", 0x2030},
    {L"lsaquo", 0x2039},  {L"rsaquo", 0x203A},  {L"ensp", 0x2002},    {L"emsp", 0x2003},
    {L"thinsp", 0x2009},  {L"zwnj", 0x200C},    {L"zwj", 0x200D},     {L"larr", 0x2190},
    {L"uarr", 0x2191},    {L"rarr", 0x2192},    {L"darr", 0x2193},    {L"harr", 0x2194},
    {L"minus", 0x2212},   {L"le", 0x2264},      {L"ge", 0x2265},      {L"ne", 0x2260},
    {L"infin", 0x221E},   {L"OElig", 0x0152},   {L"oelig", 0x0153},   {L"Scaron", 0x0160},
    {L"scaron", 0x0161},  {L"Yuml", 0x0178},    {L"fnof", 0x0192},    {L"circ", 0x02C6},
    {L"tilde", 0x02DC},
};

// The Latin-1 characters U+00A0 to U+00FF by name, in code order.
constexpr const wchar_t* LATIN1_ENTITIES[] = {
    L"nbsp",   L"iexcl",  L"cent",   L"pound",  L"curren", L"yen",    L"brvbar", L"sect",
    L"uml",    L"copy",   L"ordf",   L"laquo",  L"not",    L"shy",    L"reg",    L"macr",
    L"deg",    L"plusmn", L"sup2",   L"sup3",   L"acute",  L"micro",  L"para",   L"middot",
    L"cedil",  L"sup1",   L"ordm",   L"raquo",  L"frac14", L"frac12", L"frac34", L"iquest",
    L"Agrave", L"Aacute", L"Acirc",  L"Atilde", L"Auml",   L"Aring",  L"AElig",  L"Ccedil",
    L"Egrave", L"Eacute", L"Ecirc",  L"Euml",   L"Igrave", L"Iacute", L"Icirc",  L"Iuml",
    L"ETH",    L"Ntilde", L"Ograve", L"Oacute", L"Ocirc",  L"Otilde", L"Ouml",   L"times",
    L"Oslash", L"Ugrave", L"Uacute", L"Ucirc",  L"Uuml",   L"Yacute", L"THORN",  L"szlig",
    L"agrave", L"aacute", L"acirc",  L"atilde", L"auml",   L"aring",  L"aelig",  L"ccedil",
    L"egrave", L"eacute", L"ecirc",  L"euml",   L"igrave", L"iacute", L"icirc",  L"iuml",
    L"eth",    L"ntilde", L"ograve", L"oacute", L"ocirc",  L"otilde", L"ouml",   L"divide",
    L"oslash", L"ugrave", L"uacute", L"ucirc",  L"uuml",   L"yacute", L"thorn",  L"yuml",
};
static_assert(ARRAYSIZE(LATIN1_ENTITIES) == 96);

// Numbers 0x80-0x9F name the Windows-1252 characters there, as browsers read them.
constexpr wchar_t WINDOWS_1252_HIGH[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

wchar_t FindNamedEntity(const wchar_t* name)
{
    for (const auto& entity : NAMED_ENTITIES)
        if (wcscmp(entity.name, name) == 0)
            return entity.unit;
    for (DWORD i = 0; i < ARRAYSIZE(LATIN1_ENTITIES); ++i)
        if (wcscmp(LATIN1_ENTITIES[i], name) == 0)
            return static_cast<wchar_t>(0xA0 + i);
    return 0;
}

int DigitValue(wchar_t c, bool hex)
{
    if (IsAsciiDigit(c))
        return c - L'0';
    wchar_t lower = c | 0x20;
    return hex && lower >= L'a' && lower <= L'f' ? lower - L'a' + 10 : -1;
}

// Encodes a code point as one unit or a surrogate pair; invalid ones become U+FFFD.
DWORD EncodeCodePoint(DWORD code, wchar_t out[2])
{
    if (code >= 0x80 && code <= 0x9F)
        code = WINDOWS_1252_HIGH[code - 0x80];
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = REPLACEMENT_CHARACTER;
    if (code < 0x10000) {
        out[0] = static_cast<wchar_t>(code);
        return 1;
    }
    code -= 0x10000;
    out[0] = static_cast<wchar_t>(0xD800 + (code >> 10));
    out[1] = static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    return 2;
}

DWORD DecodeNumericEntity(const wchar_t* text, const wchar_t* end, DWORD& used, wchar_t out[2])
{
    const wchar_t* p = text + 2;
    bool hex = p < end && (*p | 0x20) == L'x';
    p += hex;
    const wchar_t* digits = p;
    DWORD code = 0;
    for (int digit; p < end && (digit = DigitValue(*p, hex)) >= 0; ++p)
        code = code > 0x10FFFF ? code : code * (hex ? 16 : 10) + digit;
    if (p == digits)
        return 0;
    if (p < end && *p == L';')
        ++p;
    used = static_cast<DWORD>(p - text);
    return EncodeCodePoint(code, out);
}

// --- builder ---

enum ListStyle : BYTE { LIST_NONE, LIST_BULLET, LIST_DECIMAL, LIST_LOWER_ALPHA, LIST_UPPER_ALPHA,
                        LIST_LOWER_ROMAN, LIST_UPPER_ROMAN };

struct TagEntry;

// An open block element and the properties its content inherits.
struct BlockEntry {
    const TagEntry* tag;      // nullptr: the body
    BYTE indent;
    BYTE align;
    BYTE heading;
    bool pre;
    bool header;              // inside a table header cell
    BYTE list;
    DWORD counter;
};

struct HtmlBuilder {
    HtmlDocument* document;
    BlockEntry stack[BLOCK_DEPTH];
    int depth;
    int bold, italic, mono, underline, title;     // open inline elements
    DWORD link;
    bool pendingSpace;        // white space seen since the last shown character
    WORD spaceFont;           // the font and link where that white space began
    DWORD spaceLink;
    bool atLineStart;         // nothing shown since the last block or break
    bool preFirstLine;        // a line feed right after <pre> is not shown
    DWORD preColumn;
    int tables;               // open tables; only the outermost is laid out as a table
    bool rowOpen;
    bool cellOpen;
    DWORD cells;              // cells in the open row
    bool failed;
};

const BlockEntry& Top(const HtmlBuilder& builder) { return builder.stack[builder.depth - 1]; }

WORD CurrentFont(const HtmlBuilder& builder)
{
    const BlockEntry& top = Top(builder);
    WORD font = top.heading;
    if (builder.bold || top.heading || top.header)
        font |= FONT_BOLD;
    if (builder.italic)
        font |= FONT_ITALIC;
    if (builder.mono || top.pre)
        font |= FONT_MONO;
    if (builder.underline || builder.link)
        font |= FONT_UNDERLINE;
    return font;
}

HtmlNode* AddNode(HtmlBuilder& builder, HtmlNodeKind kind)
{
    HtmlNode* node = AppendItem(builder.document->nodes);
    if (!node) {
        builder.failed = true;
        return nullptr;
    }
    node->kind = kind;
    return node;
}

HtmlNode* LastNode(HtmlBuilder& builder)
{
    Buffer<HtmlNode>& nodes = builder.document->nodes;
    return nodes.count ? &nodes.items[nodes.count - 1] : nullptr;
}

bool AppendUnit(HtmlBuilder& builder, wchar_t unit)
{
    bool appended = AppendValue(builder.document->text, unit);
    if (!appended)
        builder.failed = true;
    return appended;
}

// Appends a unit of shown text to the last run, or starts a run when font, link or
// spacing differ.
void AppendRunUnit(HtmlBuilder& builder, wchar_t unit, WORD font, DWORD link)
{
    HtmlNode* run = LastNode(builder);
    BYTE flags = Top(builder).pre ? TEXT_PRE : 0;
    DWORD textEnd = builder.document->text.count;
    if (!run || run->kind != NODE_TEXT || run->font != font || run->link != link || run->flags != flags ||
        run->start + run->length != textEnd) {
        run = AddNode(builder, NODE_TEXT);
        if (!run)
            return;
        *run = {NODE_TEXT, 0, 0, 0, font, flags, textEnd, 0, link};
    }
    if (AppendUnit(builder, unit))
        ++run->length;
}

using UnitSink = void (*)(HtmlBuilder& builder, wchar_t unit);

// Passes each unit of 'text' to 'sink', with character references decoded.
void DecodeText(HtmlBuilder& builder, const wchar_t* text, DWORD length, UnitSink sink)
{
    const wchar_t* end = text + length;
    for (const wchar_t* p = text; p < end && !builder.failed;) {
        wchar_t units[2];
        DWORD used = 1;
        DWORD count = *p == L'&' ? DecodeEntity(p, end, used, units) : 0;
        for (DWORD i = 0; i < count; ++i)
            sink(builder, units[i]);
        if (!count)
            sink(builder, *p);
        p += count ? used : 1;
    }
}

// Keeps a unit in the document's text outside any run (addresses, anchor names).
void KeepUnit(HtmlBuilder& builder, wchar_t unit)
{
    AppendUnit(builder, unit);
}

void OpenCell(HtmlBuilder& builder, BYTE align);

// Content inside a table but outside a cell goes into a new cell, as browsers show it.
void EnsureCell(HtmlBuilder& builder)
{
    if (builder.tables && !builder.cellOpen)
        OpenCell(builder, ALIGN_LEFT);
}

// Ends the current line and starts a block with the properties of the innermost open
// element; blocks with nothing between them merge into one.
void EmitBlock(HtmlBuilder& builder, BYTE space, const wchar_t* marker = nullptr)
{
    builder.pendingSpace = false;
    builder.atLineStart = true;
    if (builder.tables && !builder.cellOpen)
        return;
    HtmlNode* node = LastNode(builder);
    if (node && node->kind == NODE_BLOCK)
        space = node->space > space ? node->space : space;
    else if (!(node = AddNode(builder, NODE_BLOCK)))
        return;
    const BlockEntry& top = Top(builder);
    node->space = space;
    node->indent = top.indent;
    node->align = top.align;
    node->font = CurrentFont(builder);
    if (!marker)
        return;
    node->start = builder.document->text.count;
    node->length = 0;
    for (const wchar_t* p = marker; *p && AppendUnit(builder, *p); ++p)
        ++node->length;
}

void EmitBreak(HtmlBuilder& builder)
{
    EnsureCell(builder);
    if (HtmlNode* node = AddNode(builder, NODE_BREAK))
        node->font = CurrentFont(builder);
    builder.pendingSpace = false;
    builder.atLineStart = true;
}

// The monospace face has no CJK characters on every system; those are shown in the
// proportional face, which the system links to a CJK font.
WORD FontForUnit(WORD font, wchar_t unit)
{
    return (font & FONT_MONO) && IsWideUnit(unit) ? font & ~FONT_MONO : font;
}

// Shows one unit of preformatted text: line feeds break lines, tabs reach the next stop.
void EmitPreUnit(HtmlBuilder& builder, wchar_t unit)
{
    if (unit == L'\r')
        return;
    if (unit == L'\n') {
        if (!builder.preFirstLine)
            EmitBreak(builder);
        builder.preFirstLine = false;
        builder.preColumn = 0;
        return;
    }
    builder.preFirstLine = false;
    if (unit < 0x20 && unit != L'\t')
        return;
    EnsureCell(builder);
    WORD font = FontForUnit(CurrentFont(builder), unit);
    if (unit == L'\t') {
        do
            AppendRunUnit(builder, L' ', font, builder.link);
        while (++builder.preColumn % PRE_TAB_COLUMNS && !builder.failed);
    } else {
        AppendRunUnit(builder, unit, font, builder.link);
        ++builder.preColumn;
    }
    builder.atLineStart = false;
}

// Notes white space, to be shown as one space before the next character on the line in
// the font and link it began in.
void NoteSpace(HtmlBuilder& builder)
{
    if (!builder.pendingSpace) {
        builder.spaceFont = CurrentFont(builder);
        builder.spaceLink = builder.link;
    }
    builder.pendingSpace = true;
}

// Shows one unit of text; outside preformatted text, white space collapses to one space
// and none is shown at the start of a line.
void EmitUnit(HtmlBuilder& builder, wchar_t unit)
{
    if (builder.title)
        return;
    if (Top(builder).pre) {
        EmitPreUnit(builder, unit);
        return;
    }
    if (IsHtmlSpace(unit)) {
        NoteSpace(builder);
        return;
    }
    if (unit < 0x20)
        return;
    EnsureCell(builder);
    if (builder.pendingSpace && !builder.atLineStart)
        AppendRunUnit(builder, L' ', builder.spaceFont, builder.spaceLink);
    builder.pendingSpace = builder.atLineStart = false;
    AppendRunUnit(builder, unit, FontForUnit(CurrentFont(builder), unit), builder.link);
}

// --- the block stack ---

BlockEntry* Push(HtmlBuilder& builder, const TagEntry* tag)
{
    if (builder.depth >= BLOCK_DEPTH)
        return nullptr;
    BlockEntry* entry = &builder.stack[builder.depth];
    *entry = builder.stack[builder.depth - 1];
    entry->tag = tag;
    entry->list = LIST_NONE;
    ++builder.depth;
    return entry;
}

bool IsTag(const BlockEntry& entry, const wchar_t* name);

// Closes the innermost open 'tag' and everything inside it; a table boundary stops the
// search unless 'tag' is the table. Returns whether it was open.
bool PopTo(HtmlBuilder& builder, const TagEntry* tag)
{
    for (int i = builder.depth - 1; i > 0; --i) {
        if (builder.stack[i].tag == tag) {
            builder.depth = i;
            return true;
        }
        if (IsTag(builder.stack[i], L"table"))
            return false;
    }
    return false;
}

// Closes everything inside the innermost table, leaving the table open.
void PopToTable(HtmlBuilder& builder)
{
    for (int i = builder.depth - 1; i > 0; --i)
        if (IsTag(builder.stack[i], L"table")) {
            builder.depth = i + 1;
            return;
        }
}

BlockEntry* FindList(HtmlBuilder& builder)
{
    for (int i = builder.depth - 1; i > 0 && !IsTag(builder.stack[i], L"table"); --i)
        if (builder.stack[i].list != LIST_NONE)
            return &builder.stack[i];
    return nullptr;
}

BYTE AlignOf(const HtmlToken& tag, BYTE inherited)
{
    const wchar_t* value;
    DWORD length;
    if (!FindAttribute(tag, L"align", value, length))
        return inherited;
    if (AttributeIs(value, length, L"center") || AttributeIs(value, length, L"middle"))
        return ALIGN_CENTER;
    return AttributeIs(value, length, L"right") ? ALIGN_RIGHT : ALIGN_LEFT;
}

DWORD NumberOf(const wchar_t* value, DWORD length)
{
    DWORD number = 0;
    for (DWORD i = 0; i < length && i < 9 && IsAsciiDigit(value[i]); ++i)
        number = number * 10 + (value[i] - L'0');
    return number;
}

// --- list markers ---

void FormatRoman(DWORD number, bool upper, wchar_t (&out)[MARKER_UNITS])
{
    constexpr struct { DWORD value; const wchar_t* digits; } ROMAN[] = {
        {1000, L"m"}, {900, L"cm"}, {500, L"d"}, {400, L"cd"}, {100, L"c"}, {90, L"xc"},
        {50, L"l"},   {40, L"xl"},  {10, L"x"},  {9, L"ix"},   {5, L"v"},   {4, L"iv"}, {1, L"i"},
    };
    out[0] = 0;
    for (const auto& row : ROMAN)
        for (; number >= row.value; number -= row.value)
            StringCchCatW(out, MARKER_UNITS, row.digits);
    for (wchar_t* p = out; upper && *p; ++p)
        *p = static_cast<wchar_t>(*p - L'a' + L'A');
}

void FormatAlpha(DWORD number, bool upper, wchar_t (&out)[MARKER_UNITS])
{
    wchar_t reversed[MARKER_UNITS];
    DWORD length = 0;
    for (; number && length < MARKER_UNITS - 1; number = (number - 1) / 26)
        reversed[length++] = static_cast<wchar_t>((upper ? L'A' : L'a') + (number - 1) % 26);
    for (DWORD i = 0; i < length; ++i)
        out[i] = reversed[length - 1 - i];
    out[length] = 0;
}

// The marker of item 'number' of a list nested 'depth' lists deep.
void FormatMarker(BYTE list, DWORD number, int depth, wchar_t (&out)[MARKER_UNITS])
{
    constexpr const wchar_t* BULLETS[] = {L"\x2022", L"\x25E6", L"\x25AA"};
    bool roman = (list == LIST_LOWER_ROMAN || list == LIST_UPPER_ROMAN) && number > 0 && number < 4000;
    bool alpha = (list == LIST_LOWER_ALPHA || list == LIST_UPPER_ALPHA) && number > 0;
    if (list == LIST_BULLET)
        StringCchCopyW(out, MARKER_UNITS, BULLETS[depth < 3 ? depth : 2]);
    else if (roman)
        FormatRoman(number, list == LIST_UPPER_ROMAN, out);
    else if (alpha)
        FormatAlpha(number, list == LIST_UPPER_ALPHA, out);
    else
        StringCchPrintfW(out, MARKER_UNITS, L"%lu", number);
    if (list != LIST_BULLET)
        StringCchCatW(out, MARKER_UNITS, L".");
}

BYTE OrderedListStyle(const HtmlToken& tag)
{
    const wchar_t* value;
    DWORD length;
    if (!FindAttribute(tag, L"type", value, length) || length != 1)
        return LIST_DECIMAL;
    constexpr struct { wchar_t type; BYTE list; } TYPES[] = {
        {L'a', LIST_LOWER_ALPHA}, {L'A', LIST_UPPER_ALPHA}, {L'i', LIST_LOWER_ROMAN}, {L'I', LIST_UPPER_ROMAN},
    };
    for (const auto& row : TYPES)
        if (row.type == value[0])
            return row.list;
    return LIST_DECIMAL;
}

// --- tag handlers ---

using TagHandler = void (*)(HtmlBuilder& builder, const HtmlToken& tag, const TagEntry& entry);

struct TagEntry {
    const wchar_t* name;
    TagHandler open;
    TagHandler close;
    BYTE value;
};

bool IsTag(const BlockEntry& entry, const wchar_t* name) { return entry.tag && wcscmp(entry.tag->name, name) == 0; }

enum InlineStyle : BYTE { STYLE_BOLD, STYLE_ITALIC, STYLE_MONO, STYLE_UNDERLINE, STYLE_TITLE };

int& StyleCounter(HtmlBuilder& builder, BYTE style)
{
    int* counters[] = {&builder.bold, &builder.italic, &builder.mono, &builder.underline, &builder.title};
    return *counters[style];
}

void OpenStyle(HtmlBuilder& builder, const HtmlToken&, const TagEntry& entry) { ++StyleCounter(builder, entry.value); }

void CloseStyle(HtmlBuilder& builder, const HtmlToken&, const TagEntry& entry)
{
    int& counter = StyleCounter(builder, entry.value);
    counter -= counter > 0;
}

// p, div, center, blockquote, h1-h6, pre, dl: 'value' is the space above and below, in
// half lines.
void OpenBlock(HtmlBuilder& builder, const HtmlToken& tag, const TagEntry& entry)
{
    if (IsTag(Top(builder), L"p"))
        --builder.depth;
    BlockEntry* block = Push(builder, &entry);
    if (block) {
        block->align = wcscmp(entry.name, L"center") == 0 ? BYTE{ALIGN_CENTER} : AlignOf(tag, block->align);
        if (wcscmp(entry.name, L"blockquote") == 0 && block->indent < INDENT_LIMIT)
            ++block->indent;
        if (entry.name[0] == L'h' && IsAsciiDigit(entry.name[1]))
            block->heading = static_cast<BYTE>(entry.name[1] - L'0');
        if (wcscmp(entry.name, L"pre") == 0) {
            block->pre = true;
            builder.preFirstLine = true;
            builder.preColumn = 0;
        }
    }
    EmitBlock(builder, entry.value);
}

void CloseBlock(HtmlBuilder& builder, const HtmlToken&, const TagEntry& entry)
{
    if (PopTo(builder, &entry))
        EmitBlock(builder, entry.value);
}

void OpenList(HtmlBuilder& builder, const HtmlToken& tag, const TagEntry& entry)
{
    BYTE space = FindList(builder) ? 0 : 1;     // a nested list sits tight inside its item
    BlockEntry* list = Push(builder, &entry);
    if (list) {
        list->indent += list->indent < INDENT_LIMIT;
        list->list = entry.value == LIST_DECIMAL ? OrderedListStyle(tag) : BYTE{LIST_BULLET};
        const wchar_t* value;
        DWORD length;
        list->counter = FindAttribute(tag, L"start", value, length) ? NumberOf(value, length) - 1 : 0;
    }
    EmitBlock(builder, space);
}

void CloseList(HtmlBuilder& builder, const HtmlToken&, const TagEntry& entry)
{
    if (PopTo(builder, &entry))
        EmitBlock(builder, FindList(builder) ? 0 : 1);
}

void OpenItem(HtmlBuilder& builder, const HtmlToken&, const TagEntry&)
{
    BlockEntry* list = FindList(builder);
    if (list)
        builder.depth = static_cast<int>(list - builder.stack) + 1;
    int depth = 0;
    for (int i = 1; i < builder.depth; ++i)
        depth += builder.stack[i].list == LIST_BULLET;
    wchar_t marker[MARKER_UNITS];
    FormatMarker(list ? list->list : BYTE{LIST_BULLET}, list ? ++list->counter : 1, depth ? depth - 1 : 0, marker);
    EmitBlock(builder, 0, marker);
}

void CloseItem(HtmlBuilder& builder, const HtmlToken&, const TagEntry&)
{
    if (BlockEntry* list = FindList(builder))
        builder.depth = static_cast<int>(list - builder.stack) + 1;
    EmitBlock(builder, 0);
}

// dt and dd: a term, and its description one step further in.
void OpenDefinition(HtmlBuilder& builder, const HtmlToken&, const TagEntry& entry)
{
    for (int i = builder.depth - 1; i > 0 && !IsTag(builder.stack[i], L"dl"); --i)
        if (IsTag(builder.stack[i], L"dd")) {
            builder.depth = i;
            break;
        }
    BlockEntry* block = Push(builder, &entry);
    if (block && entry.value && block->indent < INDENT_LIMIT)
        ++block->indent;
    EmitBlock(builder, 0);
}

void CloseDefinition(HtmlBuilder& builder, const HtmlToken&, const TagEntry& entry)
{
    if (PopTo(builder, &entry))
        EmitBlock(builder, 0);
}

void OpenBreak(HtmlBuilder& builder, const HtmlToken&, const TagEntry&)
{
    if (!builder.title)
        EmitBreak(builder);
}

void OpenRule(HtmlBuilder& builder, const HtmlToken&, const TagEntry&)
{
    EmitBlock(builder, 0);
    EnsureCell(builder);
    AddNode(builder, NODE_RULE);
    EmitBlock(builder, 0);
}

void OpenImage(HtmlBuilder& builder, const HtmlToken& tag, const TagEntry&)
{
    const wchar_t* value;
    DWORD length;
    if (FindAttribute(tag, L"alt", value, length))
        DecodeText(builder, value, length, EmitUnit);
}

void OpenLink(HtmlBuilder& builder, const HtmlToken& tag, const TagEntry&)
{
    const wchar_t* value;
    DWORD length;
    builder.link = 0;
    if (!FindAttribute(tag, L"href", value, length))
        return;
    HtmlDocument& document = *builder.document;
    DWORD start = document.text.count;
    DecodeText(builder, value, length, KeepUnit);
    AppendUnit(builder, 0);
    HtmlLink* link = builder.failed ? nullptr : AppendItem(document.links);
    if (!link) {
        builder.failed = true;
        return;
    }
    *link = {start, static_cast<DWORD>(document.text.count) - 1 - start};
    builder.link = document.links.count;
}

void CloseLink(HtmlBuilder& builder, const HtmlToken&, const TagEntry&) { builder.link = 0; }

void OpenTable(HtmlBuilder& builder, const HtmlToken&, const TagEntry& entry)
{
    EnsureCell(builder);
    EmitBlock(builder, builder.tables ? 0 : 1);
    if (!builder.tables++) {
        if (HtmlNode* node = AddNode(builder, NODE_TABLE))
            node->indent = Top(builder).indent;
        builder.rowOpen = builder.cellOpen = false;
        if (BlockEntry* table = Push(builder, &entry))
            *table = {&entry, 0, ALIGN_LEFT, 0, false, false, LIST_NONE, 0};
    } else {
        Push(builder, &entry);
    }
}

void CloseTable(HtmlBuilder& builder, const HtmlToken&, const TagEntry& entry)
{
    if (!builder.tables)
        return;
    PopToTable(builder);
    if (IsTag(Top(builder), entry.name))
        --builder.depth;
    if (--builder.tables) {
        EmitBlock(builder, 0);
        return;
    }
    AddNode(builder, NODE_TABLE_END);
    builder.rowOpen = builder.cellOpen = false;
    EmitBlock(builder, 1);
}

void OpenRow(HtmlBuilder& builder, const HtmlToken&, const TagEntry&)
{
    if (builder.tables != 1) {
        EmitBlock(builder, 0);
        return;
    }
    PopToTable(builder);
    AddNode(builder, NODE_ROW);
    builder.rowOpen = true;
    builder.cellOpen = false;
    builder.cells = 0;
}

void CloseRow(HtmlBuilder& builder, const HtmlToken&, const TagEntry&)
{
    if (builder.tables != 1) {
        EmitBlock(builder, 0);
        return;
    }
    PopToTable(builder);
    builder.rowOpen = builder.cellOpen = false;
}

// Cells past the column limit run on in the last cell, after a space.
void OpenCell(HtmlBuilder& builder, BYTE align)
{
    if (!builder.rowOpen) {
        AddNode(builder, NODE_ROW);
        builder.rowOpen = true;
        builder.cells = 0;
    }
    builder.cellOpen = true;
    if (builder.cells >= HTML_COLUMN_LIMIT) {
        NoteSpace(builder);
        return;
    }
    ++builder.cells;
    if (HtmlNode* cell = AddNode(builder, NODE_CELL))
        cell->align = align;
    builder.pendingSpace = false;
    builder.atLineStart = true;
}

// td and th: 'value' is 1 for a header cell.
void OpenCellTag(HtmlBuilder& builder, const HtmlToken& tag, const TagEntry& entry)
{
    if (builder.tables != 1) {
        if (builder.tables)
            NoteSpace(builder);
        return;
    }
    PopToTable(builder);
    BYTE align = AlignOf(tag, ALIGN_LEFT);
    OpenCell(builder, align);
    if (BlockEntry* cell = Push(builder, &entry)) {
        cell->align = align;
        cell->header = entry.value != 0;
    }
}

void CloseCellTag(HtmlBuilder& builder, const HtmlToken&, const TagEntry&)
{
    if (builder.tables == 1)
        PopToTable(builder);
}

// Tags shown by what they do; any other tag is dropped and its content shown as text.
const TagEntry TAG_TABLE[] = {
    {L"a", OpenLink, CloseLink, 0},
    {L"b", OpenStyle, CloseStyle, STYLE_BOLD},
    {L"strong", OpenStyle, CloseStyle, STYLE_BOLD},
    {L"i", OpenStyle, CloseStyle, STYLE_ITALIC},
    {L"em", OpenStyle, CloseStyle, STYLE_ITALIC},
    {L"cite", OpenStyle, CloseStyle, STYLE_ITALIC},
    {L"var", OpenStyle, CloseStyle, STYLE_ITALIC},
    {L"dfn", OpenStyle, CloseStyle, STYLE_ITALIC},
    {L"code", OpenStyle, CloseStyle, STYLE_MONO},
    {L"tt", OpenStyle, CloseStyle, STYLE_MONO},
    {L"kbd", OpenStyle, CloseStyle, STYLE_MONO},
    {L"samp", OpenStyle, CloseStyle, STYLE_MONO},
    {L"u", OpenStyle, CloseStyle, STYLE_UNDERLINE},
    {L"ins", OpenStyle, CloseStyle, STYLE_UNDERLINE},
    {L"title", OpenStyle, CloseStyle, STYLE_TITLE},
    {L"br", OpenBreak, nullptr, 0},
    {L"hr", OpenRule, nullptr, 0},
    {L"img", OpenImage, nullptr, 0},
    {L"p", OpenBlock, CloseBlock, 1},
    {L"div", OpenBlock, CloseBlock, 0},
    {L"center", OpenBlock, CloseBlock, 0},
    {L"address", OpenBlock, CloseBlock, 0},
    {L"blockquote", OpenBlock, CloseBlock, 1},
    {L"pre", OpenBlock, CloseBlock, 1},
    {L"h1", OpenBlock, CloseBlock, 1},
    {L"h2", OpenBlock, CloseBlock, 1},
    {L"h3", OpenBlock, CloseBlock, 1},
    {L"h4", OpenBlock, CloseBlock, 1},
    {L"h5", OpenBlock, CloseBlock, 1},
    {L"h6", OpenBlock, CloseBlock, 1},
    {L"dl", OpenBlock, CloseBlock, 1},
    {L"dt", OpenDefinition, CloseDefinition, 0},
    {L"dd", OpenDefinition, CloseDefinition, 1},
    {L"ul", OpenList, CloseList, LIST_BULLET},
    {L"dir", OpenList, CloseList, LIST_BULLET},
    {L"menu", OpenList, CloseList, LIST_BULLET},
    {L"ol", OpenList, CloseList, LIST_DECIMAL},
    {L"li", OpenItem, CloseItem, 0},
    {L"table", OpenTable, CloseTable, 0},
    {L"tr", OpenRow, CloseRow, 0},
    {L"td", OpenCellTag, CloseCellTag, 0},
    {L"th", OpenCellTag, CloseCellTag, 1},
};

const TagEntry* FindTag(const wchar_t* name)
{
    for (const auto& entry : TAG_TABLE)
        if (wcscmp(entry.name, name) == 0)
            return &entry;
    return nullptr;
}

// A name or id attribute marks a place that links ending in "#name" lead to.
void AddAnchor(HtmlBuilder& builder, const HtmlToken& tag, bool isLink)
{
    const wchar_t* value;
    DWORD length;
    if (!(isLink && FindAttribute(tag, L"name", value, length)) && !FindAttribute(tag, L"id", value, length))
        return;
    if (!length)
        return;
    DWORD start = builder.document->text.count;
    DecodeText(builder, value, length, KeepUnit);
    HtmlNode* anchor = builder.failed ? nullptr : AddNode(builder, NODE_ANCHOR);
    if (anchor) {
        anchor->start = start;
        anchor->length = builder.document->text.count - start;
    }
}

void HandleTag(HtmlBuilder& builder, const HtmlToken& tag)
{
    const TagEntry* entry = FindTag(tag.name);
    if (tag.kind == TOKEN_CLOSE) {
        if (entry && entry->close)
            entry->close(builder, tag, *entry);
        return;
    }
    if (entry && entry->open)
        entry->open(builder, tag, *entry);
    if (tag.length)
        AddAnchor(builder, tag, entry && entry->open == OpenLink);
}

} // namespace

bool IsWideUnit(wchar_t c)
{
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6);
}

DWORD DecodeEntity(const wchar_t* text, const wchar_t* end, DWORD& used, wchar_t out[2])
{
    if (text + 1 < end && text[1] == L'#')
        return DecodeNumericEntity(text, end, used, out);
    wchar_t name[ENTITY_NAME_UNITS];
    DWORD length = 0;
    const wchar_t* p = text + 1;
    for (; p < end && (IsAsciiLetter(*p) || IsAsciiDigit(*p)); ++p)
        if (++length >= ENTITY_NAME_UNITS)
            return 0;
    wmemcpy(name, text + 1, length);
    name[length] = 0;
    wchar_t unit = length ? FindNamedEntity(name) : 0;
    if (!unit)
        return 0;
    if (p < end && *p == L';')
        ++p;
    used = static_cast<DWORD>(p - text);
    out[0] = unit;
    return 1;
}

void FreeHtmlDocument(HtmlDocument& document)
{
    ReleaseItems(document.text);
    ReleaseItems(document.advance);
    ReleaseItems(document.nodes);
    ReleaseItems(document.links);
}

DWORD ParseHtml(const wchar_t* source, DWORD length, HtmlDocument& document)
{
    FreeHtmlDocument(document);
    HtmlBuilder builder = {};
    builder.document = &document;
    builder.depth = 1;
    builder.atLineStart = true;
    HtmlTokenizer tokenizer = {source, source + length, {}};
    HtmlToken token;
    while (!builder.failed && NextHtmlToken(tokenizer, token)) {
        if (token.kind == TOKEN_TEXT)
            DecodeText(builder, token.start, token.length, EmitUnit);
        else
            HandleTag(builder, token);
    }
    if (builder.tables && !builder.failed)
        AddNode(builder, NODE_TABLE_END);
    return builder.failed ? ERROR_OUTOFMEMORY : ERROR_SUCCESS;
}
