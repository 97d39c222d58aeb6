// The checker (Varnolt.exe /check): reads script files as LOAD reads them, line by line as
// the runner cuts them, and reports what would go wrong at run time; it runs nothing and
// changes nothing. The structure of a script (blocks, procedures, labels, keywords, LOAD)
// is checked here; each keyword's arguments by the check in its row of the keyword table;
// registry text by the importer itself behind an observer that lets nothing be written;
// provisioning documents by the provisioning check. Every finding goes to the finding
// sink (base/findings.h), which places it by file, line and column.
#include "engine/engine.h"
#include "base/changes.h"
#include <cstdlib>
#include <cwchar>

const FindingRow FINDING_ROWS[] = {
    {FINDING_UNKNOWN_KEYWORD, true, L"unknown keyword `%s`: the line would be opened as a file, and no file of that name is here"},
    {FINDING_LINE_TOO_LONG, true, L"the line is longer than 4095 characters after its escapes: a run refuses it with 111"},
    {FINDING_BLOCK_NOT_CLOSED, true,
     L"IFEX block never closed: no line `IFEX` alone (in capitals, nothing after it) follows, so a false condition ends the run with 1"},
    {FINDING_ELSE_WITHOUT_IFEX, true, L"ELSE with no IFEX before it in this script or procedure: it never runs"},
    {FINDING_ENDP_OUTSIDE_PROCEDURE, false, L"ENDP outside a procedure ends the run here: the lines after it run only when GOTO reaches them"},
    {FINDING_LABEL_NOT_FOUND, true, L"no `%s` below this line: the search goes forward only, and the line gives 1"},
    {FINDING_LABEL_DEFINED_TWICE, false, L"%s: defined twice, and CALL and GOTO reach the first one below them"},
    {FINDING_PROCEDURE_NOT_ENDED, false, L"no `%s` below: reached in sequence, this line ends the run with 1"},
    {FINDING_LOADED_FILE_MISSING, false, L"LOAD: no file `%s` now, so it is not checked"},
    {FINDING_FILE_UNREADABLE, true, L"no file to check: nothing matches, or the file cannot be read"},
    {FINDING_BLANK_BEFORE_KEYWORD, true, L"the blank before `%s` makes this piece a file to open, not a command"},
    {FINDING_LABEL_LANDS_ELSEWHERE, false, L"%s, which is no label line of that name: the search takes the first text that starts so"},
    {FINDING_REGX_NO_ROOT, true,
     L"registry path with no known root: it starts with HKCU\\, HKLM\\, HKCR\\, HKU\\ or a long form such as HKEY_CURRENT_USER\\, in capitals"},
    {FINDING_REGX_NO_VALUE_PART, true, L"registry path with no backslash between the key and the value name"},
    {FINDING_FILE_NO_OPERATOR, true,
     L"FILE without an operator deletes, and a comma is no operator: write the operator (<, {, >, or \\ at the end), or the comma as %%,"},
    {FINDING_NUMBER_OUT_OF_RANGE, true, L"number out of range: it is read as the largest or smallest number instead"},
    {FINDING_DIALOG_TOO_MANY_ITEMS, false, L"a dialog shows 32 items at most: this item and those after it are left out"},
    {FINDING_DIALOG_ITEM_WITHOUT_BAR, false, L"an @ item without `|` makes no control"},
    {FINDING_REGX_BINARY_COMMA, true, L"a comma ends REGX binary data there: write the commas between the bytes as %%,"},
    {FINDING_FILE_COMMA, false, L"a comma in a FILE argument stays the separator code 1 in the name or text: write it as %%,"},
    {FINDING_REGISTRY_BAD_HEX, true,
     L"bad hex data: a byte is two hex digits, bytes are separated by commas, dword: takes one to eight digits; anything else is misread"},
    {FINDING_REGISTRY_UNKNOWN_TYPE, true,
     L"unknown type: the value is neither quoted text, `-`, nor dword:, hex:, hex(n):, multi_sz: or mui_sz: data, and the line is skipped"},
    {FINDING_REGISTRY_UNTERMINATED_TEXT, true, L"unterminated text: a quote is not closed, and the line is skipped"},
    {FINDING_REGISTRY_UNKNOWN_ROOT, true, L"unknown root: the key line opens nothing, and the value lines under it are no registry text"},
    {FINDING_REGISTRY_FOREIGN_LINE, true,
     L"no registry text: a file skips it (the import gives 1017); in a script a value line here ends the section and runs as a command"},
    {FINDING_REGISTRY_NO_EQUALS, true, L"a value line without `=`: it is skipped"},
    {FINDING_REGISTRY_KEY_NOT_CLOSED, false, L"a key line without its closing `]`: its last character is cut off the key's name"},
    {FINDING_XML_NOT_WELL_FORMED, true, L"not well-formed XML: the document is refused (0x80042009)"},
    {FINDING_XML_OTHER_ROOT, true, L"the root is no wap-provisioningdoc: the document is refused (0x8007000D)"},
    {FINDING_XML_UNKNOWN_PROVIDER, false, L"a characteristic other than Registry: the desktop refuses the whole document (0x80042004)"},
    {FINDING_XML_UNKNOWN_DATATYPE, true, L"unknown datatype: the document is refused (0x8007065E)"},
    {FINDING_XML_BAD_VALUE, true, L"a value that does not fit its datatype: the document is refused (0x8007065D)"},
    {FINDING_XML_BAD_KEY_PATH, true,
     L"a key path with an unknown root, an empty part, or a root to delete: the document is refused (0x800700A1)"},
    {FINDING_XML_UNSUPPORTED, true, L"an element, attribute or text outside the subset: the document is refused (0x80070032)"},
    {FINDING_XML_NO_MARKER, false, L"no `<>` marker after this block: it runs to the end of the script"},
    {FINDING_XML_NOT_CHECKED, true, L"the document could not be checked (no memory, or no XML parser)"},
};
const size_t FINDING_ROW_COUNT = ARRAYSIZE(FINDING_ROWS);

