// The documents the journal writes for people, as plain text and as an HTML page at once.
#include "journal/journal_format.h"
#include <cwchar>

namespace {

void Put(RunDocument& document, Buffer<wchar_t>& to, const wchar_t* text, size_t units)
{
    if (!AppendText(to, text, units))
        document.isShort = true;
}

void Put(RunDocument& document, Buffer<wchar_t>& to, const wchar_t* text)
{
    Put(document, to, text, wcslen(text));
}

wchar_t Shown(wchar_t unit)
{
    return unit == ARG_SEPARATOR ? L',' : unit < L' ' ? L' ' : unit;
}

void PutText(RunDocument& document, const wchar_t* text, size_t units)
{
    for (size_t i = 0; i < units; ++i) {
        wchar_t unit = Shown(text[i]);
        Put(document, document.text, &unit, 1);
    }
}

// The text with the page's special characters written as entities.
void PutPage(RunDocument& document, const wchar_t* text, size_t units)
{
    for (size_t i = 0; i < units; ++i) {
        wchar_t unit = Shown(text[i]);
        const wchar_t* entity = unit == L'&' ? L"&amp;" : unit == L'<' ? L"&lt;" : unit == L'>' ? L"&gt;"
                              : unit == L'"' ? L"&quot;" : nullptr;
        if (entity)
            Put(document, document.page, entity);
        else
            Put(document, document.page, &unit, 1);
    }
}

void CloseList(RunDocument& document)
{
    if (document.hasOpenList)
        Put(document, document.page, L"</ul>\r\n");
    document.hasOpenList = false;
}

} // namespace

void StartDocument(RunDocument& document, const wchar_t* title, size_t units)
{
    document.text.count = 0;
    document.page.count = 0;
    document.hasOpenList = false;
    document.isShort = false;
    PutText(document, title, units);
    Put(document, document.text, L"\r\n\r\n");
    Put(document, document.page, L"<html><head><meta charset=\"utf-8\"><title>");
    PutPage(document, title, units);
    Put(document, document.page, L"</title></head><body>\r\n<h1>");
    PutPage(document, title, units);
    Put(document, document.page, L"</h1>\r\n");
}

void AddParagraph(RunDocument& document, const wchar_t* text, size_t units)
{
    if (document.hasOpenList)
        Put(document, document.text, L"\r\n");
    CloseList(document);
    PutText(document, text, units);
    Put(document, document.text, L"\r\n");
    Put(document, document.page, L"<p>");
    PutPage(document, text, units);
    Put(document, document.page, L"</p>\r\n");
}

void AddParagraph(RunDocument& document, const wchar_t* text)
{
    AddParagraph(document, text, wcslen(text));
}

void AddHeading(RunDocument& document, const wchar_t* text, size_t units)
{
    CloseList(document);
    Put(document, document.text, L"\r\n");
    PutText(document, text, units);
    Put(document, document.text, L"\r\n");
    Put(document, document.page, L"<h2>");
    PutPage(document, text, units);
    Put(document, document.page, L"</h2>\r\n<ul>\r\n");
    document.hasOpenList = true;
}

void AddItem(RunDocument& document, const wchar_t* text, size_t units, bool isMarked)
{
    if (!document.hasOpenList) {
        Put(document, document.page, L"<ul>\r\n");
        document.hasOpenList = true;
    }
    Put(document, document.text, isMarked ? L"  ! " : L"    ");
    PutText(document, text, units);
    Put(document, document.text, L"\r\n");
    Put(document, document.page, isMarked ? L"<li><b>" : L"<li>");
    PutPage(document, text, units);
    Put(document, document.page, isMarked ? L"</b></li>\r\n" : L"</li>\r\n");
}

DWORD EndDocument(RunDocument& document)
{
    CloseList(document);
    Put(document, document.page, L"</body></html>\r\n");
    if (!EndText(document.text) || !EndText(document.page))
        document.isShort = true;
    return document.isShort ? ERROR_NOT_ENOUGH_MEMORY : ERROR_SUCCESS;
}
