// Every change REGX, .reg text, provisioning documents and ASOC make goes through the
// registry writer: the run's observer hears of each one, and of none the writer refuses.
#include "registry/registry.h"
#include "registry_test_support.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <vector>

namespace {

using namespace regtest;

enum class Input { Script, RegistryText, Document };

struct ChangeCase {
    Input input;
    const wchar_t* text;        // {K} the test key (HKCU\...), {H} the test hive, {E} the test extension
    DWORD answer;               // the observer's
    DWORD result;
    const wchar_t* changes;     // what the observer heard of, one per line
    int line;
};
#define CHANGE_CASE(i, t, a, r, c) {Input::i, t, a, r, c, __LINE__}
#define DOCUMENT(items) L"<wap-provisioningdoc><characteristic type=\"Registry\">" items \
                        L"</characteristic></wap-provisioningdoc>"

constexpr DWORD ROOT = RESULT_REGISTRY_ROOT;
constexpr DWORD STOP = ERROR_CANCELLED;
const DWORD BAD_KEY_PATH = static_cast<DWORD>(PROVISIONING_BAD_KEY_PATH);

const ChangeCase CHANGE_CASES[] = {
    CHANGE_CASE(Script, L"REGX {K}\\#n=5", 0, 0, L"CreateKey {K}\nSetValue {K}:n\n"),
    CHANGE_CASE(Script, L"REGX {K}\\@b=01", 0, 0, L"CreateKey {K}\nSetValue {K}:b\n"),
    CHANGE_CASE(Script, L"REGX {K}\\=text", 0, 0, L"CreateKey {K}\nSetValue {K}:@\n"),
    CHANGE_CASE(Script, L"REGX {K}\\-old", 0, 0, L"DeleteValue {K}:old\n"),
    CHANGE_CASE(Script, L"REGX {K}\\sub\\-", 0, 0, L"DeleteKeyTree {K}\\sub\n"),
    CHANGE_CASE(Script, L"REGX {K}\\s=1", STOP, STOP, L"CreateKey {K}\n"),
    CHANGE_CASE(Script, L"REGX HKCU\\\\-", 0, ROOT, L""),
    CHANGE_CASE(Script, L"REGX HKU\\{H}\\-", 0, ROOT, L""),
    CHANGE_CASE(RegistryText, L"[{K}\\a]\r\n\"v\"=\"1\"\r\n@=dword:2\r\n\"old\"=-\r\n[-{K}\\sub]\r\n", 0, 0,
                L"CreateKey {K}\\a\nSetValue {K}\\a:v\nSetValue {K}\\a:@\nDeleteValue {K}\\a:old\nDeleteKeyTree {K}\\sub\n"),
    CHANGE_CASE(RegistryText, L"[-HKCU\\]\r\n[-HKEY_USERS\\{H}]\r\n", 0, 0, L""),
    CHANGE_CASE(Document, DOCUMENT(L"<characteristic type=\"{K}\"><parm name=\"v\" value=\"1\"/><noparm name=\"old\"/>"
                                   L"<characteristic type=\"made\"/></characteristic><nocharacteristic type=\"{K}\\sub\"/>"),
                0, 0, L"CreateKey {K}\nSetValue {K}:v\nDeleteValue {K}:old\nCreateKey {K}\\made\nDeleteKeyTree {K}\\sub\n"),
    CHANGE_CASE(Document, DOCUMENT(L"<characteristic type=\"{K}\"><parm name=\"v\" value=\"1\"/></characteristic>"
                                   L"<nocharacteristic type=\"HKEY_USERS\\{H}\"/>"),
                0, BAD_KEY_PATH, L""),
    CHANGE_CASE(Script, L"ASOC {E}", STOP, STOP,
                L"CreateKey HKCR\\{E}\nCreateKey HKCR\\Varnolt\nCreateKey HKCR\\Varnolt\\DefaultIcon\n"
                L"CreateKey HKCR\\Varnolt\\Shell\\Open\\Command\n"),
    CHANGE_CASE(Script, L"ASOC !\\", 0, ROOT, L""),
};

std::wstring Fill(std::wstring text, const TestKey& key, const TestHive& hive, const std::wstring& extension)
{
    for (auto [mark, value] : {std::pair{L"{K}", key.Script()}, {L"{H}", hive.name()}, {L"{E}", extension}})
        for (size_t at = text.find(mark); at != std::wstring::npos; at = text.find(mark, at + value.size()))
            text.replace(at, wcslen(mark), value);
    return text;
}

DWORD RunInput(Input input, std::wstring text)
{
    switch (input) {
    case Input::Script: return test::Run(text);
    case Input::RegistryText: return ImportRegistryText(text.data(), nullptr);
    case Input::Document: return static_cast<DWORD>(ProcessProvisioningDocument(text.c_str(), nullptr));
    }
    return ERROR_INVALID_FUNCTION;
}

// A hive of the test's own stands for the user's, so that a delete the writer let through
// could only empty the test's data.
TEST(RegistryChanges, EveryCommandWritesThroughTheWriter)
{
    test::TempFolder folder;
    TestHive hive(folder.path(), L"VarnoltTest-" + std::to_wstring(GetCurrentProcessId()) + L"-changes");
    ASSERT_TRUE(hive.loaded());
    std::wstring extension = L".vrchange" + std::to_wstring(GetCurrentProcessId());
    for (const auto& c : CHANGE_CASES) {
        TestKey key(L"changes");
        SetValue(HKEY_CURRENT_USER, key.path(), L"old", REG_SZ, TextBytes(L"1"));
        SetValue(HKEY_CURRENT_USER, key.path() + L"\\sub", L"v", REG_SZ, TextBytes(L"1"));
        ChangeRecorder observer(c.answer);
        EXPECT_EQ(RunInput(c.input, Fill(c.text, key, hive, extension)), c.result) << "case at line " << c.line;
        EXPECT_EQ(observer.Asked(), Fill(c.changes, key, hive, extension)) << "case at line " << c.line;
        EXPECT_TRUE(hive.Intact()) << "case at line " << c.line;
    }
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, extension));
}

} // namespace