namespace {

constexpr size_t DETAIL_CHARS = 80;         // a name or path shown in a message; longer ones end in "..."
constexpr size_t MESSAGE_CHARS = 512;
constexpr int MAX_PIECE_DEPTH = 8;          // commands inside commands (inline IFEX, ELSE, BATC) checked
constexpr size_t MAX_SCOPES = 16;           // procedures inside procedures tracked
constexpr size_t FIRST_LABEL_SLOTS = 64;

// The whole check: where its output goes, its counts, and the files it has met. Each
// file is checked once, in the order met: first those the pattern names, then those they
// LOAD.
struct CheckRun {
    const CheckOutput* output;
    unsigned errors;
    unsigned warnings;
    Buffer<FileIdentity> checked;
    Buffer<wchar_t> pending;        // paths to check, each ended by NUL
    size_t pendingRead;
};

// A procedure being read: its lines run up to 'end', the line after its ENDP line.
struct Scope {
    const wchar_t* end;
    bool seenIfex;                  // an IFEX line stood above, in this procedure or script
};

// The names defined by PROC lines, by a hash of the line after its keyword.
struct LabelSlot {
    unsigned long long hash;
    unsigned line;                  // 0: a free slot
};

// A piece of the line (a BATC piece) copied out and ended, as the runner copies it.
struct PieceCopy {
    const wchar_t* start;
    const wchar_t* end;
    const wchar_t* origin;          // where the piece stands in the line
};

struct FileCheck {
    CheckRun* run;
    const wchar_t* path;
    wchar_t* text;
    const wchar_t* textEnd;
    TextOrigin lines;               // counts lines for the findings' places
    ScriptContext context;
    ScriptLine line;
    PieceCopy copy;
    const wchar_t* lastBlockEnd;    // the last "IFEX" + line break of the text; looked for once
    bool blockEndKnown;
    Scope scopes[MAX_SCOPES];
    size_t scopeCount;
    Buffer<LabelSlot> labels;       // open addressing, a power of two
    size_t labelCount;
    const wchar_t* pendingEndp;     // a top-level ENDP that no top-level line has followed yet
    bool outOfSequence;             // a GOTO line jumped away: the lines below run only from a label
    const wchar_t* elsePiece;       // the command an ELSE of this line runs
};

// --- output ---

const FindingRow* FindRow(FindingCode code)
{
    for (const auto& row : FINDING_ROWS)
        if (row.code == code)
            return &row;
    return nullptr;
}

void Write(const CheckRun& run, const wchar_t* text)
{
    run.output->write(run.output->context, text);
}

// Writes "path(line,column): error VRnnnn: message" and counts it.
void WriteFinding(CheckRun& run, const wchar_t* path, unsigned line, unsigned column, FindingCode code,
                  const wchar_t* detail)
{
    const FindingRow* row = FindRow(code);
    if (!row)
        return;
    wchar_t place[64];
    StringCchPrintfW(place, ARRAYSIZE(place), L"(%u,%u): %s VR%04u: ", line, column, row->isError ? L"error" : L"warning",
                     static_cast<unsigned>(code));
    wchar_t message[MESSAGE_CHARS];
    StringCchPrintfW(message, ARRAYSIZE(message), row->message, detail ? detail : L"");
    Write(run, path);
    Write(run, place);
    Write(run, message);
    Write(run, L"\r\n");
    ++(row->isError ? run.errors : run.warnings);
}

// The text of 'count' units at 'start' for a message, cut to DETAIL_CHARS.
template <size_t N>
const wchar_t* Detail(wchar_t (&detail)[N], const wchar_t* start, size_t count)
{
    static_assert(N >= DETAIL_CHARS + 4);     // "..." and the NUL
    size_t kept = count < DETAIL_CHARS ? count : DETAIL_CHARS;
    wmemcpy(detail, start, kept);
    for (size_t i = 0; i < kept; ++i)
        if (detail[i] == ARG_SEPARATOR)
            detail[i] = L',';
    StringCchCopyW(detail + kept, N - kept, kept < count ? L"..." : L"");
    return detail;
}

// --- places ---

// A position in the line buffer or in a piece copied out of it, as an offset in the line.
size_t LineOffset(const FileCheck& check, const wchar_t* at)
{
    if (at >= check.copy.start && at <= check.copy.end)
        at = check.copy.origin + (at - check.copy.start);
    return static_cast<size_t>(at - check.line.units.items);
}

bool IsInLine(const FileCheck& check, const wchar_t* at)
{
    const wchar_t* units = check.line.units.items;
    return (at >= units && at <= units + check.line.units.count) || (at >= check.copy.start && at <= check.copy.end);
}

// The place in the text of a position in the line: the text and the line agree unit for
// unit up to the first escape, which stands for the rest.
const wchar_t* RawPlace(const FileCheck& check, const wchar_t* at)
{
    if (!IsInLine(check, at))
        return at >= check.text && at <= check.textEnd ? at : check.context.lineStart;
    const wchar_t* raw = check.context.lineStart;
    for (size_t offset = LineOffset(check, at); offset > 0; --offset, ++raw)
        if (*raw == L'%' || *raw == L'\r' || *raw == L'\n' || !*raw)
            break;
    return raw;
}

// Writes a finding at 'at', a position in the text or in the line being checked.
void Report(FileCheck& check, FindingCode code, const wchar_t* at, const wchar_t* detail = nullptr)
{
    const wchar_t* raw = RawPlace(check, at);
    if (raw < check.lines.countedTo)
        check.lines = {check.path, check.text, 0};      // a place behind the count: count again
    unsigned line = LineNumberAt(check.lines, raw);
    const wchar_t* lineStart = raw;
    while (lineStart > check.text && lineStart[-1] != L'\n' && lineStart[-1] != L'\r')
        --lineStart;
    WriteFinding(*check.run, check.path, line, static_cast<unsigned>(raw - lineStart) + 1, code, detail);
}

void ReportFromReader(void* context, FindingCode code, const wchar_t* at)
{
    Report(*static_cast<FileCheck*>(context), code, at);
}

// True when no escape that only a run knows stands in the line before 'end'.
bool IsKnownUpTo(const FileCheck& check, const wchar_t* end)
{
    return check.line.unknownFrom > LineOffset(check, end);
}

// True when no variable, whose text may hold separators and ';', stands before 'end'.
bool IsShapeKnownUpTo(const FileCheck& check, const wchar_t* end)
{
    return check.line.variableFrom > LineOffset(check, end);
}

// --- the checks of the engine's own keywords ---

Scope& CurrentScope(FileCheck& check)
{
    return check.scopes[check.scopeCount - 1];
}

void CheckCommand(FileCheck& check, const wchar_t* command, int depth, bool wholeLine);

void CheckPiece(FileCheck& check, const wchar_t* piece, int depth)
{
    if (depth < MAX_PIECE_DEPTH)
        CheckCommand(check, piece, depth + 1, false);
}

// The last place where "IFEX" and a line break close a block, as the runner looks for it.
const wchar_t* LastBlockEnd(FileCheck& check)
{
    if (check.blockEndKnown)
        return check.lastBlockEnd;
    check.blockEndKnown = true;
    for (const wchar_t* at = check.textEnd; at > check.text; --at) {
        if (at[-1] != L'\n')
            continue;
        const wchar_t* end = at - 1 > check.text && at[-2] == L'\r' ? at - 2 : at - 1;
        if (end - check.text >= 4 && wcsncmp(end - 4, L"IFEX", 4) == 0) {
            check.lastBlockEnd = end - 4;
            break;
        }
    }
    return check.lastBlockEnd;
}

void CheckIfex(FileCheck& check, const wchar_t* command, const wchar_t* args, int depth)
{
    if (!*args)
        return;                                 // the line that closes a block
    CurrentScope(check).seenIfex = true;
    ArgumentPieces parts = CutArgument(args, 2);
    if (!IsShapeKnownUpTo(check, parts.pieces[0].start + parts.pieces[0].length))
        return;                                 // a variable may hold the separator
    if (parts.count > 1) {
        CheckPiece(check, parts.pieces[1].start, depth);
        return;
    }
    const wchar_t* blockEnd = LastBlockEnd(check);
    if (!blockEnd || blockEnd < check.context.cursor)
        Report(check, FINDING_BLOCK_NOT_CLOSED, command);
}

// An ELSE run by an ELSE was reported with the outer one.
void CheckElse(FileCheck& check, const wchar_t* command, const wchar_t* args, int depth)
{
    if (!CurrentScope(check).seenIfex && command != check.elsePiece)
        Report(check, FINDING_ELSE_WITHOUT_IFEX, command);
    check.elsePiece = args;
    if (*args)
        CheckPiece(check, args, depth);
}

// Each ';' piece as the runner runs it: the last one in place, the others from a copy.
void CheckBatch(FileCheck& check, const wchar_t* args, int depth)
{
    for (;;) {
        const wchar_t* semicolon = wcschr(args, L';');
        if (!IsShapeKnownUpTo(check, semicolon ? semicolon : args + wcslen(args)))
            return;                             // a variable may hold a ';'
        if (!semicolon) {
            CheckPiece(check, args, depth);
            return;
        }
        wchar_t piece[LINE_BUFFER_CHARS];
        if (CopyPiece(piece, {args, static_cast<size_t>(semicolon - args)}) == ERROR_SUCCESS) {
            PieceCopy outer = check.copy;
            check.copy = {piece, piece + (semicolon - args), args};
            CheckPiece(check, piece, depth);
            check.copy = outer;
        }
        args = semicolon + 1;
    }
}

// The runner's search text of a label line: 'keyword' and the line after the four
// letters it replaces, as written. False when it does not fit.
bool ComposeLabel(wchar_t (&search)[LINE_BUFFER_CHARS], const wchar_t* keyword, const wchar_t* command)
{
    return SUCCEEDED(StringCchCopyNW(search, LINE_BUFFER_CHARS, keyword, 4)) &&
           SUCCEEDED(StringCchCatW(search, LINE_BUFFER_CHARS, command + 4));
}

// True when 'found' starts a line of its own (after blanks) that holds 'length' units.
bool IsWholeLine(const FileCheck& check, const wchar_t* found, size_t length)
{
    const wchar_t* before = found;
    while (before > check.text && (before[-1] == L' ' || before[-1] == L'\t'))
        --before;
    bool starts = before == check.text || before[-1] == L'\n' || before[-1] == L'\r';
    wchar_t after = found[length];
    return starts && (!after || after == L'\r' || after == L'\n');
}

// CALL and GOTO search the text below for "PROC" and the rest of their line.
void CheckLabelJump(FileCheck& check, const wchar_t* command, bool wholeLine)
{
    wchar_t search[LINE_BUFFER_CHARS];
    if (!IsKnownUpTo(check, command + wcslen(command)) || !ComposeLabel(search, L"PROC", command))
        return;
    wchar_t detail[DETAIL_CHARS + 48];
    const wchar_t* found = wcsstr(check.context.cursor, search);
    size_t length = wcslen(search);
    if (!found) {
        Report(check, FINDING_LABEL_NOT_FOUND, command, Detail(detail, search, length));
        return;
    }
    if (!IsWholeLine(check, found, length)) {
        TextOrigin counter{check.path, check.text, 0};
        wchar_t label[DETAIL_CHARS + 4];
        StringCchPrintfW(detail, ARRAYSIZE(detail), L"`%s` lands on line %u", Detail(label, search, length),
                         LineNumberAt(counter, found));
        Report(check, FINDING_LABEL_LANDS_ELSEWHERE, command, detail);
    }
    if (wholeLine && MatchPrefixNoCase(command, L"GOTO") >= 4)
        check.outOfSequence = true;
}

unsigned long long HashText(const wchar_t* text)
{
    unsigned long long hash = 14695981039346656037ull;      // FNV-1a
    for (; *text; ++text)
        hash = (hash ^ *text) * 1099511628211ull;
    return hash;
}

// Finds the slot of 'hash': the one that holds it, or the free one where it belongs.
LabelSlot& FindLabelSlot(Buffer<LabelSlot>& labels, unsigned long long hash)
{
    size_t mask = labels.count - 1;
    size_t index = static_cast<size_t>(hash) & mask;
    while (labels.items[index].line && labels.items[index].hash != hash)
        index = (index + 1) & mask;
    return labels.items[index];
}

// Doubles the table when it is three quarters full; false without memory.
bool MakeRoomForLabel(FileCheck& check)
{
    if (check.labels.count && (check.labelCount + 1) * 4 <= check.labels.count * 3)
        return true;
    size_t slots = check.labels.count ? check.labels.count * 2 : FIRST_LABEL_SLOTS;
    Buffer<LabelSlot> grown{};
    if (ReserveItems(grown, slots) != ERROR_SUCCESS)
        return false;
    grown.count = slots;
    ZeroMemory(grown.items, slots * sizeof(LabelSlot));
    for (size_t i = 0; i < check.labels.count; ++i)
        if (check.labels.items[i].line)
            FindLabelSlot(grown, check.labels.items[i].hash) = check.labels.items[i];
    ReleaseItems(check.labels);
    check.labels = grown;
    return true;
}

void NoteLabel(FileCheck& check, const wchar_t* command)
{
    if (!MakeRoomForLabel(check))
        return;
    unsigned long long hash = HashText(command + 4);
    LabelSlot& slot = FindLabelSlot(check.labels, hash);
    if (slot.line) {
        wchar_t detail[DETAIL_CHARS + 48];
        wchar_t name[DETAIL_CHARS + 4];
        StringCchPrintfW(detail, ARRAYSIZE(detail), L"`PROC%s` (first at line %u)",
                         Detail(name, command + 4, wcslen(command + 4)), slot.line);
        Report(check, FINDING_LABEL_DEFINED_TWICE, command, detail);
        return;
    }
    slot = {hash, LineNumberAt(check.lines, check.context.lineStart)};
    ++check.labelCount;
}

// A PROC line reached in sequence skips to the line after "ENDP" and the rest of its
// line; the lines up to there are the procedure's.
void CheckProc(FileCheck& check, const wchar_t* command)
{
    wchar_t search[LINE_BUFFER_CHARS];
    if (!IsKnownUpTo(check, command + wcslen(command)) || !ComposeLabel(search, L"ENDP", command))
        return;
    NoteLabel(check, command);
    const wchar_t* found = wcsstr(check.context.cursor, search);
    const wchar_t* end = check.textEnd;
    if (found) {
        const wchar_t* lineFeed = wcschr(found + 4, L'\n');
        end = lineFeed ? lineFeed + 1 : check.textEnd;
    } else if (!check.outOfSequence) {                              // a label only GOTO lands below
        wchar_t detail[DETAIL_CHARS + 4];
        Report(check, FINDING_PROCEDURE_NOT_ENDED, command, Detail(detail, search, wcslen(search)));
    }
    check.outOfSequence = false;                // a GOTO lands below this line, and the lines after follow
    if (check.scopeCount < MAX_SCOPES)
        check.scopes[check.scopeCount++] = {end, false};
}

void CheckLoad(FileCheck& check, const wchar_t* args)
{
    if (!IsKnownUpTo(check, args + wcslen(args)))
        return;
    DWORD attributes = GetFileAttributesW(args);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        wchar_t detail[DETAIL_CHARS + 4];
        Report(check, FINDING_LOADED_FILE_MISSING, args, Detail(detail, args, wcslen(args)));
        return;
    }
    Buffer<wchar_t>& pending = check.run->pending;
    (void)AppendItems(pending, args, wcslen(args) + 1);
}

