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

// Looks for the line with its keyword replaced by 'searchKeyword' in the script text after
// the current line. Returns the start of the line after the occurrence's keyword, or
// nullptr when there is none.
wchar_t* FindLabelTarget(const wchar_t* line, const wchar_t* searchKeyword, const ScriptContext& context)
{
    wchar_t search[LINE_BUFFER_CHARS];
    if (FAILED(StringCchCopyNW(search, LINE_BUFFER_CHARS, searchKeyword, 4)) ||
        FAILED(StringCchCatW(search, LINE_BUFFER_CHARS, line + 4)))
        return nullptr;
    wchar_t* found = wcsstr(context.cursor, search);
    if (!found)
        return nullptr;
    wchar_t* lineFeed = wcschr(found + 4, L'\n');
    return lineFeed ? lineFeed + 1 : found + wcslen(found);
}

// A piece of a batch that does not end the argument runs from a copy of its own, ended
// there: the one copy of a nested line.
DWORD DispatchPiece(TextPiece piece, ScriptContext& context)
{
    wchar_t line[LINE_BUFFER_CHARS];
    if (CopyPiece(line, piece) != ERROR_SUCCESS)
        return ERROR_BUFFER_OVERFLOW;
    return DispatchCommand(line, context);
}

} // namespace

// The inline command is the rest of the line after the condition, so it runs in place.
DWORD CommandIfex(const wchar_t*, const wchar_t* args, ScriptContext& context)
{
    if (!*args)
        return ERROR_SUCCESS;
    ArgumentPieces parts = CutArgument(args, 2);
    bool holds = EvaluateCondition(parts.pieces[0]);
    context.elseFlag = !holds;
    if (parts.count < 2)
        return holds ? ERROR_SUCCESS : SkipToBlockEnd(context);
    if (holds)
        (void)DispatchCommand(parts.pieces[1].start, context);
    return context.lastResult;
}

DWORD CommandElse(const wchar_t*, const wchar_t* args, ScriptContext& context)
{
    if (context.elseFlag)
        (void)DispatchCommand(args, context);
    return context.lastResult;
}

DWORD CommandCall(const wchar_t* line, const wchar_t*, ScriptContext& context)
{
    wchar_t* target = FindLabelTarget(line, L"PROC", context);
    return target ? RunScript(target, context.scriptPath, &context.origin) : RESULT_NOT_FOUND;
}

DWORD CommandGoto(const wchar_t* line, const wchar_t*, ScriptContext& context)
{
    wchar_t* target = FindLabelTarget(line, L"PROC", context);
    if (!target)
        return RESULT_NOT_FOUND;
    context.cursor = target;
    return ERROR_SUCCESS;
}

// A procedure reached in sequence is skipped: the run continues after its ENDP line.
DWORD CommandProc(const wchar_t* line, const wchar_t*, ScriptContext& context)
{
    wchar_t* target = FindLabelTarget(line, L"ENDP", context);
    context.cursor = target ? target : END_OF_SCRIPT;
    return target ? ERROR_SUCCESS : RESULT_NOT_FOUND;
}

DWORD CommandEndp(const wchar_t*, const wchar_t*, ScriptContext& context)
{
    context.cursor = END_OF_SCRIPT;
    return ERROR_SUCCESS;
}

DWORD CommandBatc(const wchar_t*, const wchar_t* args, ScriptContext& context)
{
    return RunBatch(args, context);
}

// A negative time would sleep for weeks; it waits for nothing instead. The observer may
// end the wait early (Stop), with its answer as the result.
DWORD CommandWait(const wchar_t*, const wchar_t* args, ScriptContext&)
{
    long milliseconds = _wtol(args);
    return WaitReportingProgress(nullptr, milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0);
}

DWORD CommandBeep(const wchar_t*, const wchar_t* args, ScriptContext&)
{
    DWORD answer = AnnounceAction(ChangeKind::PlaySound, L"BEEP", args);
    if (answer != ERROR_SUCCESS)
        return ResultOfUntakenAction(answer);
    return MessageBeep(static_cast<UINT>(_wtol(args))) ? ERROR_SUCCESS : RESULT_NOT_FOUND;
}

DWORD RunBatch(const wchar_t* args, ScriptContext& context)
{
    for (;;) {
        const wchar_t* semicolon = wcschr(args, L';');
        if (!semicolon)
            return DispatchCommand(args, context);
        (void)DispatchPiece({args, static_cast<size_t>(semicolon - args)}, context);
        args = semicolon + 1;
    }
}
