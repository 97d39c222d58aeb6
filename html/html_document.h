// The HTML view's inner parts, for the view and its tests: the parser turns HTML source
// into a flat list of nodes (text runs and block, table and anchor marks), the layout
// places those nodes as fragments on lines for a given width. Neither needs a window, so
// both can be fed arbitrary input on their own.
#pragma once
#include "base/buffer.h"
#include <windows.h>
#include <wchar.h>

// --- the document ---

// Font keys: a heading level 0-6 and four style bits; every run names one key.
constexpr WORD FONT_BOLD = 0x08;
constexpr WORD FONT_ITALIC = 0x10;
constexpr WORD FONT_MONO = 0x20;
constexpr WORD FONT_UNDERLINE = 0x40;
constexpr WORD FONT_HEADING_MASK = 0x07;
constexpr DWORD FONT_KEYS = 0x80;

enum HtmlNodeKind : BYTE {
    NODE_TEXT,        // a run of text in one font: start/length in the text
    NODE_BLOCK,       // a new block starts: indent, align, space above, list marker text
    NODE_BREAK,       // a line break (an empty line if nothing precedes it)
    NODE_RULE,        // a horizontal line
    NODE_TABLE,       // a table starts; rows and cells follow, up to NODE_TABLE_END
    NODE_ROW,
    NODE_CELL,        // align: the cell's alignment
    NODE_TABLE_END,
    NODE_ANCHOR,      // a link target: its name in the text
};

enum HtmlAlign : BYTE { ALIGN_LEFT, ALIGN_CENTER, ALIGN_RIGHT };

constexpr BYTE TEXT_PRE = 0x01;       // preformatted: spaces are kept at line ends and starts
constexpr DWORD HTML_COLUMN_LIMIT = 32; // table columns; further cells run on in the last

struct HtmlNode {
    BYTE kind;
    BYTE align;
    BYTE indent;      // list and quote depth
    BYTE space;       // half lines of space above a block
    WORD font;
    BYTE flags;
    DWORD start;      // text, list marker or anchor name
    DWORD length;
    DWORD link;       // 1 + index into links; 0: not a link
};

// A link's address, NUL-terminated in the text.
struct HtmlLink {
    DWORD start;
    DWORD length;
};

struct HtmlDocument {
    Buffer<wchar_t> text;         // every shown character, list marker, address and anchor name
    Buffer<int> advance;          // the width of each character of 'text', filled by measuring
    Buffer<HtmlNode> nodes;
    Buffer<HtmlLink> links;
};

// html_parse.cpp
// Parses 'length' units of HTML at 'source' into 'document' (emptied first). Unknown tags
// are dropped, script and style content skipped, unclosed elements closed at the end.
// Returns ERROR_SUCCESS or ERROR_OUTOFMEMORY.
[[nodiscard]] DWORD ParseHtml(const wchar_t* source, DWORD length, HtmlDocument& document);
void FreeHtmlDocument(HtmlDocument& document);
// Decodes the character reference at 'text' ('&' first) into 'out' (one unit, or a
// surrogate pair). Returns the units decoded (0 when it is no reference) and sets
// 'used' to the source units it spans.
DWORD DecodeEntity(const wchar_t* text, const wchar_t* end, DWORD& used, wchar_t out[2]);
// True for the wide (CJK) characters that lines may break before and after.
bool IsWideUnit(wchar_t unit);

// html_charset.cpp
// Decodes the bytes of an HTML page: with a byte-order mark (or as UTF-16 without one) as
// ReadTextFile would; otherwise in the charset a <meta> tag in its first 1024 bytes
// declares, else as UTF-8 when the bytes are valid UTF-8, else in the ANSI code page.
// Returns a malloc'ed text ending in NUL; nullptr when memory runs out or the page is
// longer than a conversion can count.
wchar_t* DecodeHtmlBytes(const unsigned char* bytes, size_t length);
// Reads the file 'path' and decodes it as DecodeHtmlBytes does; nullptr when it cannot.
wchar_t* ReadHtmlFile(const wchar_t* path);

// --- the layout ---

struct HtmlFonts {
    HFONT font[FONT_KEYS];
    int ascent[FONT_KEYS];
    int descent[FONT_KEYS];
    int pixelsPerInch;
};

constexpr BYTE FRAGMENT_RULE = 0x01;      // a horizontal line, not text
constexpr BYTE FRAGMENT_CELL = 0x02;      // first fragment of a line of a table cell
constexpr BYTE FRAGMENT_PRE = 0x04;
constexpr BYTE FRAGMENT_MARKER = 0x08;    // a list item's bullet or number, left of the text

struct HtmlFragment {
    int x;
    int baseline;
    int width;
    DWORD start;
    DWORD length;
    DWORD link;
    WORD font;
    BYTE flags;
};

// Lines from the top, sorted by 'top'; a table row is one band holding all its cells.
struct HtmlBand {
    int top;
    int bottom;
    DWORD first;      // fragments [first, end)
    DWORD end;
};

struct HtmlAnchorPlace {
    DWORD start;      // name in the document's text
    DWORD length;
    int y;
};

struct HtmlLayout {
    Buffer<HtmlFragment> fragments;
    Buffer<HtmlBand> bands;
    Buffer<HtmlAnchorPlace> anchors;
    int height;
};

// html_layout.cpp
// Makes the fonts the document's runs need and measures every character with them.
[[nodiscard]] DWORD MeasureHtmlDocument(HtmlDocument& document, HtmlFonts& fonts);
void ReleaseHtmlFonts(HtmlFonts& fonts);
// Places the measured document in lines 'width' pixels wide (at least a minimum width).
[[nodiscard]] DWORD LayoutHtmlDocument(const HtmlDocument& document, const HtmlFonts& fonts, int width,
                                       HtmlLayout& layout);
void FreeHtmlLayout(HtmlLayout& layout);
// The shown text, lines ending in CR LF and table cells separated by a tab, into
// 'buffer' (capacity units with the NUL; nullptr to count). Returns the full length.
DWORD GetHtmlLayoutText(const HtmlDocument& document, const HtmlLayout& layout, wchar_t* buffer, DWORD capacity);
// The fragment holding character 'index' of that text; sets 'offset' to its place in it.
const HtmlFragment* FindFragmentOfChar(const HtmlDocument& document, const HtmlLayout& layout, DWORD index,
                                       DWORD& offset);
// The first band reaching below 'y'.
DWORD FindBandAt(const HtmlLayout& layout, int y);