// --- lines ---

const KeywordEntry* FindKeyword(const wchar_t* command)
{
    const ScriptLanguage& language = CurrentScriptLanguage();
    for (size_t i = 0; i < language.keywordCount; ++i)
        if (MatchPrefixNoCase(command, language.keywords[i].name) >= 4)
            return &language.keywords[i];
    return nullptr;
}

// True when some file, not a folder, matches the path the line would open.
bool NamesAFile(const wchar_t* path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool file = false;
    do
        file = !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    while (!file && FindNextFileW(search, &found));
    FindClose(search);
    return file;
}

// A line without keyword opens files. One whose first word is four or more letters and
// nothing else, and that names no file, is most likely a keyword written wrong; a piece
// of a line that starts with a blank and a keyword has lost the keyword to the blank.
void CheckWithoutKeyword(FileCheck& check, const wchar_t* command)
{
    const wchar_t* word = SkipBlanks(command);
    size_t letters = 0;
    while ((word[letters] >= L'A' && word[letters] <= L'Z') || (word[letters] >= L'a' && word[letters] <= L'z'))
        ++letters;
    wchar_t after = word[letters];
    if (letters < 4 || (after && after != L' ' && after != L'\t' && after != ARG_SEPARATOR) ||
        !IsKnownUpTo(check, word + letters))
        return;
    wchar_t detail[DETAIL_CHARS + 4];
    if (word != command && FindKeyword(word)) {
        Report(check, FINDING_BLANK_BEFORE_KEYWORD, command, Detail(detail, word, 4));
        return;
    }
    OpenRequest request = ReadOpenRequest(command);
    wchar_t path[LINE_BUFFER_CHARS];
    if (!IsKnownUpTo(check, request.path.start + request.path.length) || CopyPiece(path, request.path) != ERROR_SUCCESS ||
        NamesAFile(path))
        return;
    Report(check, FINDING_UNKNOWN_KEYWORD, word, Detail(detail, word, letters));
}

