// Provisioning documents against the real registry, below a key of the test's own.
#include "registry/registry.h"
#include "registry/registry_test_support.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <string>

namespace {

// HKCU\Software\VarnoltTest-<pid>-provisioning, removed before and after each test.
class ProvisioningTest : public testing::Test {
protected:
    const std::wstring key = L"Software\\VarnoltTest-" + std::to_wstring(GetCurrentProcessId()) + L"-provisioning";
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str()); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str()); }

    // Applies 'xml' with every "{K}" replaced by the test key's full path.
    HRESULT Apply(std::wstring xml, std::wstring* output = nullptr)
    {
        for (size_t at = xml.find(L"{K}"); at != std::wstring::npos; at = xml.find(L"{K}", at))
            xml.replace(at, 3, L"HKCU\\" + key);
        wchar_t* text = nullptr;
        HRESULT result = ProcessProvisioningDocument(xml.c_str(), &text);
        if (output)
            *output = text ? text : L"";
        delete[] text;
        return result;
    }

    // A document whose items are in the test key.
    HRESULT ApplyItems(const std::wstring& items, std::wstring* output = nullptr)
    {
        return Apply(L"<wap-provisioningdoc><characteristic type=\"Registry\"><characteristic type=\"{K}\">" + items +
                     L"</characteristic></characteristic></wap-provisioningdoc>", output);
    }

    // "type:bytes" of a value below the test key, or "missing".
    std::string Stored(const wchar_t* name, const std::wstring& below = L"")
    {
        HKEY handle;
        std::string stored = "missing";
        if (RegOpenKeyExW(HKEY_CURRENT_USER, (below.empty() ? key : key + L"\\" + below).c_str(), 0, KEY_READ, &handle))
            return stored;
        DWORD type = 0;
        DWORD size = 0;
        if (!RegQueryValueExW(handle, name, nullptr, &type, nullptr, &size)) {
            std::string bytes(size, '\0');
            RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size);
            stored = std::to_string(type) + ":" + bytes.substr(0, size);
        }
        RegCloseKey(handle);
        return stored;
    }

    bool KeyExists(const std::wstring& below)
    {
        HKEY handle;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, (key + L"\\" + below).c_str(), 0, KEY_READ, &handle))
            return false;
        RegCloseKey(handle);
        return true;
    }
};

std::string Typed(DWORD type, const std::string& bytes)
{
    return std::to_string(type) + ":" + bytes;
}

std::string Text(const std::wstring& text)
{
    return test::Utf16Bytes(text) + std::string(2, '\0');
}

struct DatatypeCase {
    const wchar_t* attributes;      // of <parm name="v" .../>
    std::string stored;
    int line;
};
#define DATATYPE_CASE(a, t, b) {a, Typed(t, b), __LINE__}

const DatatypeCase DATATYPE_CASES[] = {
    DATATYPE_CASE(L"value=\"Ann &amp; Bob\"", REG_SZ, Text(L"Ann & Bob")),                 // no datatype: a string
    DATATYPE_CASE(L"value=\"&#x4E2D;\" datatype=\"string\"", REG_SZ, Text(L"\x4E2D")),
    DATATYPE_CASE(L"value=\"-5\" datatype=\"integer\"", REG_DWORD, std::string("\xFB\xFF\xFF\xFF", 4)),
    DATATYPE_CASE(L"value=\"2147483647\" datatype=\"integer\"", REG_DWORD, std::string("\xFF\xFF\xFF\x7F", 4)),
    DATATYPE_CASE(L"value=\"-2147483648\" datatype=\"integer\"", REG_DWORD, std::string("\0\0\0\x80", 4)),
    DATATYPE_CASE(L"value=\"true\" datatype=\"boolean\"", REG_DWORD, std::string("\1\0\0\0", 4)),
    DATATYPE_CASE(L"value=\"0\" datatype=\"boolean\"", REG_DWORD, std::string("\0\0\0\0", 4)),
    DATATYPE_CASE(L"value=\"AQID\" datatype=\"binary\"", REG_BINARY, std::string("\1\2\3", 3)),
    DATATYPE_CASE(L"value=\"QUJD RA==\" datatype=\"binary\"", REG_BINARY, "ABCD"),          // blanks and padding
    DATATYPE_CASE(L"value=\"\" datatype=\"binary\"", REG_BINARY, ""),
    DATATYPE_CASE(L"value=\"%TEMP%\\x\" datatype=\"expandstring\"", REG_EXPAND_SZ, Text(L"%TEMP%\\x")),
    DATATYPE_CASE(L"value=\"alpha&#xF000;beta\" datatype=\"multiplestring\"", REG_MULTI_SZ,
                  Text(L"alpha") + Text(L"beta") + std::string(2, '\0')),
    DATATYPE_CASE(L"value=\"\" datatype=\"multiplestring\"", REG_MULTI_SZ, std::string(2, '\0')),   // the empty list
};

