#include "engine/engine.h"

// Only ASCII a-z fold: keywords and type markers are ASCII, and other letters must not match.
bool CharEqualsNoCase(wchar_t a, wchar_t b)
{
    if (a == b)
        return true;
    if (a >= L'a' && a <= L'z')
        a = static_cast<wchar_t>(a - 32);
    if (b >= L'a' && b <= L'z')
        b = static_cast<wchar_t>(b - 32);
    return a == b;
}

// Counts the leading positions where 'subject' is not NUL and equals 'other' exactly.
size_t MatchPrefix(const wchar_t* subject, const wchar_t* other)
{
    size_t count = 0;
    while (subject[count] && subject[count] == other[count])
        ++count;
    return count;
}

size_t MatchPrefixNoCase(const wchar_t* subject, const wchar_t* other)
{
    size_t count = 0;
    while (subject[count] && CharEqualsNoCase(subject[count], other[count]))
        ++count;
    return count;
}

// Overwrites the first ARG_SEPARATOR of 'text' with NUL and returns the text after it,
// or the empty text at the end of 'text' when there is no separator.
wchar_t* CutAtSeparator(wchar_t* text)
{
    wchar_t* separator = wcschr(text, ARG_SEPARATOR);
    if (!separator)
        return text + wcslen(text);
    *separator = 0;
    return separator + 1;
}

// The value of one hexadecimal digit (either case), or -1 for any other character.
int HexDigitValue(wchar_t digit)
{
    if (digit >= L'0' && digit <= L'9')
        return digit - L'0';
    if (digit >= L'A' && digit <= L'F')
        return digit - L'A' + 10;
    if (digit >= L'a' && digit <= L'f')
        return digit - L'a' + 10;
    return -1;
}
