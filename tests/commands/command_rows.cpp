#include "commands/commands.h"
#include "support/command_runner.h"

namespace test {

const CommandRow FAMILY_COMMANDS[] = {
    {L"FILE", FileOperation}, {L"LINK", CreateShortcut}, {L"EXEC", ExecuteProgram}, {L"KILL", KillProcesses},
    {L"SHUT", ShutDownDevice}, {L"SEND", SendKeys},      {L"POST", PostWindowMessage}, {L"DISP", SetDisplayOrientation},
    {L"MSGX", ShowMessageBox}, {L"PLAY", PlaySoundFile},
};
const size_t FAMILY_COMMAND_COUNT = ARRAYSIZE(FAMILY_COMMANDS);

} // namespace test
