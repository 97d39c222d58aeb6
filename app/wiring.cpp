// The script language as Varnolt ships it: every keyword with its handler, every file
// extension with its action, and the family behind the configuration manager. A new
// keyword or extension is one row here.
#include "app/app.h"
#include "archive/archive.h"
#include "commands/commands.h"
#include "registry/registry.h"
#include "ui/ui.h"

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

// Searched in this order; the first keyword whose four letters start the line wins.
constexpr KeywordEntry KEYWORD_TABLE[] = {
    {L"LOAD", Args<LoadFile>},
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
    {L"DLGX", CommandDlgx},
    {L"LINK", Args<CreateShortcut>},
    {L"FILE", Args<FileOperation>},
    {L"REGX", Args<RegistryCommand>},
    {L"RARX", PathAndRest<ExtractRar>},
    {L"SEND", Args<SendKeys>},
    {L"WAIT", CommandWait},
    {L"KILL", Args<KillProcesses>},
    {L"SHUT", Args<ShutDownDevice>},
    {L"EXEC", Args<ExecuteProgram>},
    {L"CDLL", PathAndRest<CallDllExport>},
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
    ImportRegistryText, ImportRegistryFile,
};

const ConfigurationProcessor VARNOLT_CONFIGURATION_PROCESSOR = ProcessProvisioningDocument;
