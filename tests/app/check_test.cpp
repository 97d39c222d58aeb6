// The checker over the language as shipped: the examples pass it, and each kind of fault
// is found at its file, line and column. Nothing a check reads is run or written.
#include "app/app.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <string>

namespace {

struct Installed {
    Installed()
    {
        InstallScriptLanguage(&VARNOLT_LANGUAGE);
        InstallConfigurationProcessor(VARNOLT_CONFIGURATION_PROCESSOR);
    }
} installed;

const wchar_t CHECK_KEY[] = L"Software\\VarnoltCheckTest";

void Collect(void* context, const wchar_t* text)
{
    *static_cast<std::wstring*>(context) += text;
}

DWORD Check(const std::wstring& pattern, std::wstring& output)
{
    return CheckScriptFiles(pattern.c_str(), {Collect, &output});
}

// The source tree as the test program sees it through Wine's drive Z:.
std::wstring SourcePath(const char* relative)
{
    std::wstring path = L"Z:" + test::Widen(VARNOLT_SOURCE_DIR "/") + test::Widen(relative);
    for (auto& unit : path)
        unit = unit == L'/' ? L'\\' : unit;
    return path;
}

TEST(Check, EveryExamplePassesWithoutError)
{
    for (const char* pattern : {"examples/*.vrs", "examples/*.provxml", "tests/corpus/escape-cut-short.vrs",
                                "tests/corpus/continuation-at-end.reg"}) {
        std::wstring output;
        EXPECT_EQ(Check(SourcePath(pattern), output), 0u) << test::Utf8(output);
        EXPECT_NE(output.find(L"0 errors, "), std::wstring::npos) << test::Utf8(output);
    }
}

struct FaultCase {
    const char* name;
    std::string text;
    const wchar_t* finding;     // "(line,column): error|warning VRnnnn", after the file's path
};

const std::string SECTION = "[HKEY_CURRENT_USER\\Software\\VarnoltCheckTest]\r\n";
const std::string DOCUMENT = "EVAL x=0\r\n<wap-provisioningdoc><characteristic type=\"Registry\">\r\n"
                             "<characteristic type=\"HKCU\\Software\\VarnoltCheckTest\">\r\n";
const std::string DOCUMENT_END = "\r\n</characteristic></characteristic></wap-provisioningdoc>\r\n<>\r\n";

std::string ManyDialogItems()
{
    std::string items = "DLGX T";
    for (int i = 0; i < 33; ++i)
        items += ",$item";
    return items;
}

const FaultCase FAULT_CASES[] = {
    {"keyword.vrs", "EVAL x=0\r\nREGZ HKCU\\x,1\r\n", L"(2,1): error VR1001"},
    {"long.vrs", "EVAL x=" + std::string(5000, 'a') + "\r\n", L"(1,1): error VR1002"},
    {"block.vrs", "IFEX 1=2\r\nEVAL x=1\r\n", L"(1,1): error VR1003"},
    {"else.vrs", "EVAL x=0\r\n  ELSE EVAL x=1\r\n", L"(2,3): error VR1004"},
    {"endp.vrs", "ENDP\r\nEVAL x=1\r\n", L"(1,1): warning VR1005"},
    {"call.vrs", "CALL Nowhere\r\n", L"(1,1): error VR1006"},
    {"twice.vrs", "PROC A\r\nENDP A\r\nPROC A\r\nENDP A\r\n", L"(3,1): warning VR1007"},
    {"unended.vrs", "PROC A\r\nEVAL x=1\r\n", L"(1,1): warning VR1008"},
    {"load.vrs", "LOAD %C\\missing.vrs\r\n", L"(1,6): warning VR1009"},
    {"blank.vrs", "BATC EVAL x=1; EVAL x=2\r\n", L"(1,15): error VR1011"},
    {"landing.vrs", "GOTO Setup\r\nPROC Setup2\r\n", L"(1,1): warning VR1012"},
    {"root.vrs", "REGX HKXX\\a\\b=1\r\n", L"(1,6): error VR2001"},
    {"value.vrs", "REGX HKCU\\novalue\r\n", L"(1,6): error VR2002"},
    {"delete.vrs", "FILE a.txt,b.txt\r\n", L"(1,11): error VR2003"},
    {"number.vrs", "REGX HKCU\\a\\#b=99999999999\r\n", L"(1,16): error VR2004"},
    {"items.vrs", ManyDialogItems() + "\r\n", L"(1,200): warning VR2005"},
    {"bar.vrs", "DLGX T,@label\r\n", L"(1,9): warning VR2006"},
    {"binary.vrs", "REGX HKCU\\a\\@b=01,02\r\n", L"(1,18): error VR2007"},
    {"comma.vrs", "FILE a.txt<x,y\r\n", L"(1,13): warning VR2008"},
    {"hex.vrs", SECTION + "\"a\"=hex:0g\r\n", L"(2,1): error VR3001"},
    {"type.vrs", SECTION + "\"a\"=foo:1\r\n", L"(2,1): error VR3002"},
    {"quote.vrs", SECTION + "\"a\"=\"open\r\n", L"(2,1): error VR3003"},
    {"rootless.vrs", "[HKXX\\Software\\VarnoltCheckTest]\r\n", L"(1,1): error VR3004"},
    {"foreign.reg", "REGEDIT4\r\n\r\njunk\r\n", L"(3,1): error VR3005"},
    {"equals.vrs", SECTION + "\"a\" 1\r\n", L"(2,1): error VR3006"},
    {"bracket.vrs", "[HKEY_CURRENT_USER\\Software\\VarnoltCheckTest\r\n", L"(1,1): warning VR3007"},
    {"xml.vrs", "EVAL x=0\r\n<wap-provisioningdoc>\r\n<characteristic>\r\n<>\r\n", L"(2,1): error VR4001"},
    {"other.vrs", "EVAL x=0\r\n<other/>\r\n<>\r\n", L"(2,1): error VR4002"},
    {"provider.provxml", "<wap-provisioningdoc>\r\n  <characteristic type=\"Clock\"/>\r\n</wap-provisioningdoc>\r\n",
     L"(2,3): warning VR4003"},
    {"datatype.vrs", DOCUMENT + "<parm name=\"a\" value=\"1\" datatype=\"blah\"/>" + DOCUMENT_END, L"(4,1): error VR4004"},
    {"integer.vrs", DOCUMENT + "<parm name=\"a\" value=\"x\" datatype=\"integer\"/>" + DOCUMENT_END, L"(4,1): error VR4005"},
    {"path.vrs", "EVAL x=0\r\n<wap-provisioningdoc><characteristic type=\"Registry\">\r\n<characteristic type=\"HKXX\\y\">"
                 "<parm name=\"a\" value=\"1\"/></characteristic></characteristic></wap-provisioningdoc>\r\n<>\r\n",
     L"(3,1): error VR4006"},
    {"subset.vrs", DOCUMENT + "<other/>" + DOCUMENT_END, L"(4,1): error VR4007"},
    {"marker.vrs", "EVAL x=0\r\n<wap-provisioningdoc/>\r\n", L"(2,1): warning VR4008"},
};

TEST(Check, EachFaultIsFoundAtItsPlace)
{
    test::TempFolder folder;
    for (const auto& c : FAULT_CASES) {
        std::wstring path = folder / test::Widen(c.name);
        test::WriteBytes(path, c.text);
        std::wstring output;
        DWORD result = Check(path, output);
        std::wstring finding = path + c.finding;
        EXPECT_EQ(output.compare(0, finding.size(), finding), 0) << c.name << ":\n" << test::Utf8(output);
        EXPECT_EQ(result, output.find(L": error ") != std::wstring::npos ? 1u : 0u) << c.name;
    }
    std::wstring output;
    EXPECT_EQ(Check(folder / L"nothing*.vrs", output), 1u);
    EXPECT_NE(output.find(L"(1,1): error VR1010"), std::wstring::npos) << test::Utf8(output);
    HKEY key;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, CHECK_KEY, 0, KEY_READ, &key), ERROR_SUCCESS);   // nothing created
}