TEST_F(ProvisioningTest, EveryDatatypeIsStoredWithItsTypeAndBytes)
{
    for (const auto& c : DATATYPE_CASES) {
        EXPECT_EQ(ApplyItems(std::wstring(L"<parm name=\"v\" ") + c.attributes + L"/>"), S_OK) << "case at line " << c.line;
        EXPECT_EQ(Stored(L"v"), c.stored) << "case at line " << c.line;
    }
}

const wchar_t VALID_PARM[] = L"<parm name=\"applied\" value=\"1\"/>";

struct RefusalCase {
    const wchar_t* document;        // "{P}" is a valid parm in the test key, "{K}" the key
    HRESULT result;
    int line;
};
#define REFUSAL_CASE(d, r) {d, r, __LINE__}
#define IN_KEY(items) L"<wap-provisioningdoc><characteristic type=\"Registry\"><characteristic type=\"{K}\">{P}" items \
                      L"</characteristic></characteristic></wap-provisioningdoc>"

const RefusalCase REFUSAL_CASES[] = {
    REFUSAL_CASE(IN_KEY(L"<characteristic type=\"open\">"), PROVISIONING_BAD_XML),
    REFUSAL_CASE(IN_KEY(L"<parm name=\"a\" value=\"1\" value=\"2\"/>"), PROVISIONING_BAD_XML),
    REFUSAL_CASE(L"<provisioningdoc><characteristic type=\"Registry\"><characteristic type=\"{K}\">{P}"
                 L"</characteristic></characteristic></provisioningdoc>", PROVISIONING_OTHER_ROOT),
    REFUSAL_CASE(L"<wap-provisioningdoc><characteristic type=\"Registry\"><characteristic type=\"{K}\">{P}"
                 L"</characteristic></characteristic><characteristic type=\"Clock\"/></wap-provisioningdoc>",
                 PROVISIONING_UNKNOWN_PROVIDER),
    REFUSAL_CASE(IN_KEY(L"<parm name=\"a\" value=\"1\" datatype=\"float\"/>"), PROVISIONING_UNKNOWN_DATATYPE),
    REFUSAL_CASE(IN_KEY(L"<parm name=\"a\" value=\"2147483648\" datatype=\"integer\"/>"), PROVISIONING_BAD_VALUE),
    REFUSAL_CASE(IN_KEY(L"<parm name=\"a\" value=\" 1\" datatype=\"integer\"/>"), PROVISIONING_BAD_VALUE),
    REFUSAL_CASE(IN_KEY(L"<parm name=\"a\" value=\"\" datatype=\"integer\"/>"), PROVISIONING_BAD_VALUE),
    REFUSAL_CASE(IN_KEY(L"<parm name=\"a\" value=\"yes\" datatype=\"boolean\"/>"), PROVISIONING_BAD_VALUE),
    REFUSAL_CASE(IN_KEY(L"<parm name=\"a\" value=\"AQI\" datatype=\"binary\"/>"), PROVISIONING_BAD_VALUE),
    REFUSAL_CASE(IN_KEY(L"<parm name=\"a\" value=\"A===\" datatype=\"binary\"/>"), PROVISIONING_BAD_VALUE),
    REFUSAL_CASE(IN_KEY(L"<parm name=\"a\" value=\"AQ==AQID\" datatype=\"binary\"/>"), PROVISIONING_BAD_VALUE),
    REFUSAL_CASE(IN_KEY(L"<parm name=\"a\" value=\"a&#xF000;&#xF000;b\" datatype=\"multiplestring\"/>"),
                 PROVISIONING_BAD_VALUE),
    REFUSAL_CASE(IN_KEY(L"<parm name=\"a\" value=\"a&#xF000;\" datatype=\"multiplestring\"/>"), PROVISIONING_BAD_VALUE),
    REFUSAL_CASE(L"<wap-provisioningdoc><characteristic type=\"Registry\"><characteristic type=\"{K}\">{P}"
                 L"</characteristic><characteristic type=\"HKXX\\Software\"/></characteristic></wap-provisioningdoc>",
                 PROVISIONING_BAD_KEY_PATH),
    REFUSAL_CASE(L"<wap-provisioningdoc><characteristic type=\"Registry\"><characteristic type=\"{K}\">{P}"
                 L"</characteristic><characteristic type=\"hkcu\\Software\"/></characteristic></wap-provisioningdoc>",
                 PROVISIONING_BAD_KEY_PATH),     // root prefixes are exact, as REGX has them
    REFUSAL_CASE(L"<wap-provisioningdoc><characteristic type=\"Registry\"><characteristic type=\"{K}\">{P}"
                 L"</characteristic><nocharacteristic type=\"HKCU\\\"/></characteristic></wap-provisioningdoc>",
                 PROVISIONING_BAD_KEY_PATH),     // a root key is never deleted
    REFUSAL_CASE(IN_KEY(L"<characteristic type=\"a\\\\b\"/>"), PROVISIONING_BAD_KEY_PATH),
    REFUSAL_CASE(IN_KEY(L"<nocharacteristic type=\"\"/>"), PROVISIONING_BAD_KEY_PATH),
    REFUSAL_CASE(IN_KEY(L"<setting name=\"a\"/>"), PROVISIONING_UNSUPPORTED),
    REFUSAL_CASE(IN_KEY(L"<parm name=\"a\" value=\"1\" translation=\"install\"/>"), PROVISIONING_UNSUPPORTED),
    REFUSAL_CASE(IN_KEY(L"<parm value=\"1\"/>"), PROVISIONING_UNSUPPORTED),
    REFUSAL_CASE(IN_KEY(L"<parm name=\"a\" value=\"1\">text</parm>"), PROVISIONING_UNSUPPORTED),
    REFUSAL_CASE(IN_KEY(L"<parm name=\"a\" value=\"1\"><parm name=\"b\" value=\"2\"/></parm>"), PROVISIONING_UNSUPPORTED),
    REFUSAL_CASE(L"<wap-provisioningdoc><characteristic type=\"Registry\"><characteristic type=\"{K}\">{P}"
                 L"</characteristic><parm name=\"a\" value=\"1\"/></characteristic></wap-provisioningdoc>",
                 PROVISIONING_UNSUPPORTED),      // a value needs a key around it
    REFUSAL_CASE(L"<!DOCTYPE wap-provisioningdoc [<!ENTITY e \"1\">]>" IN_KEY(L"<parm name=\"a\" value=\"&e;\"/>"),
                 PROVISIONING_UNSUPPORTED),
};

