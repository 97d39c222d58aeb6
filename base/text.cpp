#include "base/base.h"
#include <cstdlib>
#include <cwchar>

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

// The first position in 'text' where 'needle' stands, ASCII case ignored; nullptr when
// there is none. An empty needle is found at the start of a non-empty text.
const wchar_t* FindNoCase(const wchar_t* text, const wchar_t* needle)
{
    for (; *text; ++text) {
        size_t i = 0;
        while (needle[i] && CharEqualsNoCase(text[i], needle[i]))
            ++i;
        if (!needle[i])
            return text;
    }
    return nullptr;
}

wchar_t* SplitAtSeparator(wchar_t* text)
{
    wchar_t* separator = wcschr(text, ARG_SEPARATOR);
    if (!separator)
        return nullptr;
    *separator = 0;
    return separator + 1;
}

wchar_t* CutAtSeparator(wchar_t* text)
{
    wchar_t* rest = SplitAtSeparator(text);
    return rest ? rest : text + wcslen(text);
}

const wchar_t* SkipBlanks(const wchar_t* text)
{
    while (*text == L' ' || *text == L'\t')
        ++text;
    return text;
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

long long ReadDecimalNumber(const wchar_t* text)
{
    constexpr long long LOWEST_UNSIGNED_ONLY = 0x80000000LL;
    constexpr long long HIGHEST_UNSIGNED = 0xFFFFFFFFLL;
    long long wide = _wcstoi64(text, nullptr, 10);
    if (wide >= LOWEST_UNSIGNED_ONLY && wide <= HIGHEST_UNSIGNED)
        return wide;
    return _wtol(text);
}

bool ReadWholeDecimalNumber(const wchar_t* text, long long lowest, long long highest, long long& number)
{
    const wchar_t* digits = text + (*text == L'-' || *text == L'+' ? 1 : 0);
    size_t count = wcsspn(digits, L"0123456789");
    if (!count || digits[count])
        return false;
    long long value = _wcstoi64(text, nullptr, 10);     // saturates, which no range holds
    if (value < lowest || value > highest)
        return false;
    number = value;
    return true;
}
