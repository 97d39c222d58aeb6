#include "registry/registry.h"
#include "support/command_runner.h"

namespace test {
namespace {

DWORD CallLibrary(const wchar_t* args)
{
    ArgumentPieces parts = CutArgument(args, 2);
    wchar_t library[LINE_BUFFER_CHARS];
    (void)CopyPiece(library, parts.pieces[0]);
    return CallDllExport(library, parts.pieces[1].start);
}

} // namespace

const CommandRow FAMILY_COMMANDS[] = {
    {L"REGX", RegistryCommand},
    {L"ASOC", AssociateFileType},
    {L"CDLL", CallLibrary},
};
const size_t FAMILY_COMMAND_COUNT = ARRAYSIZE(FAMILY_COMMANDS);

} // namespace test
