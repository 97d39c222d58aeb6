#include "engine/engine.h"
#include "base/changes.h"
#include <cstdlib>

namespace {

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

} // namespace

DWORD CommandIfex(wchar_t*, wchar_t* args, ScriptContext& context)
{
    if (!*args)
        return ERROR_SUCCESS;
    wchar_t* command = SplitAtSeparator(args);
    bool holds = EvaluateCondition(args);
    context.elseFlag = !holds;
    if (!command)
        return holds ? ERROR_SUCCESS : SkipToBlockEnd(context);
    if (holds)
        (void)DispatchCommand(command, context);
    return context.lastResult;
}

DWORD CommandElse(wchar_t*, wchar_t* args, ScriptContext& context)
{
    if (context.elseFlag)
        (void)DispatchCommand(args, context);
    return context.lastResult;
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
    DWORD answer = AnnounceAction(ChangeKind::PlaySound, L"BEEP", args);
    if (answer != ERROR_SUCCESS)
        return ResultOfUntakenAction(answer);
    return MessageBeep(static_cast<UINT>(_wtol(args))) ? ERROR_SUCCESS : RESULT_NOT_FOUND;
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
