#include "base/base.h"
#include <initializer_list>

namespace {

constexpr size_t SETTING_CHARS = 8;
constexpr WORD STRINGS_PER_BLOCK = 16;

LANGID OtherLanguage(LANGID language)
{
    return language == LANGUAGE_CHINESE ? LANGUAGE_ENGLISH : LANGUAGE_CHINESE;
}

// The entry of string 'id' in the string block of 'language'; nullptr when that language
// has no such block or the entry is empty.
const wchar_t* FindStringEntry(HINSTANCE module, UINT id, LANGID language, size_t& length)
{
    HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / STRINGS_PER_BLOCK + 1), language);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const WORD* entry = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
    if (!entry)
        return nullptr;
    const WORD* end = entry + SizeofResource(module, found) / sizeof(WORD);
    for (UINT index = id % STRINGS_PER_BLOCK; index > 0 && entry < end; --index)
        entry += 1 + *entry;                // each entry: a length, then that many units
    if (entry >= end || *entry == 0 || entry + 1 + *entry > end)
        return nullptr;
    length = *entry;
    return reinterpret_cast<const wchar_t*>(entry + 1);
}

} // namespace

LANGID ChooseProgramLanguage(const wchar_t* setting, LANGID interfaceLanguage)
{
    if (setting && _wcsicmp(setting, L"zh") == 0)
        return LANGUAGE_CHINESE;
    if (setting && _wcsicmp(setting, L"en") == 0)
        return LANGUAGE_ENGLISH;
    return PRIMARYLANGID(interfaceLanguage) == LANG_CHINESE ? LANGUAGE_CHINESE : LANGUAGE_ENGLISH;
}

LANGID ProgramLanguage()
{
    wchar_t setting[SETTING_CHARS];
    DWORD length = GetEnvironmentVariableW(L"VARNOLT_LANG", setting, SETTING_CHARS);
    return ChooseProgramLanguage(length && length < SETTING_CHARS ? setting : nullptr, GetUserDefaultUILanguage());
}

HRSRC FindProgramResource(HINSTANCE module, const wchar_t* type, UINT id)
{
    LANGID language = ProgramLanguage();
    for (LANGID candidate : {language, OtherLanguage(language)})
        if (HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(id), candidate))
            return found;
    return FindResourceW(module, MAKEINTRESOURCEW(id), type);
}

const wchar_t* FindProgramString(HINSTANCE module, UINT id, size_t& length)
{
    LANGID language = ProgramLanguage();
    for (LANGID candidate : {language, OtherLanguage(language)})
        if (const wchar_t* text = FindStringEntry(module, id, candidate, length))
            return text;
    length = 0;
    return nullptr;
}

int LoadProgramString(HINSTANCE module, UINT id, wchar_t* text, int capacity)
{
    if (capacity <= 0)
        return 0;
    size_t length = 0;
    const wchar_t* found = FindProgramString(module, id, length);
    if (length > static_cast<size_t>(capacity - 1))
        length = static_cast<size_t>(capacity - 1);
    if (found)
        CopyMemory(text, found, length * sizeof(wchar_t));
    text[length] = 0;
    return static_cast<int>(length);
}

HMENU LoadProgramMenu(HINSTANCE module, UINT id)
{
    HRSRC found = FindProgramResource(module, RT_MENU, id);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* menu = loaded ? LockResource(loaded) : nullptr;
    return menu ? LoadMenuIndirectW(menu) : nullptr;
}

const DLGTEMPLATE* FindProgramDialog(HINSTANCE module, UINT id)
{
    HRSRC found = FindProgramResource(module, RT_DIALOG, id);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    return loaded ? static_cast<const DLGTEMPLATE*>(LockResource(loaded)) : nullptr;
}