TEST_F(ProvisioningTest, UnacceptableDocumentsChangeNothing)
{
    for (const auto& c : REFUSAL_CASES) {
        std::wstring document = c.document;
        document.replace(document.find(L"{P}"), 3, VALID_PARM);
        std::wstring output;
        EXPECT_EQ(Apply(document, &output), c.result) << "case at line " << c.line;
        EXPECT_EQ(Stored(L"applied"), "missing") << "case at line " << c.line;
        wchar_t error[40];
        swprintf(error, 40, L"<error code=\"0x%08lX\"", static_cast<unsigned long>(c.result));
        EXPECT_NE(output.find(error), std::wstring::npos) << "case at line " << c.line << "\n" << test::Utf8(output);
    }
    EXPECT_FALSE(KeyExists(L""));
}

TEST_F(ProvisioningTest, DeletesValuesAndKeysAndWhatIsMissingAlready)
{
    ASSERT_EQ(ApplyItems(L"<parm name=\"gone\" value=\"1\"/><parm name=\"kept\" value=\"2\"/>"
                         L"<characteristic type=\"Sub\\Deeper\"><parm name=\"x\" value=\"3\"/></characteristic>"),
              S_OK);
    EXPECT_EQ(ApplyItems(L"<noparm name=\"gone\"/><noparm name=\"never\"/><nocharacteristic type=\"Sub\"/>"
                         L"<nocharacteristic type=\"Never\"/><characteristic type=\"Absent\"><noparm name=\"x\"/>"
                         L"</characteristic>"),
              S_OK);
    EXPECT_EQ(Stored(L"gone"), "missing");
    EXPECT_EQ(Stored(L"kept"), Typed(REG_SZ, Text(L"2")));
    EXPECT_FALSE(KeyExists(L"Sub"));
    EXPECT_FALSE(KeyExists(L"Absent"));         // deleting from a missing key makes none
}