// A command: a whole line, or a piece of one that an inline IFEX, an ELSE or a BATC runs.
void CheckCommand(FileCheck& check, const wchar_t* command, int depth, bool wholeLine)
{
    if (!IsKnownUpTo(check, command + 4) && wcslen(command) >= 4)
        return;                                 // the keyword itself is known only to the run
    const KeywordEntry* row = FindKeyword(command);
    if (!row) {
        CheckWithoutKeyword(check, command);
        return;
    }
    const wchar_t* args = SkipBlanks(command + 4);
    CommandHandler handler = row->handler;
    if (handler == CommandIfex)
        CheckIfex(check, command, args, depth);
    else if (handler == CommandElse)
        CheckElse(check, command, args, depth);
    else if (handler == CommandBatc)
        CheckBatch(check, args, depth);
    else if (handler == CommandCall || handler == CommandGoto)
        CheckLabelJump(check, command, wholeLine);
    else if (handler == CommandProc && wholeLine)
        CheckProc(check, command);
    else if (handler == CommandLoad)
        CheckLoad(check, args);
    if (row->check && IsKnownUpTo(check, args + wcslen(args)))
        row->check(args);
}

// A top-level ENDP ends the run; the top-level lines after it (not procedures) run only
// through GOTO.
void NoteTopLevelLine(FileCheck& check, const wchar_t* command)
{
    if (check.scopeCount > 1)
        return;
    const KeywordEntry* row = IsKnownUpTo(check, command + 4) ? FindKeyword(command) : nullptr;
    if (row && row->handler == CommandProc)
        return;
    if (check.pendingEndp) {
        Report(check, FINDING_ENDP_OUTSIDE_PROCEDURE, check.pendingEndp);
        check.pendingEndp = nullptr;
    }
    if (row && row->handler == CommandEndp)
        check.pendingEndp = RawPlace(check, command);
}

