#include "registry/registry.h"
#include "support/command_runner.h"

namespace test {
namespace {

DWORD CallLibrary(wchar_t* args)
{
    wchar_t* rest = CutAtSeparator(args);
    return CallDllExport(args, rest);
}

} // namespace

const CommandRow FAMILY_COMMANDS[] = {
    {L"REGX", RegistryCommand},
    {L"ASOC", AssociateFileType},
    {L"CDLL", CallLibrary},
};
const size_t FAMILY_COMMAND_COUNT = ARRAYSIZE(FAMILY_COMMANDS);

} // namespace test
