// Varnolt.exe /check <file or pattern>: the checker's findings go to standard output when
// the program was given one (a build, an editor's task, a shell with a pipe or a file),
// else to the help viewer as a page, since a program started from the desktop has none.
#include "app/app.h"
#include "base/buffer.h"
#include "ui/ui.h"
#include <cstdlib>

namespace {

// Hands the checker's text to standard output.
void WriteToStandardOutput(void* context, const wchar_t* text)
{
    WriteToOutput(static_cast<HANDLE>(context), text);
}

// Collects the output as the text of an HTML page: '<' and '&' written as entities.
void AppendToPage(void* context, const wchar_t* text)
{
    auto& page = *static_cast<Buffer<wchar_t>*>(context);
    for (; *text; ++text) {
        const wchar_t* entity = *text == L'<' ? L"&lt;" : *text == L'&' ? L"&amp;" : nullptr;
        (void)(entity ? AppendItems(page, entity, wcslen(entity)) : AppendItems(page, text, 1));
    }
}

DWORD CheckIntoPage(const wchar_t* pattern)
{
    Buffer<wchar_t> page{};
    const wchar_t HEAD[] = L"<html><body><pre>";
    const wchar_t TAIL[] = L"</pre></body></html>";
    (void)AppendItems(page, HEAD, ARRAYSIZE(HEAD) - 1);
    DWORD result = CheckScriptFiles(pattern, {AppendToPage, &page});
    if (AppendItems(page, TAIL, ARRAYSIZE(TAIL)) == ERROR_SUCCESS)
        (void)ShowHelp(nullptr, page.items);
    ReleaseItems(page);
    return result;
}

// The pattern with its folder made full from the current one, its '!' kept: a run finds
// files only by a full path, but a check is typed in a shell's folder.
bool MakeFullPattern(const wchar_t* pattern, wchar_t (&full)[LINE_BUFFER_CHARS])
{
    bool recursive = *pattern == L'!';
    full[0] = L'!';
    DWORD length = GetFullPathNameW(pattern + recursive, LINE_BUFFER_CHARS - 1, full + recursive, nullptr);
    return length > 0 && length < LINE_BUFFER_CHARS - 1;
}

} // namespace

DWORD CheckNamedScripts(wchar_t* pattern)
{
    pattern = const_cast<wchar_t*>(SkipBlanks(pattern));
    size_t length = wcslen(pattern);
    while (length > 0 && (pattern[length - 1] == L' ' || pattern[length - 1] == L'\t'))
        pattern[--length] = 0;
    pattern = StripQuotes(pattern, L'"');
    wchar_t full[LINE_BUFFER_CHARS];
    if (*pattern && MakeFullPattern(pattern, full))
        pattern = full;
    HANDLE output;
    if (HasStandardOutput(output))
        return CheckScriptFiles(pattern, {WriteToStandardOutput, output});
    return CheckIntoPage(pattern);
}
