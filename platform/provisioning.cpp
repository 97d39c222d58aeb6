// The configuration manager's door: the device's entry point, which hands each document to
// the processor the program installed.
#include "platform/platform.h"

namespace {

ConfigurationProcessor installedProcessor = nullptr;

} // namespace

ConfigurationProcessor InstallConfigurationProcessor(ConfigurationProcessor processor)
{
    ConfigurationProcessor previous = installedProcessor;
    installedProcessor = processor;
    return previous;
}

HRESULT DMProcessConfigXML(const wchar_t* xml, DWORD flags, wchar_t** output)
{
    if (output)
        *output = nullptr;
    if (!xml)
        return E_INVALIDARG;
    if (flags != CFGFLAG_PROCESS || !installedProcessor)
        return E_NOTIMPL;
    return installedProcessor(xml, output);
}
