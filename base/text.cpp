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

TextPiece WholeText(const wchar_t* text)
{
    return {text, wcslen(text)};
}

ArgumentPieces CutArgument(const wchar_t* text, size_t most)
{
    ArgumentPieces parts = {};
    const wchar_t* start = text;
    while (parts.count + 1 < most) {
        const wchar_t* separator = wcschr(start, ARG_SEPARATOR);
        if (!separator)
            break;
        parts.pieces[parts.count++] = {start, static_cast<size_t>(separator - start)};
        start = separator + 1;
    }
    size_t length = wcslen(start);
    parts.pieces[parts.count++] = {start, length};
    for (size_t i = parts.count; i < MAX_ARGUMENT_PIECES; ++i)
        parts.pieces[i] = {start + length, 0};
    return parts;
}

const wchar_t* FindInPiece(TextPiece piece, wchar_t unit)
{
    for (size_t i = 0; i < piece.length; ++i)
        if (piece.start[i] == unit)
            return piece.start + i;
    return nullptr;
}

const wchar_t* FindLastInPiece(TextPiece piece, wchar_t unit)
{
    for (size_t i = piece.length; i > 0; --i)
        if (piece.start[i - 1] == unit)
            return piece.start + i - 1;
    return nullptr;
}

TextPiece PieceBefore(TextPiece piece, const wchar_t* at)
{
    return {piece.start, static_cast<size_t>(at - piece.start)};
}

TextPiece PieceFrom(TextPiece piece, const wchar_t* at)
{
    return {at, piece.length - static_cast<size_t>(at - piece.start)};
}

wchar_t UnitOfPiece(TextPiece piece, size_t index)
{
    return index < piece.length ? piece.start[index] : 0;
}

bool PiecesEqualNoCase(TextPiece a, TextPiece b)
{
    return a.length == b.length && (a.length == 0 || _wcsnicmp(a.start, b.start, a.length) == 0);
}

const wchar_t* AddPieceText(PieceTexts& texts, TextPiece piece)
{
    if (piece.length >= ARRAYSIZE(texts.units) - texts.used)
        return nullptr;
    wchar_t* copy = texts.units + texts.used;
    wmemcpy(copy, piece.start, piece.length);
    copy[piece.length] = 0;
    texts.used += piece.length + 1;
    return copy;
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
