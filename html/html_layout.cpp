// Document nodes to positioned fragments. Every character is measured once, after
// parsing; laying out for a width is then arithmetic over those widths, so re-wrapping
// on every size change stays cheap. Lines break at spaces and around CJK characters;
// a word wider than the line is cut.
#include "html/html_document.h"
#include <strsafe.h>

namespace {

constexpr int BODY_POINTS = 10;
constexpr const wchar_t* TEXT_FACE = L"Tahoma";
constexpr const wchar_t* MONO_FACE = L"Courier New";
constexpr int HEADING_PERCENT[FONT_HEADING_MASK + 1] = {100, 200, 150, 117, 100, 83, 67, 100};   // h1-h6
constexpr DWORD MEASURE_CHUNK = 2048;
constexpr int MIN_LAYOUT_WIDTH = 32;
constexpr int MIN_COLUMN_WIDTH = 8;
constexpr int ROW_GAP = 2;

template <typename T>
T Larger(T a, T b) { return a > b ? a : b; }
template <typename T>
T Smaller(T a, T b) { return a < b ? a : b; }

HFONT MakeFont(const HtmlFonts& fonts, WORD key)
{
    LOGFONTW font = {};
    font.lfHeight = -MulDiv(BODY_POINTS * HEADING_PERCENT[key & FONT_HEADING_MASK], fonts.pixelsPerInch, 7200);
    font.lfWeight = key & FONT_BOLD ? FW_BOLD : FW_NORMAL;
    font.lfItalic = (key & FONT_ITALIC) != 0;
    font.lfUnderline = (key & FONT_UNDERLINE) != 0;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = key & FONT_MONO ? FIXED_PITCH | FF_MODERN : VARIABLE_PITCH | FF_SWISS;
    StringCchCopyW(font.lfFaceName, LF_FACESIZE, key & FONT_MONO ? MONO_FACE : TEXT_FACE);
    return CreateFontIndirectW(&font);
}

[[nodiscard]] bool EnsureFont(HtmlFonts& fonts, HDC dc, WORD key)
{
    if (fonts.font[key])
        return true;
    HFONT font = MakeFont(fonts, key);
    if (!font)
        return false;
    HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    fonts.font[key] = font;
    fonts.ascent[key] = metrics.tmAscent;
    fonts.descent[key] = metrics.tmDescent;
    return true;
}

// Widths of 'length' characters in the font selected into 'dc', measured in chunks that
// keep surrogate pairs whole.
void MeasureRun(HDC dc, const wchar_t* text, DWORD length, int* advance)
{
    int extents[MEASURE_CHUNK];
    while (length) {
        DWORD count = Smaller(length, MEASURE_CHUNK);
        if (count < length && IS_HIGH_SURROGATE(text[count - 1]))
            --count;
        SIZE size;
        if (!GetTextExtentExPointW(dc, text, static_cast<int>(count), 0, nullptr, extents, &size))
            ZeroMemory(extents, count * sizeof(int));
        int previous = 0;
        for (DWORD i = 0; i < count; ++i) {
            advance[i] = Larger(extents[i] - previous, 0);
            previous = Larger(extents[i], previous);
        }
        text += count;
        advance += count;
        length -= count;
    }
}

// --- flowing text into a column ---

struct Flow {
    const HtmlDocument* document;
    const HtmlFonts* fonts;
    HtmlLayout* layout;
    int left, right;          // the column the flow fills
    int lineLeft;             // left edge of the current block's lines
    int x;                    // pen on the current line
    int y;                    // top of the current line
    int pendingSpace;         // space above the next line, in pixels
    DWORD lineFirst;          // first fragment of the current line
    WORD lineFont;            // sizes a line with nothing on it
    BYTE align;
    bool placed;              // text placed on the current line
    bool anyLine;             // a line is done: space above blocks applies from now on
    bool inCell;              // lines go into the table row's band, not bands of their own
    bool failed;
};

int BodyLineHeight(const HtmlFonts& fonts) { return Larger(fonts.ascent[0] + fonts.descent[0], 1); }
int IndentStep(const HtmlFonts& fonts) { return 2 * BodyLineHeight(fonts); }

int IndentOf(const Flow& flow, BYTE indent)
{
    return Smaller(indent * IndentStep(*flow.fonts), (flow.right - flow.left) / 2);
}

int SumAdvance(const int* advance, DWORD from, DWORD to)
{
    int width = 0;
    for (; from < to; ++from)
        width += advance[from];
    return width;
}

HtmlFragment* AddFragment(Flow& flow)
{
    HtmlFragment* fragment = AppendItem(flow.layout->fragments);
    flow.failed |= !fragment;
    return fragment;
}

void AddBand(Flow& flow, int top, int bottom, DWORD first, DWORD end)
{
    HtmlBand* band = AppendItem(flow.layout->bands);
    if (band)
        *band = {top, bottom, first, end};
    flow.failed |= !band;
}

// Drops the spaces ending a line (outside preformatted text) and fragments left empty.
void TrimLineEnd(Flow& flow)
{
    Buffer<HtmlFragment>& fragments = flow.layout->fragments;
    const wchar_t* text = flow.document->text.items;
    const int* advance = flow.document->advance.items;
    while (fragments.count > flow.lineFirst) {
        HtmlFragment& last = fragments.items[fragments.count - 1];
        if (last.flags & (FRAGMENT_PRE | FRAGMENT_RULE | FRAGMENT_MARKER))
            return;
        while (last.length && text[last.start + last.length - 1] == L' ')
            last.width -= advance[last.start + --last.length];
        if (last.length)
            return;
        --fragments.count;
    }
}

// Sets the baselines of the current line's fragments, aligns them and moves below the
// line. A line with nothing on it takes space only when 'keepEmpty' (a <br>).
void FinishLine(Flow& flow, bool keepEmpty)
{
    TrimLineEnd(flow);
    Buffer<HtmlFragment>& fragments = flow.layout->fragments;
    const HtmlFonts& fonts = *flow.fonts;
    DWORD first = flow.lineFirst;
    DWORD end = fragments.count;
    flow.x = flow.lineLeft;
    flow.placed = false;
    if (end == first && !keepEmpty)
        return;
    int ascent = end == first ? fonts.ascent[flow.lineFont] : 0;
    int descent = end == first ? fonts.descent[flow.lineFont] : 0;
    int right = flow.lineLeft;
    for (DWORD i = first; i < end; ++i) {
        const HtmlFragment& fragment = fragments.items[i];
        ascent = Larger(ascent, fonts.ascent[fragment.font]);
        descent = Larger(descent, fonts.descent[fragment.font]);
        if (!(fragment.flags & FRAGMENT_MARKER))
            right = Larger(right, fragment.x + fragment.width);
    }
    int room = Larger(flow.right - right, 0);
    int shift = flow.align == ALIGN_CENTER ? room / 2 : flow.align == ALIGN_RIGHT ? room : 0;
    if (flow.anyLine)
        flow.y += flow.pendingSpace;
    flow.pendingSpace = 0;
    int top = flow.y;
    for (DWORD i = first; i < end; ++i) {
        HtmlFragment& fragment = fragments.items[i];
        fragment.baseline = top + ascent;
        if (!(fragment.flags & FRAGMENT_MARKER))
            fragment.x += shift;
        if (flow.inCell && i == first)
            fragment.flags |= FRAGMENT_CELL;
    }
    flow.y += ascent + descent;
    if (!flow.inCell)
        AddBand(flow, top, flow.y, first, end);
    flow.anyLine = true;
    flow.lineFirst = end;
}

// Adds [from, to) of a run to the line, joining the previous fragment when it ends where
// this starts in the same font and link.
void AppendPiece(Flow& flow, const HtmlNode& node, DWORD from, DWORD to, int width)
{
    Buffer<HtmlFragment>& fragments = flow.layout->fragments;
    HtmlFragment* last = fragments.count > flow.lineFirst ? &fragments.items[fragments.count - 1] : nullptr;
    BYTE flags = node.flags & TEXT_PRE ? FRAGMENT_PRE : 0;
    if (last && last->start + last->length == from && last->font == node.font && last->link == node.link &&
        last->flags == flags) {
        last->length += to - from;
        last->width += width;
    } else if (HtmlFragment* fragment = AddFragment(flow)) {
        *fragment = {flow.x, 0, width, from, to - from, node.link, node.font, flags};
    }
    flow.x += width;
    flow.placed = true;
}

// Measures the piece at 'i' that lines cannot break inside: a word, a single CJK
// character, or nothing at a space. Stops at the first unit that would pass 'room',
// so a word far wider than the line costs only a line's worth of work per line.
// Returns the piece's end; 'fits' tells whether the whole piece fits.
DWORD ScanWord(const wchar_t* text, const int* advance, DWORD i, DWORD end, int room, int& width, bool& fits)
{
    width = 0;
    fits = true;
    if (text[i] == L' ')
        return i;
    if (IsWideUnit(text[i])) {
        width = advance[i];
        fits = width <= room;
        return i + 1;
    }
    for (; i < end && text[i] != L' ' && !IsWideUnit(text[i]); width += advance[i++])
        if (width + advance[i] > room) {
            fits = false;
            return i;
        }
    return i;
}

void PlaceText(Flow& flow, const HtmlNode& node)
{
    const wchar_t* text = flow.document->text.items;
    const int* advance = flow.document->advance.items;
    bool pre = node.flags & TEXT_PRE;
    DWORD i = node.start;
    DWORD end = node.start + node.length;
    while (i < end && !flow.failed) {
        if (!pre && !flow.placed && text[i] == L' ') {
            ++i;
            continue;
        }
        int width;
        bool fits;
        DWORD pieceEnd = ScanWord(text, advance, i, end, flow.right - flow.x, width, fits);
        if (!fits && flow.placed) {
            FinishLine(flow, false);
            continue;
        }
        if (!fits && pieceEnd == i)                     // a word cut: at least one unit per line
            width = advance[pieceEnd++];
        if (!fits && pieceEnd < end && IS_LOW_SURROGATE(text[pieceEnd]))
            width += advance[pieceEnd++];
        while (pieceEnd < end && text[pieceEnd] == L' ')
            width += advance[pieceEnd++];
        AppendPiece(flow, node, i, pieceEnd, width);
        i = pieceEnd;
    }
}

void StartBlock(Flow& flow, const HtmlNode& node)
{
    FinishLine(flow, false);
    flow.pendingSpace = Larger(flow.pendingSpace, node.space * BodyLineHeight(*flow.fonts) / 2);
    flow.lineLeft = flow.left + IndentOf(flow, node.indent);
    flow.x = flow.lineLeft;
    flow.align = node.align;
    flow.lineFont = node.font;
    if (!node.length)
        return;
    int width = SumAdvance(flow.document->advance.items, node.start, node.start + node.length);
    int gap = BodyLineHeight(*flow.fonts) / 3;
    HtmlFragment* marker = AddFragment(flow);
    if (!marker)
        return;
    *marker = {Larger(flow.left, flow.lineLeft - width - gap), 0, width, node.start, node.length, 0, node.font,
               FRAGMENT_MARKER};
    flow.x = Larger(flow.lineLeft, marker->x + width + gap);
}

void PlaceBreak(Flow& flow, const HtmlNode& node)
{
    if (flow.layout->fragments.count == flow.lineFirst)
        flow.lineFont = node.font;
    FinishLine(flow, true);
}

void PlaceRule(Flow& flow, const HtmlNode&)
{
    FinishLine(flow, false);
    if (flow.anyLine)
        flow.y += flow.pendingSpace;
    flow.pendingSpace = 0;
    int height = BodyLineHeight(*flow.fonts);
    HtmlFragment* rule = AddFragment(flow);
    if (!rule)
        return;
    *rule = {flow.lineLeft, flow.y + height / 2, flow.right - flow.lineLeft, 0, 0, 0, 0, FRAGMENT_RULE};
    DWORD end = flow.layout->fragments.count;
    if (!flow.inCell)
        AddBand(flow, flow.y, flow.y + height, flow.lineFirst, end);
    flow.y += height;
    flow.lineFirst = end;
    flow.anyLine = true;
}

void RecordAnchor(Flow& flow, const HtmlNode& node)
{
    HtmlAnchorPlace* anchor = AppendItem(flow.layout->anchors);
    if (anchor)
        *anchor = {node.start, node.length, flow.y};
    flow.failed |= !anchor;
}

using NodePlacer = void (*)(Flow& flow, const HtmlNode& node);

// Indexed by node kind; table kinds are laid out by LayoutTable.
constexpr NodePlacer NODE_PLACERS[] = {PlaceText, StartBlock, PlaceBreak, PlaceRule, nullptr,
                                       nullptr,   nullptr,    nullptr,    RecordAnchor};
static_assert(ARRAYSIZE(NODE_PLACERS) == NODE_ANCHOR + 1);

bool IsTableNode(BYTE kind) { return kind >= NODE_TABLE && kind <= NODE_TABLE_END; }

DWORD LayoutTable(Flow& flow, DWORD index, DWORD end);

// Lays out nodes from 'index' until 'end' or, in a cell, the next table node. Returns
// the index it stopped at.
DWORD LayoutFlow(Flow& flow, DWORD index, DWORD end)
{
    const HtmlNode* nodes = flow.document->nodes.items;
    for (; index < end && !flow.failed; ++index) {
        BYTE kind = nodes[index].kind;
        if (kind == NODE_TABLE && !flow.inCell)
            index = LayoutTable(flow, index, end);
        else if (IsTableNode(kind) && flow.inCell)
            break;
        else if (!IsTableNode(kind))
            NODE_PLACERS[kind](flow, nodes[index]);
    }
    FinishLine(flow, false);
    return index;
}

// --- tables ---

struct TableColumns {
    DWORD count;
    int minimum[HTML_COLUMN_LIMIT];     // the widest word
    int maximum[HTML_COLUMN_LIMIT];     // the widest unwrapped line
    int x[HTML_COLUMN_LIMIT];
    int width[HTML_COLUMN_LIMIT];
};

// The narrowest a cell can be without cutting words, and its width unwrapped.
void MeasureCell(const Flow& flow, DWORD index, DWORD end, int& minimum, int& maximum)
{
    const HtmlNode* nodes = flow.document->nodes.items;
    const wchar_t* text = flow.document->text.items;
    const int* advance = flow.document->advance.items;
    int indent = 0;
    int line = 0;
    int word = 0;
    minimum = maximum = 0;
    for (; index < end && !IsTableNode(nodes[index].kind); ++index) {
        const HtmlNode& node = nodes[index];
        if (node.kind == NODE_BLOCK)
            indent = node.indent * IndentStep(*flow.fonts);
        if (node.kind != NODE_TEXT) {
            if (node.kind != NODE_ANCHOR)
                line = word = 0;
            continue;
        }
        for (DWORD i = node.start; i < node.start + node.length; ++i) {
            line += advance[i];
            word = text[i] == L' ' ? 0 : IsWideUnit(text[i]) ? advance[i] : word + advance[i];
            maximum = Larger(maximum, indent + line);
            minimum = Larger(minimum, indent + word);
        }
    }
}

// Gives each column its unwrapped width if all fit, else shares what is left above the
// narrowest widths in proportion to how much more each column wants.
void ShareWidth(TableColumns& columns, int left, int available, int gap)
{
    long long narrowest = 0;
    long long widest = 0;
    for (DWORD c = 0; c < columns.count; ++c) {
        narrowest += columns.minimum[c];
        widest += columns.maximum[c];
    }
    for (DWORD c = 0; c < columns.count; ++c) {
        long long width = columns.maximum[c];
        if (widest > available && narrowest >= available)
            width = narrowest ? columns.minimum[c] * available / narrowest : available / columns.count;
        else if (widest > available)
            width = columns.minimum[c] +
                    (columns.maximum[c] - columns.minimum[c]) * (available - narrowest) / (widest - narrowest);
        columns.width[c] = Larger(static_cast<int>(width), MIN_COLUMN_WIDTH);
        columns.x[c] = left;
        left += columns.width[c] + gap;
    }
}

// Closes a table row: its fragments, from all its cells, in reading order.
void FinishRow(Flow& flow, DWORD& rowFirst, int& rowBottom)
{
    Buffer<HtmlFragment>& fragments = flow.layout->fragments;
    DWORD end = fragments.count;
    if (end > rowFirst) {
        qsort(&fragments.items[rowFirst], end - rowFirst, sizeof(HtmlFragment), [](const void* a, const void* b) {
            auto* first = static_cast<const HtmlFragment*>(a);
            auto* second = static_cast<const HtmlFragment*>(b);
            if (first->baseline != second->baseline)
                return first->baseline < second->baseline ? -1 : 1;
            return first->x < second->x ? -1 : first->x > second->x;
        });
        AddBand(flow, flow.y, rowBottom, rowFirst, end);
    }
    if (end > rowFirst || rowBottom > flow.y) {
        flow.y = rowBottom + ROW_GAP;
        flow.anyLine = true;
    }
    rowFirst = end;
    rowBottom = flow.y;
}

void MeasureColumns(const Flow& flow, DWORD index, DWORD tableEnd, TableColumns& columns)
{
    const HtmlNode* nodes = flow.document->nodes.items;
    DWORD column = 0;
    for (DWORD i = index + 1; i < tableEnd; ++i) {
        if (nodes[i].kind == NODE_ROW)
            column = 0;
        if (nodes[i].kind != NODE_CELL || column >= HTML_COLUMN_LIMIT)
            continue;
        int minimum;
        int maximum;
        MeasureCell(flow, i + 1, tableEnd, minimum, maximum);
        columns.minimum[column] = Larger(columns.minimum[column], minimum);
        columns.maximum[column] = Larger(columns.maximum[column], maximum);
        columns.count = Larger(columns.count, ++column);
    }
}

// Lays out the table at 'index' row by row, each cell a flow of its own in its column.
// Returns the index of the table's end node.
DWORD LayoutTable(Flow& flow, DWORD index, DWORD end)
{
    const HtmlNode* nodes = flow.document->nodes.items;
    DWORD tableEnd = index + 1;
    while (tableEnd < end && nodes[tableEnd].kind != NODE_TABLE_END)
        ++tableEnd;
    TableColumns columns = {};
    MeasureColumns(flow, index, tableEnd, columns);
    int gap = BodyLineHeight(*flow.fonts);
    int left = flow.left + IndentOf(flow, nodes[index].indent);
    int gaps = columns.count ? gap * static_cast<int>(columns.count - 1) : 0;
    ShareWidth(columns, left, Larger(flow.right - left - gaps, 0), gap);
    FinishLine(flow, false);
    if (flow.anyLine)
        flow.y += flow.pendingSpace;
    flow.pendingSpace = 0;
    DWORD rowFirst = flow.layout->fragments.count;
    int rowBottom = flow.y;
    DWORD column = 0;
    for (DWORD i = index + 1; i < tableEnd && !flow.failed; ++i) {
        const HtmlNode& node = nodes[i];
        if (node.kind == NODE_ROW) {
            FinishRow(flow, rowFirst, rowBottom);
            column = 0;
        } else if (node.kind == NODE_ANCHOR) {
            RecordAnchor(flow, node);
        } else if (node.kind == NODE_CELL && column < columns.count) {
            Flow cell = flow;
            cell.left = cell.lineLeft = cell.x = columns.x[column];
            cell.right = columns.x[column] + columns.width[column];
            cell.pendingSpace = 0;
            cell.lineFirst = flow.layout->fragments.count;
            cell.lineFont = 0;
            cell.align = node.align;
            cell.placed = cell.anyLine = false;
            cell.inCell = true;
            i = LayoutFlow(cell, i + 1, tableEnd) - 1;
            rowBottom = Larger(rowBottom, cell.y);
            flow.failed |= cell.failed;
            ++column;
        }
    }
    FinishRow(flow, rowFirst, rowBottom);
    flow.lineFirst = flow.layout->fragments.count;
    return tableEnd;
}

// --- reading the shown text back ---

struct TextWalk {
    wchar_t* buffer;
    DWORD capacity;
    DWORD length;
    DWORD target;                 // the character whose fragment is sought
    const HtmlFragment* found;
    DWORD offset;
};

void PutUnits(TextWalk& walk, const wchar_t* units, DWORD count, const HtmlFragment* fragment)
{
    if (fragment && !walk.found && walk.target >= walk.length && walk.target - walk.length < count) {
        walk.found = fragment;
        walk.offset = walk.target - walk.length;
    }
    if (walk.buffer && walk.length + 1 < walk.capacity)
        wmemcpy(walk.buffer + walk.length, units, Smaller(count, walk.capacity - 1 - walk.length));
    walk.length += count;
}

// Fragments are stored in reading order: a new baseline starts a line, a cell's first
// fragment follows a tab, and a gap (after a list marker) a space.
void WalkText(const HtmlDocument& document, const HtmlLayout& layout, TextWalk& walk)
{
    const HtmlFragment* previous = nullptr;
    for (DWORD i = 0; i < layout.fragments.count; ++i) {
        const HtmlFragment& fragment = layout.fragments.items[i];
        if (fragment.flags & FRAGMENT_RULE)
            continue;
        if (previous) {
            const wchar_t* separator = fragment.baseline != previous->baseline ? L"\r\n"
                                       : fragment.flags & FRAGMENT_CELL        ? L"\t"
                                       : fragment.x > previous->x + previous->width ? L" "
                                                                                    : L"";
            PutUnits(walk, separator, static_cast<DWORD>(wcslen(separator)), nullptr);
        }
        PutUnits(walk, document.text.items + fragment.start, fragment.length, &fragment);
        previous = &fragment;
    }
}

} // namespace