void CheckSection(FileCheck& check)
{
    auto import = CurrentScriptLanguage().importRegistryText;
    if (import)
        (void)import(check.context.lineStart, &check.context.cursor);
}

// The block from the '<' line up to the marker "<>", as the runner hands it on.
void CheckBlock(FileCheck& check)
{
    ScriptContext& context = check.context;
    wchar_t* marker = context.cursor;
    while (*marker && !(marker[0] == L'<' && marker[1] == L'>'))
        ++marker;
    bool found = *marker != 0;
    auto checkDocument = CurrentScriptLanguage().checkProvisioningDocument;
    if (found)
        *marker = 0;
    if (checkDocument)
        (void)checkDocument(context.lineStart);
    if (found)
        *marker = L'<';
    else
        Report(check, FINDING_XML_NO_MARKER, context.lineStart);
    wchar_t* next = found ? marker + 2 : marker;
    while (*next && *next != L'\n')
        ++next;
    context.cursor = *next ? next + 1 : next;
}

void CheckLine(FileCheck& check)
{
    while (check.scopeCount > 1 && check.context.lineStart >= CurrentScope(check).end)
        --check.scopeCount;
    const wchar_t* line = SkipBlanks(check.line.units.items);
    if (!*line || *line == L';')
        return;
    if (*line == L'[')
        return CheckSection(check);
    if (*line == L'<')
        return CheckBlock(check);
    if (check.line.overflow)
        return Report(check, FINDING_LINE_TOO_LONG, line);
    NoteTopLevelLine(check, line);
    CheckCommand(check, line, 0, true);
}

