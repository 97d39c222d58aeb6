#include "engine/engine.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int)
{
    InitializeProgram(instance);
    return static_cast<int>(RunCommandLine(commandLine));
}
