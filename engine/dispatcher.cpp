#include "engine/engine.h"
#include "archive/archive.h"
#include "commands/commands.h"
#include "registry/registry.h"
#include "ui/ui.h"
#include <cstdlib>

namespace {

// Every keyword handler gets the line (from its keyword on), the argument text after the
// keyword and its blanks, and the run's context; each takes what it needs.
using CommandHandler = DWORD (*)(wchar_t* line, wchar_t* args, ScriptContext& context);

struct KeywordEntry {
    wchar_t name[5];
    CommandHandler handler;
    bool actsOnMachine;     // reaches files, processes, windows, devices or time
};

// --- flow control ---

DWORD SkipToBlockEnd(ScriptContext& context)
{
    wchar_t* end = wcsstr(context.cursor, L"IFEX\r\n");
    if (end) {
        context.cursor = end + 6;
        return ERROR_SUCCESS;
    }
    end = wcsstr(context.cursor, L"IFEX\n");
    if (end) {
        context.cursor = end + 5;
        return ERROR_SUCCESS;
    }
    context.cursor = END_OF_SCRIPT;
    return RESULT_NOT_FOUND;
}

DWORD CommandIfex(wchar_t*, wchar_t* args, ScriptContext& context)
{
    if (!*args)
        return ERROR_SUCCESS;
    wchar_t* separator = wcschr(args, ARG_SEPARATOR);
    if (separator) {
        *separator = 0;
        bool holds = EvaluateCondition(args);
        context.elseFlag = !holds;
        if (holds)
            (void)DispatchCommand(separator + 1, context);
        return context.lastResult;
    }
    bool holds = EvaluateCondition(args);
    context.elseFlag = !holds;
    return holds ? ERROR_SUCCESS : SkipToBlockEnd(context);
}

DWORD CommandElse(wchar_t*, wchar_t* args, ScriptContext& context)
{
    if (context.elseFlag)
        (void)DispatchCommand(args, context);
    return context.lastResult;
}

// Rewrites the line's keyword to 'searchKeyword' and looks for the whole line in the
// script text after the current line. Returns the start of the line after the
// occurrence's keyword, or nullptr when there is none.
wchar_t* FindLabelTarget(wchar_t* line, const wchar_t* searchKeyword, const ScriptContext& context)
{
    CopyMemory(line, searchKeyword, 4 * sizeof(wchar_t));
    wchar_t* found = wcsstr(context.cursor, line);
    if (!found)
        return nullptr;
    wchar_t* lineFeed = wcschr(found + 4, L'\n');
    return lineFeed ? lineFeed + 1 : found + wcslen(found);
}

DWORD CommandCall(wchar_t* line, wchar_t*, ScriptContext& context)
{
    wchar_t* target = FindLabelTarget(line, L"PROC", context);
    return target ? RunScript(target, context.scriptPath) : RESULT_NOT_FOUND;
}

DWORD CommandGoto(wchar_t* line, wchar_t*, ScriptContext& context)
{
    wchar_t* target = FindLabelTarget(line, L"PROC", context);
    if (!target)
        return RESULT_NOT_FOUND;
    context.cursor = target;
    return ERROR_SUCCESS;
}

// A procedure reached in sequence is skipped: the run continues after its ENDP line.
DWORD CommandProc(wchar_t* line, wchar_t*, ScriptContext& context)
{
    wchar_t* target = FindLabelTarget(line, L"ENDP", context);
    context.cursor = target ? target : END_OF_SCRIPT;
    return target ? ERROR_SUCCESS : RESULT_NOT_FOUND;
}

DWORD CommandEndp(wchar_t*, wchar_t*, ScriptContext& context)
{
    context.cursor = END_OF_SCRIPT;
    return ERROR_SUCCESS;
}

DWORD CommandBatc(wchar_t*, wchar_t* args, ScriptContext& context)
{
    return RunBatch(args, context);
}

// A negative time would sleep for weeks; it waits for nothing instead.
DWORD CommandWait(wchar_t*, wchar_t* args, ScriptContext&)
{
    long milliseconds = _wtol(args);
    Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0);
    return ERROR_SUCCESS;
}

DWORD CommandBeep(wchar_t*, wchar_t* args, ScriptContext&)
{
    return MessageBeep(static_cast<UINT>(_wtol(args))) ? ERROR_SUCCESS : RESULT_NOT_FOUND;
}

// --- commands owned by other units ---

DWORD CommandLoad(wchar_t*, wchar_t* args, ScriptContext&) { return LoadFile(args); }
DWORD CommandPlay(wchar_t*, wchar_t* args, ScriptContext&) { return PlaySoundFile(args); }
DWORD CommandMsgx(wchar_t*, wchar_t* args, ScriptContext&) { return ShowMessageBox(args); }
DWORD CommandLink(wchar_t*, wchar_t* args, ScriptContext&) { return CreateShortcut(args); }
DWORD CommandFile(wchar_t*, wchar_t* args, ScriptContext&) { return FileOperation(args); }
DWORD CommandRegx(wchar_t*, wchar_t* args, ScriptContext&) { return RegistryCommand(args); }
DWORD CommandSend(wchar_t*, wchar_t* args, ScriptContext&) { return SendKeys(args); }
DWORD CommandKill(wchar_t*, wchar_t* args, ScriptContext&) { return KillProcesses(args); }
DWORD CommandShut(wchar_t*, wchar_t* args, ScriptContext&) { return ShutDownDevice(args); }
DWORD CommandExec(wchar_t*, wchar_t* args, ScriptContext&) { return ExecuteProgram(args); }
DWORD CommandEval(wchar_t*, wchar_t* args, ScriptContext&) { return EvaluateCommand(args); }
DWORD CommandAsoc(wchar_t*, wchar_t* args, ScriptContext&) { return AssociateFileType(args); }
DWORD CommandDisp(wchar_t*, wchar_t* args, ScriptContext&) { return SetDisplayOrientation(args); }
DWORD CommandPost(wchar_t*, wchar_t* args, ScriptContext&) { return PostWindowMessage(args); }
DWORD CommandHelp(wchar_t*, wchar_t* args, ScriptContext&) { return ShowHelp(consoleWindow, args); }
DWORD CommandVrui(wchar_t*, wchar_t* args, ScriptContext& context) { return OpenConsole(args, context.scriptPath); }