// Lines a run takes as meant find nothing: what only a run knows is never guessed at.
const FaultCase CLEAN_CASES[] = {
    {"variable.vrs", "EVAL 1=x\r\nREGX %1\r\nFOOBAR%1\r\nBATC %1;EVAL x=0\r\nIFEX %1\r\nCALL %2\r\n", nullptr},
    {"closed.vrs", "IFEX 1=2\r\nEVAL x=1\r\nIFEX\r\nELSE EVAL x=2\r\n", nullptr},
    {"jump.vrs", "GOTO End\r\nEVAL x=1\r\nPROC End\r\n", nullptr},
    {"procedure.vrs", "CALL Sub\r\nENDP\r\nPROC Sub\r\nEVAL x=1\r\nENDP Sub\r\n", nullptr},
    {"section.vrs", SECTION + "\"a\"=hex:01,02\r\n\"b\"=dword:0000001f\r\n@=\"x\"\r\nEVAL x=0\r\n", nullptr},
    {"regedit4.reg", "REGEDIT4\r\n\r\n" + SECTION + "\"a\"=hex(2):41,00,\\\r\n  00\r\n", nullptr},
    {"escaped.vrs", "FILE a.txt<x%,y\r\nREGX HKCU\\a\\@b=01%,02\r\nREGX HKCU\\a\\#b=-1\r\nDLGX T,@x|HKCU\\a\\v\r\n", nullptr},
    {"document.vrs", DOCUMENT + "<parm name=\"a\" value=\"1\" datatype=\"integer\"/>" + DOCUMENT_END, nullptr},
};

