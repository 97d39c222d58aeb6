// The .reg files people keep were written for the platform's regedit: each case is imported
// by regedit /s into one key and by this importer into another, and the two keys must hold
// the same values (type and bytes), except where this importer differs on purpose.
#include "registry/registry.h"
#include "registry_test_support.h"
#include "support/test_support.h"
#include <gtest/gtest.h>

namespace {

using namespace regtest;

enum class Form { Regedit4Ansi, Version5Utf16 };

struct ParityCase {
    Form form;
    const wchar_t* body;        // after the header; {K} is the case's key, {P} its path below HKCU
    const wchar_t* differs;     // the entries (names starting "\\sub:name" or "\\sub") that differ on purpose
    const char* reason;
    int line;
};
#define SAME(f, b) {f, b, nullptr, nullptr, __LINE__}
#define DIFFERS(f, b, v, why) {f, b, v, why, __LINE__}

constexpr Form V4 = Form::Regedit4Ansi;
constexpr Form V5 = Form::Version5Utf16;

const ParityCase PARITY_CASES[] = {
    SAME(V4, L"[{K}]\r\n\"Path\"=\"C:\\\\Tools\\\\Hexagon\"\r\n\"Note\"=\"use dword: 5\"\r\n"
             L"\"Desc\"=\"hex: not binary\"\r\n\"List\"=\"multi_sz:\\\"a\\\"\"\r\n"),
    SAME(V4, L"[{K}\\App] \r\n\"v\"=\"1\"\r\n[{K}\\Two]\t;comment\r\n\"w\"=\"2\"\r\n"),
    SAME(V4, L"[{K}]\r\n; install to C:\\App\\\r\n\"v\"=\"1\"\r\n"),
    SAME(V5, L"[{K}]\r\n\"a\"=hex(0):56,00,61,00,\\;comment\r\n  6c,00,75,00,\\\r\n  65,00,00,00\r\n"
             L"\"b\"=hex:01,02,\\\r\n;comment\r\n  03,04\r\n\"c\"=hex:05,06 ;tail\r\n"),
    DIFFERS(V5, L"[{K}]\r\n\"c\"=hex(2):4c,69,6e,65\\\r\n\"d\"=\"Value 2\"\r\n[{K}\\sub]\r\n\"g\"=\"1\"\r\n", L":c",
            "data cut short by the next value line keep the bytes before the backslash; regedit drops the value"),
    DIFFERS(V5, L"[{K}\\x]\r\n\"f\"=hex:01,\\\r\n[{K}\\x\\y]\r\n\"g\"=\"1\"\r\n", L"\\x",
            "a continuation never joins a key line, so g goes to x\\y; regedit drops f and its key line"),
    SAME(V4, L"[{K}]\r\n\"x\"=dword:\t00000008\r\n\"y\"=dword: 9\r\n\"z\"=dword:1 ;note\r\n"),
    SAME(V5, L"[{K}]\r\n\"m\"=hex(7):4c,69,6e,65,00\r\n\"e\"=hex(2):25,41,25,00\r\n"),
    SAME(V4, L"[{K}]\r\n\"e\"=hex(2):25,41,25,5c,e9,00\r\n\"m\"=hex(7):61,00,62,63,00,00\r\n"
             L"\"n\"=hex(2):25,41,25\r\n\"o\"=hex(1):61,62,00\r\n"),      // ANSI strings are widened
    // Where both importers already agree.
    SAME(V4, L"[{K}]\n\"lf\"=\"1\"\n\"n\"=dword:2\n"),
    SAME(V5, L"[{K}]\r\"cr\"=\"1\"\r\"n\"=dword:2\r"),
    SAME(V5, L"[{K}]\r\n\"q\\\"n\"=\"a\\\\b\\\"c\"\r\n@=\"def\"\r\n\"w\"=\"\u4e2d\u6587\"\r\n\"s\"=\"a;b\"\r\n"
             L"\"t\"=\"x\" ;comment\r\n\"u\"=\"\"\r\n"),
    SAME(V5, L"[{K}]\r\n\"b4\"=hex:01,\\\r\n  02,\\\n03\r\n\"b5\"=hex:01,\\\r\n\r\n  02\r\n\"b6\"=hex:01,02,\\   \r\n  03\r\n"
             L"\"q\"=hex(b):01,02,03,04,05,06,07,08\r\n"),
    SAME(V5, L"[{K}\\del]\r\n\"z\"=\"1\"\r\n[-{K}\\del]\r\n[-{K}\\never]\r\n[{K}]\r\n\"x\"=\"1\"\r\n\"y\"=\"2\"\r\n"
             L"\"x\"=-\r\n\"gone\"=-\r\n@=\"d\"\r\n@=-\r\n"),
    // Where this importer differs on purpose.
    DIFFERS(V4, L"[{K}]\r\n\"n\"=\"a\\nb\"\r\n", L":n", "\\n in quotes is the letter n"),
    DIFFERS(V4, L"[hkey_current_user\\{P}\\low]\r\n\"v\"=\"1\"\r\n", L"\\low", "roots are written in capitals"),
    DIFFERS(V4, L"[{K}]\r\n\"kept\"=\"x\"\r\n\"kept\"= -\r\n", L":kept", "only \"=-\" deletes a value"),
    DIFFERS(V4, L"[{K}]\r\n\"d\"=DWORD:ffffffff\r\n", L":d", "type words ignore letter case"),
    DIFFERS(V4, L"[{K}]\r\n\"d\"=dword:123456789\r\n", L":d", "a longer number keeps its low 32 bits"),
    DIFFERS(V4, L"[{K}]\r\n\"h\"=hex: 01,02\r\n", L":h", "in hex data a blank is the digit 0"),
    DIFFERS(V4, L"[{K}]\r\n\"h\"=hex:1,2\r\n", L":h", "a single hex digit is the high one"),
    DIFFERS(V4, L"[{K}]\r\n\"m\"=multi_sz:\"a\",\"b\"\r\n", L":m", "multi_sz: is a data form"),
    DIFFERS(V4, L"[{K}]\r\n\"u\"=hex(2):25,00,41,00,00,00\r\n\"w\"=hex(7):61,00,00,00,00,00\r\n", L":",
            "REGEDIT4 string data that are UTF-16 already are kept as written; regedit widens each byte"),
    DIFFERS(V4, L"[{K}]\r\n\"s\"=\"ab\\\r\n\"c\"\r\n", L":s", "a backslash at a line's end joins quoted text too"),
};

std::string Encode(Form form, const std::wstring& body)
{
    if (form == Form::Version5Utf16)
        return "\xFF\xFE" + test::Utf16Bytes(L"Windows Registry Editor Version 5.00\r\n\r\n" + body);
    return "REGEDIT4\r\n\r\n" + std::string(body.begin(), body.end());    // ASCII only
}

std::wstring Fill(const ParityCase& c, const TestKey& key)
{
    std::wstring text = WithKey(c.body, key.Long());
    for (size_t at = text.find(L"{P}"); at != std::wstring::npos; at = text.find(L"{P}", at))
        text.replace(at, 3, key.path());
    return text;
}

// The entries of 'dump' whose names start with 'prefix', or (not 'starting') the others.
RegistryDump Select(const RegistryDump& dump, const std::wstring& prefix, bool starting)
{
    RegistryDump selected;
    for (const auto& entry : dump)
        if ((entry.first.compare(0, prefix.size(), prefix) == 0) == starting)
            selected.insert(entry);
    return selected;
}

void ExpectSameDump(const RegistryDump& expected, const RegistryDump& actual, int line)
{
    for (const auto& [name, value] : expected) {
        auto found = actual.find(name);
        EXPECT_TRUE(found != actual.end() && found->second == value) << test::Utf8(name) << ", case at line " << line;
    }
    for (const auto& entry : actual)
        EXPECT_EQ(expected.count(entry.first), 1u) << test::Utf8(entry.first) << " only here, case at line " << line;
}

TEST(RegeditParity, ValuesMatchRegedit)
{
    test::TempFolder folder;
    TestKey peer(L"regedit"), own(L"varnolt");
    for (const auto& c : PARITY_CASES) {
        std::wstring peerFile = folder / L"peer.reg", ownFile = folder / L"own.reg";
        test::WriteBytes(peerFile, Encode(c.form, Fill(c, peer)));
        test::WriteBytes(ownFile, Encode(c.form, Fill(c, own)));
        CloseRegistryKey(OpenRegistryKey(HKEY_CURRENT_USER, peer.path().c_str(), KEY_READ));
        CloseRegistryKey(OpenRegistryKey(HKEY_CURRENT_USER, own.path().c_str(), KEY_READ));
        test::ProcessResult regedit = test::StartAndWait(L"C:\\windows\\regedit.exe",
                                                         L"regedit.exe /s \"" + peerFile + L"\"", {}, 10000);
        ASSERT_FALSE(regedit.timedOut) << "case at line " << c.line;
        ASSERT_EQ(regedit.exitCode, 0u) << "case at line " << c.line;
        (void)ImportRegistryFile(ownFile.c_str(), HeaderUnits(ownFile));

        RegistryDump expected = Dump(peer), actual = Dump(own);
        std::wstring differs = c.differs ? c.differs : L"";
        if (c.differs) {
            EXPECT_NE(Select(expected, differs, true), Select(actual, differs, true))
                << "listed as differing (" << c.reason << ") but agrees: case at line " << c.line;
        }
        ExpectSameDump(Select(expected, differs, !c.differs), Select(actual, differs, !c.differs), c.line);
        RegDeleteTreeW(HKEY_CURRENT_USER, peer.path().c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, own.path().c_str());
    }
}

} // namespace
