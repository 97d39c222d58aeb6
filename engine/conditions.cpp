#include "engine/engine.h"
#include <cstdlib>

namespace {

// Compares the texts on both sides of a one-character operator. Nothing after the operator
// compares with the empty text.
bool TextsEqual(TextPiece condition, const wchar_t* op)
{
    return PiecesEqualNoCase(PieceBefore(condition, op), PieceFrom(condition, op + 1));
}

// Decides a condition whose first operator character stands at 'op'. The unit after the
// condition is a separator or the text's end, so no number is read past it.
bool CompareAtOperator(TextPiece condition, const wchar_t* op, long left)
{
    wchar_t next = UnitOfPiece(condition, static_cast<size_t>(op - condition.start) + 1);
    bool doubled = next == op[0];
    switch (*op) {
    case L'!':
        return next == L'=' ? left != _wtol(op + 2) : !TextsEqual(condition, op);
    case L'&':
        return doubled ? left != 0 && _wtol(op + 2) != 0 : (left & _wtol(op + 1)) != 0;
    case L'|':
        return doubled ? left != 0 || _wtol(op + 2) != 0 : (left | _wtol(op + 1)) != 0;
    case L'<':
        return next == L'=' ? left <= _wtol(op + 2) : left < _wtol(op + 1);
    case L'>':
        return next == L'=' ? left >= _wtol(op + 2) : left > _wtol(op + 1);
    default: // '='
        return doubled ? left == _wtol(op + 2) : TextsEqual(condition, op);
    }
}

const wchar_t* FindOperator(TextPiece condition)
{
    for (size_t i = 0; i < condition.length; ++i)
        if (wcschr(L"!&<=>|", condition.start[i]))
            return condition.start + i;
    return nullptr;
}

// The path test: a path too long for any call does not exist.
bool PathExists(TextPiece path)
{
    wchar_t ended[LINE_BUFFER_CHARS];
    return CopyPiece(ended, path) == ERROR_SUCCESS && GetFileAttributesW(ended) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

bool EvaluateCondition(TextPiece condition)
{
    bool negate = UnitOfPiece(condition, 0) == L'!';
    if (negate)
        condition = PieceFrom(condition, condition.start + 1);
    long left = _wtol(condition.start);
    const wchar_t* op = FindOperator(condition);
    bool outcome = op ? CompareAtOperator(condition, op, left) : PathExists(condition);
    return outcome != negate;
}

// EVAL: "N=text" stores text in variable N (cut to fit), "N" yields its number,
// "x=number" makes the number the result, anything else empties variable 0.
DWORD EvaluateCommand(const wchar_t* args)
{
    if (*args >= L'0' && *args <= L'9') {
        wchar_t* variable = ScriptVariables[*args - L'0'];
        if (args[1] != L'=')
            return static_cast<DWORD>(_wtol(variable));
        StringCchCopyW(variable, MAX_PATH_CHARS, args + 2);
        return ERROR_SUCCESS;
    }
    if (*args == L'x' || *args == L'X') {
        const wchar_t* number = args[1] == L'=' ? args + 2 : args + 1;
        return static_cast<DWORD>(_wtol(number));
    }
    ZeroMemory(ScriptVariables[0], sizeof ScriptVariables[0]);
    return ERROR_SUCCESS;
}
