// The script language as Varnolt ships it: every keyword with its handler, every file
// extension with its action, and the family behind the configuration manager. A new
// keyword or extension is one row here.
#include "app/app.h"
#include "archive/archive.h"
#include "commands/commands.h"
#include "registry/registry.h"
#include "ui/ui.h"
#include "base/findings.h"
#include <climits>
#include <cwchar>

namespace {

// Handlers that take the argument text alone.
template <DWORD (*Handler)(const wchar_t* args)>
DWORD Args(const wchar_t*, const wchar_t* args, ScriptContext&)
{
    return Handler(args);
}

// Handlers that take a path and the rest: the path ends at the first separator; without
// one the rest is empty. The path is copied out, ended, for the platform's calls.
template <DWORD (*Handler)(const wchar_t* path, const wchar_t* rest)>
DWORD PathAndRest(const wchar_t*, const wchar_t* args, ScriptContext&)
{
    ArgumentPieces parts = CutArgument(args, 2);
    wchar_t path[LINE_BUFFER_CHARS];
    if (CopyPiece(path, parts.pieces[0]) != ERROR_SUCCESS)
        return ERROR_FILENAME_EXCED_RANGE;
    return Handler(path, parts.pieces[1].start);
}

DWORD CommandDlgx(const wchar_t*, const wchar_t* args, ScriptContext&)
{
    DialogArgument dialog = ReadDialogArgument(args, applicationTitle);
    return ShowScriptDialog(dialog.title, dialog.items, RegistryCommand);
}

DWORD CommandHelp(const wchar_t*, const wchar_t* args, ScriptContext&)
{
    return ShowHelp(consoleWindow, args);
}

DWORD CommandVrui(const wchar_t*, const wchar_t* args, ScriptContext& context)
{
    return OpenConsole(args, context.scriptPath);
}


// --- the checks beside the handlers: each reads the argument with its family's reader ---

// A decimal number read as ReadDecimalNumber reads it that no 32-bit value holds.
void CheckDecimalNumber(const wchar_t* text)
{
    long long wide = _wcstoi64(text, nullptr, 10);
    if (wide < INT_MIN || wide > UINT_MAX)
        ReportFinding(FINDING_NUMBER_OUT_OF_RANGE, text);
}

const wchar_t* FindSeparator(const wchar_t* start, size_t length)
{
    return static_cast<const wchar_t*>(wmemchr(start, ARG_SEPARATOR, length));
}

void CheckRegx(const wchar_t* args)
{
    RegxArgument parts;
    if (ReadRegxArgument(args, parts) != ERROR_SUCCESS) {
        const wchar_t* afterRoot = args;
        ReportFinding(ParseRegistryRoot(afterRoot) ? FINDING_REGX_NO_VALUE_PART : FINDING_REGX_NO_ROOT, args);
        return;
    }
    wchar_t marker = UnitOfPiece(parts.valuePart, 0);
    if (!parts.valueText.start)
        return;
    if (marker == L'#')
        CheckDecimalNumber(parts.valueText.start);
    else if (const wchar_t* comma = marker == L'@' ? FindSeparator(parts.valueText.start, parts.valueText.length) : nullptr)
        ReportFinding(FINDING_REGX_BINARY_COMMA, comma);
}

// Without an operator FILE deletes: a separator there means a copy or a write was meant.
void CheckFile(const wchar_t* args)
{
    FileRequest request = ReadFileRequest(args);
    if (const wchar_t* comma = FindSeparator(args, wcslen(args)))
        ReportFinding(request.kind == FileOperationKind::Delete ? FINDING_FILE_NO_OPERATOR : FINDING_FILE_COMMA, comma);
}

void CheckDlgx(const wchar_t* args)
{
    DialogArgument dialog = ReadDialogArgument(args, applicationTitle);
    DialogItemList list;
    ReadDialogItems(dialog.items, list);
    for (int i = 0; i < list.count; ++i)
        if (!list.items[i].hasControl)
            ReportFinding(FINDING_DIALOG_ITEM_WITHOUT_BAR, list.items[i].text.start);
    if (list.count == MAX_DIALOG_ITEMS) {
        const DialogItem& last = list.items[MAX_DIALOG_ITEMS - 1];
        const wchar_t* end = last.registryText.start ? last.registryText.start + last.registryText.length
                                                     : last.text.start + last.text.length;
        if (const wchar_t* next = wcschr(end, ARG_SEPARATOR); next && next[1])
            ReportFinding(FINDING_DIALOG_TOO_MANY_ITEMS, next + 1);
    }
}

// CDLL's "#n" arguments after the library and the export's name.
void CheckCdll(const wchar_t* args)
{
    ArgumentPieces parts = CutArgument(args, 2);
    ExportRequest request = ReadExportRequest(parts.pieces[1].start);
    for (size_t i = 0; i < request.count; ++i)
        if (UnitOfPiece(request.arguments[i], 0) == L'#')
            CheckDecimalNumber(request.arguments[i].start + 1);
}

// Searched in this order; the first keyword whose four letters start the line wins.
constexpr KeywordEntry KEYWORD_TABLE[] = {
    {L"LOAD", CommandLoad},
    {L"BATC", CommandBatc},
    {L"IFEX", CommandIfex},
    {L"ELSE", CommandElse},
    {L"CALL", CommandCall},
    {L"GOTO", CommandGoto},
    {L"PROC", CommandProc},
    {L"ENDP", CommandEndp},
    {L"PLAY", Args<PlaySoundFile>},
    {L"BEEP", CommandBeep},
    {L"MSGX", Args<ShowMessageBox>},
    {L"DLGX", CommandDlgx, CheckDlgx},
    {L"LINK", Args<CreateShortcut>},
    {L"FILE", Args<FileOperation>, CheckFile},
    {L"REGX", Args<RegistryCommand>, CheckRegx},
    {L"RARX", PathAndRest<ExtractRar>},
    {L"SEND", Args<SendKeys>},
    {L"WAIT", CommandWait},
    {L"KILL", Args<KillProcesses>},
    {L"SHUT", Args<ShutDownDevice>},
    {L"EXEC", Args<ExecuteProgram>},
    {L"CDLL", PathAndRest<CallDllExport>, CheckCdll},
    {L"EVAL", Args<EvaluateCommand>},
    {L"ASOC", Args<AssociateFileType>},
    {L"DISP", Args<SetDisplayOrientation>},
    {L"POST", Args<PostWindowMessage>},
    {L"HELP", CommandHelp},
    {L"VRUI", CommandVrui},
    {L"TGZX", PathAndRest<ExtractTarGz>},
};

consteval bool AllKeywordsAreFourCapitals()
{
    for (const auto& row : KEYWORD_TABLE) {
        for (int i = 0; i < 4; ++i)
            if (row.name[i] < L'A' || row.name[i] > L'Z')
                return false;
        if (row.name[4] != 0)
            return false;
    }
    return true;
}
static_assert(ARRAYSIZE(KEYWORD_TABLE) == 29);
static_assert(AllKeywordsAreFourCapitals());

DWORD LoadAction(const wchar_t* path, const wchar_t*)
{
    return LoadFile(path);
}

// Compared without regard to case, in this order; anything else opens through the shell.
constexpr ExtensionEntry EXTENSION_TABLE[] = {
    {L"vrs", LoadAction},     {L"reg", LoadAction},     {L"rgu", LoadAction},
    {L"xml", LoadAction},     {L"provxml", LoadAction},
    {L"dll", CallDllExport},  {L"ocx", CallDllExport},  {L"ax", CallDllExport},
    {L"rar", ExtractRar},     {L"tgz", ExtractTarGz},
};

} // namespace

const ScriptLanguage VARNOLT_LANGUAGE = {
    KEYWORD_TABLE, ARRAYSIZE(KEYWORD_TABLE), CommandOpenFiles, EXTENSION_TABLE, ARRAYSIZE(EXTENSION_TABLE),
    ImportRegistryText, ImportRegistryFile, CheckProvisioningDocument,
};

const ConfigurationProcessor VARNOLT_CONFIGURATION_PROCESSOR = ProcessProvisioningDocument;
