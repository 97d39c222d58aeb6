#include "app/app.h"
#include "platform/device_calls.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int)
{
    InitializeProgram(instance);
    InstallDeviceCalls();
    InstallScriptLanguage(&VARNOLT_LANGUAGE);
    InstallConfigurationProcessor(VARNOLT_CONFIGURATION_PROCESSOR);
    SetLogSink(TraceSinkFromEnvironment());
    SetDocumentSink(TraceDocumentSinkFromEnvironment());      // documents reach the trace, never the console log
    SetFailureSink(TraceFailureSinkFromEnvironment());        // where each failing line came from
    if (IsCheckCommandLine(commandLine))
        return static_cast<int>(CheckCommandLine(commandLine));
    return static_cast<int>(RunCommandLine(commandLine));
}
