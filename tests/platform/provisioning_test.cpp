// The configuration manager's door: the device's entry point in front of the processor
// the program installs.
#include "platform/platform.h"
#include <gtest/gtest.h>

namespace {

const wchar_t* handedOver = nullptr;

HRESULT RecordDocument(const wchar_t* xml, wchar_t** output)
{
    handedOver = xml;
    if (output)
        *output = new wchar_t[1]{};
    return S_FALSE;
}

TEST(ConfigurationManager, OnlyProcessingReachesTheInstalledProcessor)
{
    const wchar_t document[] = L"<wap-provisioningdoc/>";
    wchar_t* output = reinterpret_cast<wchar_t*>(1);
    ConfigurationProcessor previous = InstallConfigurationProcessor(nullptr);
    EXPECT_EQ(DMProcessConfigXML(document, CFGFLAG_PROCESS, &output), E_NOTIMPL);    // nothing installed
    EXPECT_EQ(output, nullptr);
    InstallConfigurationProcessor(RecordDocument);
    output = reinterpret_cast<wchar_t*>(1);
    EXPECT_EQ(DMProcessConfigXML(document, 2, &output), E_NOTIMPL);
    EXPECT_EQ(output, nullptr);
    EXPECT_EQ(DMProcessConfigXML(nullptr, CFGFLAG_PROCESS, &output), E_INVALIDARG);
    EXPECT_EQ(handedOver, nullptr);
    EXPECT_EQ(DMProcessConfigXML(document, CFGFLAG_PROCESS, &output), S_FALSE);
    EXPECT_EQ(handedOver, document);
    ASSERT_NE(output, nullptr);
    delete[] output;
    EXPECT_EQ(DMProcessConfigXML(document, CFGFLAG_PROCESS, nullptr), S_FALSE);
    EXPECT_EQ(InstallConfigurationProcessor(previous), RecordDocument);
}

} // namespace