DWORD MeasureHtmlDocument(HtmlDocument& document, HtmlFonts& fonts)
{
    Buffer<int>& advance = document.advance;
    advance.count = 0;
    if (ReserveItems(advance, document.text.count) != ERROR_SUCCESS)
        return ERROR_OUTOFMEMORY;
    advance.count = document.text.count;
    if (advance.count)      // an empty page has no array at all
        ZeroMemory(advance.items, advance.count * sizeof(int));
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (!fonts.pixelsPerInch)
        fonts.pixelsPerInch = GetDeviceCaps(dc, LOGPIXELSY);
    HGDIOBJ original = GetCurrentObject(dc, OBJ_FONT);
    bool made = EnsureFont(fonts, dc, 0);
    for (DWORD i = 0; i < document.nodes.count && made; ++i) {
        const HtmlNode& node = document.nodes.items[i];
        made = EnsureFont(fonts, dc, node.font);
        if (made && node.length && (node.kind == NODE_TEXT || node.kind == NODE_BLOCK)) {
            SelectObject(dc, fonts.font[node.font]);
            MeasureRun(dc, document.text.items + node.start, node.length, advance.items + node.start);
        }
    }
    SelectObject(dc, original);
    DeleteDC(dc);
    return made ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

void ReleaseHtmlFonts(HtmlFonts& fonts)
{
    for (HFONT& font : fonts.font) {
        if (font)
            DeleteObject(font);
        font = nullptr;
    }
}

DWORD LayoutHtmlDocument(const HtmlDocument& document, const HtmlFonts& fonts, int width, HtmlLayout& layout)
{
    layout.fragments.count = layout.bands.count = layout.anchors.count = 0;
    layout.height = 0;
    Flow flow = {};
    flow.document = &document;
    flow.fonts = &fonts;
    flow.layout = &layout;
    flow.right = Larger(width, MIN_LAYOUT_WIDTH);
    LayoutFlow(flow, 0, document.nodes.count);
    layout.height = flow.y;
    return flow.failed ? ERROR_OUTOFMEMORY : ERROR_SUCCESS;
}

void FreeHtmlLayout(HtmlLayout& layout)
{
    ReleaseItems(layout.fragments);
    ReleaseItems(layout.bands);
    ReleaseItems(layout.anchors);
    layout.height = 0;
}

DWORD GetHtmlLayoutText(const HtmlDocument& document, const HtmlLayout& layout, wchar_t* buffer, DWORD capacity)
{
    TextWalk walk = {buffer, capacity, 0, MAXDWORD, nullptr, 0};
    WalkText(document, layout, walk);
    if (buffer && capacity)
        buffer[Smaller(walk.length, capacity - 1)] = 0;
    return walk.length;
}

const HtmlFragment* FindFragmentOfChar(const HtmlDocument& document, const HtmlLayout& layout, DWORD index,
                                       DWORD& offset)
{
    TextWalk walk = {nullptr, 0, 0, index, nullptr, 0};
    WalkText(document, layout, walk);
    offset = walk.offset;
    return walk.found;
}

DWORD FindBandAt(const HtmlLayout& layout, int y)
{
    DWORD low = 0;
    DWORD high = layout.bands.count;
    while (low < high) {
        DWORD middle = low + (high - low) / 2;
        if (layout.bands.items[middle].bottom <= y)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}
