#include "archive/archive.h"
#include "support/command_runner.h"

namespace test {
namespace {

template <DWORD (*Extract)(const wchar_t* archive, const wchar_t* destination)>
DWORD ArchiveAndDestination(const wchar_t* args)
{
    ArgumentPieces parts = CutArgument(args, 2);
    wchar_t archive[LINE_BUFFER_CHARS];
    (void)CopyPiece(archive, parts.pieces[0]);
    return Extract(archive, parts.pieces[1].start);
}

} // namespace

const CommandRow FAMILY_COMMANDS[] = {
    {L"TGZX", ArchiveAndDestination<ExtractTarGz>},
    {L"RARX", ArchiveAndDestination<ExtractRar>},
};
const size_t FAMILY_COMMAND_COUNT = ARRAYSIZE(FAMILY_COMMANDS);

} // namespace test