void CheckScriptText(FileCheck& check)
{
    ScriptContext& context = check.context;
    context = {check.text, check.text, check.path, 0, 0, {check.path, check.text, 0}};
    check.line.checking = true;
    if (ReserveItems(check.line.units, LINE_BUFFER_CHARS) != ERROR_SUCCESS)
        return;
    for (;;) {
        bool lineBreak = CutScriptLine(check.line, context);
        CheckLine(check);
        if (!lineBreak)
            break;
        context.lineStart = context.cursor;
    }
    ReleaseItems(check.line.units);
}

// --- files ---

// The first time a file is met (by what the platform knows it by, whatever its name);
// a file that cannot be opened is met every time and found unreadable.
bool IsFirstMeeting(CheckRun& run, const wchar_t* path)
{
    FileIdentity identity;
    if (!IdentityOfPath(path, identity))
        return true;
    for (size_t i = 0; i < run.checked.count; ++i)
        if (SameIdentity(run.checked.items[i], identity))
            return false;
    (void)AppendValue(run.checked, identity);
    return true;
}

// A file as LOAD takes it: a registry file by its header, a provisioning document by its
// '<', anything else a script.
void CheckFile(CheckRun& run, const wchar_t* path)
{
    if (!IsFirstMeeting(run, path))
        return;
    wchar_t* text = ReadTextFile(path, nullptr);
    if (!text) {
        WriteFinding(run, path, 1, 1, FINDING_FILE_UNREADABLE, nullptr);
        return;
    }
    FileCheck check{};
    check.run = &run;
    check.path = path;
    check.text = text;
    check.textEnd = text + wcslen(text);
    check.lines = {path, text, 0};
    check.scopes[0] = {check.textEnd, false};
    check.scopeCount = 1;
    FindingSink sink{ReportFromReader, &check};
    const FindingSink* previous = SetFindingSink(&sink);
    const ScriptLanguage& language = CurrentScriptLanguage();
    const wchar_t* start = SkipLoadBlanks(text);
    if (size_t headerUnits = CountHeaderUnits(text, start)) {
        if (language.importRegistryText)
            (void)language.importRegistryText(text + headerUnits, nullptr);
    } else if (*start == L'<') {
        if (language.checkProvisioningDocument)
            (void)language.checkProvisioningDocument(start);
    } else {
        CheckScriptText(check);
    }
    SetFindingSink(previous);
    ReleaseItems(check.labels);
    free(text);
}