// Queries answer in place; a failing item gets an error and the others still apply. The
// result is the first failure.
TEST_F(ProvisioningTest, OutputEchoesTheDocumentWithAnswersAndErrors)
{
    std::wstring output;
    EXPECT_EQ(Apply(L"<wap-provisioningdoc><characteristic type=\"Registry\">"
                    L"<characteristic type=\"{K}\"><parm-query name=\"none\"/><noparm name=\"a\"/>"
                    L"<parm name=\"b\" value=\"AQI=\" datatype=\"binary\"/>"
                    L"<parm name=\"m\" value=\"x&#xF000;y\" datatype=\"multiplestring\"/>"
                    L"<parm name=\"n\" value=\"-1\" datatype=\"integer\"/><parm name=\"s\" value=\"a&lt;b\"/>"
                    L"<characteristic type=\"Sub\"/><parm-query name=\"s\"/></characteristic>"
                    L"<characteristic-query type=\"{K}\"/><characteristic-query type=\"{K}\\Missing\"/>"
                    L"</characteristic></wap-provisioningdoc>",
                    &output),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    std::wstring key = L"HKCU\\" + this->key;
    EXPECT_EQ(output, L"<wap-provisioningdoc>\r\n"
                      L"  <characteristic type=\"Registry\">\r\n"
                      L"    <characteristic type=\"" + key + L"\">\r\n"
                      L"      <parm-query name=\"none\">\r\n"
                      L"        <error code=\"0x80070002\"/>\r\n"
                      L"      </parm-query>\r\n"
                      L"      <noparm name=\"a\"/>\r\n"
                      L"      <parm name=\"b\" value=\"AQI=\" datatype=\"binary\"/>\r\n"
                      L"      <parm name=\"m\" value=\"x&#xF000;y\" datatype=\"multiplestring\"/>\r\n"
                      L"      <parm name=\"n\" value=\"-1\" datatype=\"integer\"/>\r\n"
                      L"      <parm name=\"s\" value=\"a&lt;b\"/>\r\n"
                      L"      <characteristic type=\"Sub\"/>\r\n"
                      L"      <parm name=\"s\" value=\"a&lt;b\" datatype=\"string\"/>\r\n"
                      L"    </characteristic>\r\n"
                      L"    <characteristic type=\"" + key + L"\">\r\n"
                      L"      <parm name=\"b\" value=\"AQI=\" datatype=\"binary\"/>\r\n"
                      L"      <parm name=\"m\" value=\"x&#xF000;y\" datatype=\"multiplestring\"/>\r\n"
                      L"      <parm name=\"n\" value=\"-1\" datatype=\"integer\"/>\r\n"
                      L"      <parm name=\"s\" value=\"a&lt;b\" datatype=\"string\"/>\r\n"
                      L"      <characteristic type=\"Sub\"/>\r\n"
                      L"    </characteristic>\r\n"
                      L"    <characteristic-query type=\"" + key + L"\\Missing\">\r\n"
                      L"      <error code=\"0x80070002\"/>\r\n"
                      L"    </characteristic-query>\r\n"
                      L"  </characteristic>\r\n"
                      L"</wap-provisioningdoc>\r\n");
}

TEST_F(ProvisioningTest, QueriesCreateNoKeysAndEmptyCharacteristicsDo)
{
    EXPECT_EQ(ApplyItems(L"<characteristic type=\"Asked\"><parm-query name=\"v\"/></characteristic>"),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(KeyExists(L"Asked"));
    EXPECT_EQ(ApplyItems(L"<characteristic type=\"Made\\Deeper\"></characteristic>"), S_OK);
    EXPECT_TRUE(KeyExists(L"Made\\Deeper"));
}

TEST(Provisioning, OutputIsOptional)
{
    EXPECT_EQ(ProcessProvisioningDocument(L"<wap-provisioningdoc/>", nullptr), S_OK);
    wchar_t* output = nullptr;
    EXPECT_EQ(ProcessProvisioningDocument(L"<wap-provisioningdoc/>", &output), S_OK);
    EXPECT_STREQ(output, L"<wap-provisioningdoc>\r\n</wap-provisioningdoc>\r\n");
    delete[] output;
}

} // namespace