TEST(Check, CleanScriptsFindNothing)
{
    test::TempFolder folder;
    for (const auto& c : CLEAN_CASES) {
        std::wstring path = folder / test::Widen(c.name);
        test::WriteBytes(path, c.text);
        std::wstring output;
        EXPECT_EQ(Check(path, output), 0u) << c.name;
        EXPECT_EQ(output, L"0 errors, 0 warnings\r\n") << c.name;
    }
}

// A LOADed script is checked too, once however often it is named.
TEST(Check, LoadedScriptsAreCheckedOnce)
{
    test::TempFolder folder;
    test::WriteBytes(folder / L"outer.vrs", "LOAD %C\\inner.vrs\r\nLOAD %C\\inner.vrs\r\n");
    test::WriteBytes(folder / L"inner.vrs", "EVAL x=0\r\nGOTO Nowhere\r\n");
    std::wstring output;
    EXPECT_EQ(Check(folder / L"outer.vrs", output), 1u);
    EXPECT_EQ(output, folder / L"inner.vrs(2,1): error VR1006: no `PROC Nowhere` below this line: the search goes "
                               L"forward only, and the line gives 1\r\n1 error, 0 warnings\r\n");
}

// The guide's table of codes names every finding the checker can write.
TEST(Check, GuideListsEveryCode)
{
    std::wstring guide = test::Widen(test::ReadBytes(test::ProgramFolder() + L"\\Varnolt.htm"));
    for (size_t i = 0; i < FINDING_ROW_COUNT; ++i) {
        std::wstring cell = L"<tr><td>VR" + std::to_wstring(FINDING_ROWS[i].code) + L"</td><td>" +
                            (FINDING_ROWS[i].isError ? L"error" : L"warning") + L"</td>";
        EXPECT_NE(guide.find(cell), std::wstring::npos) << test::Utf8(cell);
    }
}

} // namespace
