#include "archive/archive.h"
#include "support/command_runner.h"

namespace test {
namespace {

template <DWORD (*Extract)(wchar_t* archive, wchar_t* destination)>
DWORD ArchiveAndDestination(wchar_t* args)
{
    wchar_t* destination = CutAtSeparator(args);
    return Extract(args, destination);
}

} // namespace

const CommandRow FAMILY_COMMANDS[] = {
    {L"TGZX", ArchiveAndDestination<ExtractTarGz>},
    {L"RARX", ArchiveAndDestination<ExtractRar>},
};
const size_t FAMILY_COMMAND_COUNT = ARRAYSIZE(FAMILY_COMMANDS);

} // namespace test
