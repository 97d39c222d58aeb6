#include "engine/engine.h"
#include <cstdlib>

namespace {

// Compares the texts on both sides of a one-character operator, cutting the condition
// at it. Nothing after the operator compares with the empty text.
bool TextsEqual(wchar_t* condition, wchar_t* op)
{
    *op = 0;
    return _wcsicmp(condition, op + 1) == 0;
}

// Decides a condition whose first operator character stands at 'op'.
bool CompareAtOperator(wchar_t* condition, wchar_t* op, long left)
{
    bool doubled = op[1] == op[0];
    switch (*op) {
    case L'!':
        return op[1] == L'=' ? left != _wtol(op + 2) : !TextsEqual(condition, op);
    case L'&':
        return doubled ? left != 0 && _wtol(op + 2) != 0 : (left & _wtol(op + 1)) != 0;
    case L'|':
        return doubled ? left != 0 || _wtol(op + 2) != 0 : (left | _wtol(op + 1)) != 0;
    case L'<':
        return op[1] == L'=' ? left <= _wtol(op + 2) : left < _wtol(op + 1);
    case L'>':
        return op[1] == L'=' ? left >= _wtol(op + 2) : left > _wtol(op + 1);
    default: // '='
        return doubled ? left == _wtol(op + 2) : TextsEqual(condition, op);
    }
}

} // namespace

// A condition is one comparison of numbers or texts, or, without an operator, the test
// whether a path exists. A leading '!' negates it.
bool EvaluateCondition(wchar_t* condition)
{
    bool negate = *condition == L'!';
    if (negate)
        ++condition;
    long left = _wtol(condition);
    wchar_t* op = wcspbrk(condition, L"!&<=>|");
    bool outcome = op ? CompareAtOperator(condition, op, left)
                      : GetFileAttributesW(condition) != INVALID_FILE_ATTRIBUTES;
    return outcome != negate;
}

// EVAL: "N=text" stores text in variable N (cut to fit), "N" yields its number,
// "x=number" makes the number the result, anything else empties variable 0.
DWORD EvaluateCommand(wchar_t* args)
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
