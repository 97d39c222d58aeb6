#include "base/findings.h"

namespace {

const FindingSink* currentSink = nullptr;

} // namespace

const FindingSink* SetFindingSink(const FindingSink* sink)
{
    const FindingSink* previous = currentSink;
    currentSink = sink;
    return previous;
}

bool FindingsWanted()
{
    return currentSink != nullptr;
}

void ReportFinding(FindingCode code, const wchar_t* at)
{
    const FindingSink* sink = currentSink;
    if (sink && sink->report)
        sink->report(sink->context, code, at);
}
