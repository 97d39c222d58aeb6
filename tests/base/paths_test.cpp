#include "base/base.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct WildcardCase {
    const wchar_t* name;
    const wchar_t* pattern;
    bool expected;
    int line;
};
#define WILDCARD_CASE(n, p, e) {n, p, e, __LINE__}

const WildcardCase WILDCARD_CASES[] = {
    WILDCARD_CASE(L"a.txt", L"*.txt", true),
    WILDCARD_CASE(L"a.txt", L"*.TXT", false),        // case counts
    WILDCARD_CASE(L"", L"*", true),
    WILDCARD_CASE(L"anything", L"*", true),
    WILDCARD_CASE(L"a", L"a*", true),
    WILDCARD_CASE(L"", L"?*", false),
    WILDCARD_CASE(L"xaybz", L"*a*b*", true),
    WILDCARD_CASE(L"a", L"a**", false),
    WILDCARD_CASE(L"", L"", true),
    WILDCARD_CASE(L"a", L"", false),
    WILDCARD_CASE(L"", L"a", false),
    WILDCARD_CASE(L"abc", L"a?c", true),
    WILDCARD_CASE(L"ac", L"a?c", false),
    WILDCARD_CASE(L"aaab", L"*ab", true),            // backtracking after a partial match
    WILDCARD_CASE(L"abab.reg", L"*ab.reg", true),
    WILDCARD_CASE(L"setup.reg.bak", L"*.reg", false),
    WILDCARD_CASE(L"x.reg", L"*.reg*", true),
    WILDCARD_CASE(L"ab", L"*b*b", false),
};

TEST(Paths, WildcardMatch)
{
    for (const auto& c : WILDCARD_CASES)
        EXPECT_EQ(WildcardMatch(c.name, c.pattern), c.expected) << "case at line " << c.line;
}

struct SplitCase {
    const wchar_t* path;
    const wchar_t* folder;
    const wchar_t* name;
    int line;
};
#define SPLIT_CASE(p, f, n) {p, f, n, __LINE__}

const SplitCase SPLIT_CASES[] = {
    SPLIT_CASE(L"C:\\a\\b.txt", L"C:\\a", L"b.txt"),
    SPLIT_CASE(L"name.vrs", L"", L"name.vrs"),
    SPLIT_CASE(L"\\root.vrs", L"", L"root.vrs"),
    SPLIT_CASE(L"C:\\dir\\", L"C:\\dir", L""),
    SPLIT_CASE(L"", L"", L""),
};

TEST(Paths, SplitLastComponent)
{
    for (const auto& c : SPLIT_CASES) {
        std::wstring text = c.path;
        wchar_t* folder = text.data();
        std::wstring name = SplitLastComponent(folder);
        EXPECT_EQ(std::wstring(folder), c.folder) << "case at line " << c.line;
        EXPECT_EQ(name, c.name) << "case at line " << c.line;
    }
}

TEST(Paths, FindNoCase)
{
    const wchar_t* text = L"\"v\"=Dword:00000001";
    EXPECT_EQ(FindNoCase(text, L"DWORD:"), text + 4);
    EXPECT_EQ(FindNoCase(text, L"hex"), nullptr);
    EXPECT_EQ(FindNoCase(text, L""), text);
    EXPECT_EQ(FindNoCase(L"", L""), nullptr);
    EXPECT_EQ(FindNoCase(L"ab", L"abc"), nullptr);       // a needle longer than the rest
}

struct Visit {
    std::vector<std::wstring> names;
    DWORD answer = 0;
    size_t abortAfter = 0;
};

DWORD RecordVisit(void* userData, const wchar_t*, const WIN32_FIND_DATAW& found)
{
    auto& visit = *static_cast<Visit*>(userData);
    visit.names.push_back(found.cFileName);
    return visit.abortAfter && visit.names.size() == visit.abortAfter ? static_cast<DWORD>(E_ABORT) : visit.answer;
}

TEST(Paths, EnumerateFiles)
{
    test::TempFolder folder;
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.dat"})
        test::WriteBytes(folder / name, "x");
    Visit visit;
    visit.answer = 7;
    EXPECT_EQ(EnumerateFiles(RecordVisit, &visit, folder.path().c_str(), L"*.txt"), 7u);
    EXPECT_EQ(visit.names.size(), 2u);

    Visit aborted;
    aborted.abortAfter = 1;
    EXPECT_EQ(EnumerateFiles(RecordVisit, &aborted, folder.path().c_str(), L"*"), static_cast<DWORD>(E_ABORT));
    EXPECT_EQ(aborted.names.size(), 1u);

    Visit none;
    EXPECT_EQ(EnumerateFiles(RecordVisit, &none, (folder / L"missing").c_str(), L"*"), 2u);
    EXPECT_TRUE(none.names.empty());
    std::wstring tooLong(300, L'x');                        // refused, not cut
    EXPECT_EQ(EnumerateFiles(RecordVisit, &none, folder.path().c_str(), tooLong.c_str()), 2u);
    EXPECT_TRUE(none.names.empty());
}

} // namespace
