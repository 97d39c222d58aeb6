// Reading an HTML page from a file: the byte-order mark first, as for every text file,
// then the charset the page declares, then what the bytes are (UTF-8 when they are
// valid UTF-8, else the ANSI code page). Pages written today are UTF-8 without a mark.
#include "html/html_document.h"
#include "base/base.h"
#include <climits>

namespace {

constexpr size_t PRESCAN_BYTES = 1024;      // where a page's <meta> charset must appear
constexpr DWORD HTML_FILE_LIMIT = INT_MAX - 16;   // the conversion counts in int

struct CharsetRow {
    const char* name;
    UINT codePage;
};

// The usual names of the charsets pages declare. ISO 8859-1 and ASCII are read as
// windows-1252, as browsers do; a page that reached here in 8-bit bytes but says UTF-16
// is UTF-8, for the same reason.
constexpr CharsetRow CHARSET_TABLE[] = {
    {"utf-8", CP_UTF8},         {"utf8", CP_UTF8},          {"unicode-1-1-utf-8", CP_UTF8},
    {"utf-16", CP_UTF8},        {"utf-16le", CP_UTF8},      {"utf-16be", CP_UTF8},
    {"us-ascii", 1252},         {"ascii", 1252},            {"iso-8859-1", 1252},
    {"latin1", 1252},           {"windows-1252", 1252},     {"cp1252", 1252},
    {"windows-1250", 1250},     {"windows-1251", 1251},     {"windows-1253", 1253},
    {"windows-1254", 1254},     {"windows-1255", 1255},     {"windows-1256", 1256},
    {"windows-1257", 1257},     {"windows-1258", 1258},     {"windows-874", 874},
    {"iso-8859-2", 28592},      {"iso-8859-3", 28593},      {"iso-8859-4", 28594},
    {"iso-8859-5", 28595},      {"iso-8859-6", 28596},      {"iso-8859-7", 28597},
    {"iso-8859-8", 28598},      {"iso-8859-9", 1254},       {"iso-8859-13", 28603},
    {"iso-8859-15", 28605},     {"koi8-r", 20866},          {"koi8-u", 21866},
    {"shift_jis", 932},         {"shift-jis", 932},         {"sjis", 932},
    {"windows-31j", 932},       {"euc-jp", 20932},          {"iso-2022-jp", 50220},
    {"gb2312", 936},            {"gbk", 936},               {"gb18030", 54936},
    {"big5", 950},              {"euc-kr", 949},            {"ks_c_5601-1987", 949},
};

struct ByteSpan {
    const unsigned char* start;
    size_t length;
};

bool IsBlankByte(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

unsigned char LowerByte(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c | 0x20) : c; }

bool SpanIs(ByteSpan span, const char* word)
{
    size_t i = 0;
    for (; i < span.length && word[i]; ++i)
        if (LowerByte(span.start[i]) != static_cast<unsigned char>(word[i]))
            return false;
    return i == span.length && !word[i];
}

bool StartsWithNoCase(const unsigned char* at, const unsigned char* end, const char* word)
{
    for (; *word; ++at, ++word)
        if (at >= end || LowerByte(*at) != static_cast<unsigned char>(*word))
            return false;
    return true;
}

// The code page of a charset name (blanks around it ignored); 0 for a name not known
// or a code page this system cannot convert.
UINT CodePageOfCharset(ByteSpan name)
{
    while (name.length && IsBlankByte(name.start[0]))
        ++name.start, --name.length;
    while (name.length && IsBlankByte(name.start[name.length - 1]))
        --name.length;
    for (const auto& row : CHARSET_TABLE)
        if (SpanIs(name, row.name))
            return IsValidCodePage(row.codePage) ? row.codePage : 0;
    return 0;
}

// The charset inside a content-type text ("text/html; charset=utf-8"); empty without one.
ByteSpan CharsetInContent(ByteSpan content)
{
    const unsigned char* end = content.start + content.length;
    for (const unsigned char* p = content.start; p < end; ++p) {
        if (!StartsWithNoCase(p, end, "charset"))
            continue;
        const unsigned char* q = p + 7;
        while (q < end && IsBlankByte(*q))
            ++q;
        if (q == end || *q != '=')
            continue;
        for (++q; q < end && (IsBlankByte(*q) || *q == '"' || *q == '\''); ++q) {
        }
        const unsigned char* stop = q;
        while (stop < end && *stop != ';' && *stop != '"' && *stop != '\'' && !IsBlankByte(*stop))
            ++stop;
        return {q, static_cast<size_t>(stop - q)};
    }
    return {content.start, 0};
}

// Reads one attribute at 'p' (blanks and '/' before it skipped): its name and value.
// Returns where reading stopped; 'name' is empty at the tag's end.
const unsigned char* ReadAttribute(const unsigned char* p, const unsigned char* end, ByteSpan& name, ByteSpan& value)
{
    while (p < end && (IsBlankByte(*p) || *p == '/'))
        ++p;
    name = {p, 0};
    value = {p, 0};
    while (p < end && *p != '=' && *p != '>' && *p != '/' && !IsBlankByte(*p))
        ++p;
    name.length = static_cast<size_t>(p - name.start);
    while (p < end && IsBlankByte(*p))
        ++p;
    if (!name.length || p == end || *p != '=')
        return p;
    for (++p; p < end && IsBlankByte(*p); ++p) {
    }
    unsigned char quote = p < end && (*p == '"' || *p == '\'') ? *p++ : 0;
    value.start = p;
    while (p < end && (quote ? *p != quote : *p != '>' && !IsBlankByte(*p)))
        ++p;
    value.length = static_cast<size_t>(p - value.start);
    return p < end && quote ? p + 1 : p;
}

// The code page a <meta> tag declares, reading its attributes from 'p' up to its '>':
// charset="x", or http-equiv="content-type" with content="...; charset=x". 0 for none.
UINT CodePageOfMeta(const unsigned char*& p, const unsigned char* end)
{
    ByteSpan charset = {p, 0}, content = {p, 0};
    bool isContentType = false;
    for (;;) {
        ByteSpan name, value;
        const unsigned char* next = ReadAttribute(p, end, name, value);
        if (!name.length) {
            p = next;
            break;
        }
        if (SpanIs(name, "charset"))
            charset = value;
        else if (SpanIs(name, "content"))
            content = value;
        else if (SpanIs(name, "http-equiv"))
            isContentType = SpanIs(value, "content-type");
        p = next;
    }
    if (charset.length)
        return CodePageOfCharset(charset);
    return isContentType ? CodePageOfCharset(CharsetInContent(content)) : 0;
}

// The code page the first <meta> tag that names a known charset declares, looking at
// the first PRESCAN_BYTES bytes and skipping comments; 0 when there is none.
UINT DeclaredCodePage(const unsigned char* bytes, size_t length)
{
    const unsigned char* end = bytes + (length < PRESCAN_BYTES ? length : PRESCAN_BYTES);
    for (const unsigned char* p = bytes; p < end;) {
        if (StartsWithNoCase(p, end, "<!--")) {
            for (p += 4; p < end && !StartsWithNoCase(p, end, "-->"); ++p) {
            }
            p = end - p > 3 ? p + 3 : end;
            continue;
        }
        if (StartsWithNoCase(p, end, "<meta") && p + 5 < end && (IsBlankByte(p[5]) || p[5] == '/')) {
            p += 5;
            if (UINT codePage = CodePageOfMeta(p, end))
                return codePage;
            continue;
        }
        ++p;
    }
    return 0;
}

bool IsValidUtf8(const unsigned char* bytes, size_t length)
{
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes),
                               static_cast<int>(length), nullptr, 0) > 0;
}

} // namespace

wchar_t* DecodeHtmlBytes(const unsigned char* bytes, size_t length)
{
    if (length > HTML_FILE_LIMIT)
        return nullptr;
    TextEncoding encoding = DetectTextEncoding(bytes, length);
    const unsigned char* text = bytes + encoding.markBytes;
    size_t count = length - encoding.markBytes;
    if (!encoding.isUtf16 && encoding.markBytes == 0) {
        UINT declared = DeclaredCodePage(text, count);
        encoding.codePage = declared ? declared : IsValidUtf8(text, count) ? CP_UTF8 : CP_ACP;
    }
    auto* wide = static_cast<wchar_t*>(malloc((count + 1) * sizeof(wchar_t)));
    if (!wide)
        return nullptr;
    wide[DecodeTextBytes(encoding, text, count, wide)] = 0;
    return wide;
}

wchar_t* ReadHtmlFile(const wchar_t* path)
{
    DWORD length = HTML_FILE_LIMIT + 1;     // one byte more than is accepted: a longer file is refused
    auto* bytes = static_cast<unsigned char*>(ReadFileBytes(path, &length, nullptr));
    wchar_t* text = bytes ? DecodeHtmlBytes(bytes, length) : nullptr;
    free(bytes);
    return text;
}
