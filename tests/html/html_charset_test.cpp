// How a help page's bytes become text: the mark, then the declared charset, then UTF-8
// when the bytes are valid UTF-8, else ANSI.
#include "html/html_document.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <string>

namespace {

struct CharsetCase {
    std::string bytes;
    const wchar_t* text;      // nullptr: the bytes as the ANSI code page reads them
    int line;
};
#define CHARSET_CASE(b, t) {b, t, __LINE__}

const CharsetCase CHARSET_CASES[] = {
    CHARSET_CASE("Let\xE2\x80\x99s", L"Let\x2019s"),                         // UTF-8 without mark or declaration
    CHARSET_CASE("caf\xE9 \xC3", nullptr),                                    // not UTF-8: ANSI
    CHARSET_CASE("<meta charset=\"utf-8\">Lo\xC3\xAF" "c", L"<meta charset=\"utf-8\">Lo\x00EF" L"c"),
    CHARSET_CASE("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">\xC3\xA9",
                 L"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">\x00C3\x00A9"),
    CHARSET_CASE("<META CHARSET='Windows-1251'/>\xCF\xF0\xE8", L"<META CHARSET='Windows-1251'/>\x041F\x0440\x0438"),
    CHARSET_CASE("<meta name=x content=\"charset=windows-1252\">\xC3\xA9",  // content without http-equiv says nothing
                 L"<meta name=x content=\"charset=windows-1252\">\x00E9"),
    CHARSET_CASE("<!-- <meta charset=windows-1252> -->\xC3\xA9", L"<!-- <meta charset=windows-1252> -->\x00E9"),
    CHARSET_CASE("<meta charset=x-unknown>\xC3\xA9", L"<meta charset=x-unknown>\x00E9"),
    CHARSET_CASE("\xEF\xBB\xBF<meta charset=windows-1252>\xC3\xA9", L"<meta charset=windows-1252>\x00E9"),  // the mark wins
    CHARSET_CASE(std::string("\xFF\xFE<\0p\0>\0\x2D\x4E", 10), L"<p>\x4E2D"),
};

TEST(HtmlCharset, MarkThenDeclarationThenContent)
{
    for (const auto& c : CHARSET_CASES) {
        std::wstring expected;
        if (c.text) {
            expected = c.text;
        } else {
            expected.resize(c.bytes.size());
            expected.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, c.bytes.data(), static_cast<int>(c.bytes.size()),
                                                                    expected.data(), static_cast<int>(expected.size()))));
        }
        wchar_t* text = DecodeHtmlBytes(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size());
        ASSERT_NE(text, nullptr) << "case at line " << c.line;
        EXPECT_EQ(std::wstring(text), expected) << "case at line " << c.line;
        free(text);
    }
}

} // namespace