DWORD QueueMatchingFile(void* userData, const WalkEntry& entry)
{
    auto& run = *static_cast<CheckRun*>(userData);
    return AppendItems(run.pending, entry.path, wcslen(entry.path) + 1);
}

// Every change the importer would make is answered as made, so none is.
DWORD TakeOverChange(void*, const Change&)
{
    return CHANGE_MADE_BY_OBSERVER;
}

// Queues the files of "[!]folder\pattern" as the default file action finds them.
void QueuePattern(CheckRun& run, const wchar_t* pattern)
{
    wchar_t path[LINE_BUFFER_CHARS];
    if (FAILED(StringCchCopyW(path, LINE_BUFFER_CHARS, pattern)))
        return;
    bool recursive = path[0] == L'!';
    wchar_t* folder = path;
    const wchar_t* name = SplitLastComponent(folder);
    if (recursive && *folder == L'!')
        ++folder;
    FileWalk walk{QueueMatchingFile, nullptr, &run, RESULT_NO_FILE};
    (void)WalkFiles(walk, folder, name, recursive);
}

} // namespace

DWORD CheckScriptFiles(const wchar_t* pattern, const CheckOutput& output)
{
    CheckRun run{&output, 0, 0, {}, {}, 0};
    QueuePattern(run, pattern);
    if (!run.pending.count)
        WriteFinding(run, pattern, 1, 1, FINDING_FILE_UNREADABLE, nullptr);
    const ChangeObserver nothingWritten{TakeOverChange, nullptr, nullptr, nullptr};
    const ChangeObserver* previous = SetChangeObserver(&nothingWritten);
    while (run.pendingRead < run.pending.count) {
        // The queue grows while a file is checked: its path is copied out first.
        wchar_t path[LINE_BUFFER_CHARS];
        const wchar_t* queued = run.pending.items + run.pendingRead;
        run.pendingRead += wcslen(queued) + 1;
        if (SUCCEEDED(StringCchCopyW(path, LINE_BUFFER_CHARS, queued)))
            CheckFile(run, path);
    }
    SetChangeObserver(previous);
    wchar_t count[64];
    StringCchPrintfW(count, ARRAYSIZE(count), L"%u error%s, %u warning%s\r\n", run.errors, run.errors == 1 ? L"" : L"s",
                     run.warnings, run.warnings == 1 ? L"" : L"s");
    Write(run, count);
    ReleaseItems(run.checked);
    ReleaseItems(run.pending);
    return run.errors ? 1 : 0;
}