DWORD CommandRarx(wchar_t*, wchar_t* args, ScriptContext&)
{
    wchar_t* rest = CutAtSeparator(args);
    return ExtractRar(args, rest);
}

DWORD CommandCdll(wchar_t*, wchar_t* args, ScriptContext&)
{
    wchar_t* rest = CutAtSeparator(args);
    return CallDllExport(args, rest);
}

DWORD CommandTgzx(wchar_t*, wchar_t* args, ScriptContext&)
{
    wchar_t* rest = CutAtSeparator(args);
    return ExtractTarGz(args, rest);
}

// An item list starting with one of these characters has no title of its own.
DWORD CommandDlgx(wchar_t*, wchar_t* args, ScriptContext&)
{
    if (*args && wcschr(L"$<@[{", *args))
        return ShowScriptDialog(applicationTitle, args);
    wchar_t* items = CutAtSeparator(args);
    return ShowScriptDialog(args, items);
}

// Whether a command reaches beyond the script's own state (a test harness's interceptor
// takes those instead of their handlers).
constexpr bool ACTS = true;
constexpr bool TEXT_ONLY = false;

// Searched in this order; the first keyword whose four letters start the line wins.
constexpr KeywordEntry KEYWORD_TABLE[] = {
    {L"LOAD", CommandLoad, ACTS},      {L"BATC", CommandBatc, TEXT_ONLY}, {L"IFEX", CommandIfex, TEXT_ONLY},
    {L"ELSE", CommandElse, TEXT_ONLY}, {L"CALL", CommandCall, TEXT_ONLY}, {L"GOTO", CommandGoto, TEXT_ONLY},
    {L"PROC", CommandProc, TEXT_ONLY}, {L"ENDP", CommandEndp, TEXT_ONLY}, {L"PLAY", CommandPlay, ACTS},
    {L"BEEP", CommandBeep, ACTS},      {L"MSGX", CommandMsgx, ACTS},      {L"DLGX", CommandDlgx, ACTS},
    {L"LINK", CommandLink, ACTS},      {L"FILE", CommandFile, ACTS},      {L"REGX", CommandRegx, ACTS},
    {L"RARX", CommandRarx, ACTS},      {L"SEND", CommandSend, ACTS},      {L"WAIT", CommandWait, ACTS},
    {L"KILL", CommandKill, ACTS},      {L"SHUT", CommandShut, ACTS},      {L"EXEC", CommandExec, ACTS},
    {L"CDLL", CommandCdll, ACTS},      {L"EVAL", CommandEval, TEXT_ONLY}, {L"ASOC", CommandAsoc, ACTS},
    {L"DISP", CommandDisp, ACTS},      {L"POST", CommandPost, ACTS},      {L"HELP", CommandHelp, ACTS},
    {L"VRUI", CommandVrui, ACTS},      {L"TGZX", CommandTgzx, ACTS},
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

} // namespace

CommandInterceptor commandInterceptor = nullptr;

// Recognises the line's keyword (ASCII case ignored) and runs its handler; a line without
// one names files to open. The line is changed in place.
DWORD DispatchCommand(wchar_t* line, ScriptContext& context)
{
    for (const auto& row : KEYWORD_TABLE) {
        if (MatchPrefixNoCase(line, row.name) >= 4) {
            wchar_t* args = line + 4;
            while (*args == L' ' || *args == L'\t')
                ++args;
            if (commandInterceptor && row.actsOnMachine)
                return commandInterceptor(row.name, args);
            return row.handler(line, args, context);
        }
    }
    return commandInterceptor ? commandInterceptor(L"", line) : OpenFilesByPattern(line);
}

// Runs each ';'-separated piece of 'args' in turn; the last piece's result is the result.
DWORD RunBatch(wchar_t* args, ScriptContext& context)
{
    for (;;) {
        wchar_t* semicolon = wcschr(args, L';');
        if (!semicolon)
            return DispatchCommand(args, context);
        *semicolon = 0;
        (void)DispatchCommand(args, context);
        args = semicolon + 1;
    }
}

// The template of the dialogs that have no resource: a visible, centred, bordered popup
// with no controls, titled 'title' (or the application title) cut to 79 characters.
void FillBlankDialogTemplate(BlankDialogTemplate& dialog, const wchar_t* title)
{
    ZeroMemory(&dialog, sizeof dialog);
    dialog.header.style = WS_POPUP | WS_VISIBLE | WS_BORDER | DS_CENTER | DS_SETFOREGROUND;
    StringCchCopyW(dialog.title, ARRAYSIZE(dialog.title), title ? title : applicationTitle);
}
