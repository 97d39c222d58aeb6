#include "app/app.h"
#include "platform/device_calls.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int)
{
    InitializeProgram(instance);
    InstallDeviceCalls();
    InstallScriptLanguage(&VARNOLT_LANGUAGE);
    InstallConfigurationProcessor(VARNOLT_CONFIGURATION_PROCESSOR);
    LogSink trace = TraceSinkFromEnvironment();
    SetLogSink(trace);
    SetDocumentSink(TraceDocumentSinkFromEnvironment());      // documents reach the trace, never the console log
    SetFailureSink(TraceFailureSinkFromEnvironment());        // where each failing line came from
    TellUnfinishedRuns(trace);
    return static_cast<int>(RunProgramCommandLine(commandLine));
}
