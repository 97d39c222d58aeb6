#include "base/changes.h"

namespace {

const ChangeObserver* currentObserver = nullptr;

} // namespace

const ChangeObserver* SetChangeObserver(const ChangeObserver* observer)
{
    const ChangeObserver* previous = currentObserver;
    currentObserver = observer;
    return previous;
}

const ChangeObserver* CurrentChangeObserver()
{
    return currentObserver;
}

DWORD ReportChangeBefore(const Change& change)
{
    const ChangeObserver* observer = currentObserver;
    return observer && observer->before ? observer->before(observer->context, change) : ERROR_SUCCESS;
}

void ReportChangeAfter(const Change& change, DWORD result)
{
    const ChangeObserver* observer = currentObserver;
    if (observer && observer->after)
        observer->after(observer->context, change, result);
}

DWORD ReportProgress(ULONGLONG bytes)
{
    const ChangeObserver* observer = currentObserver;
    return observer && observer->progress ? observer->progress(observer->context, bytes) : ERROR_SUCCESS;
}

DWORD AnnounceAction(ChangeKind kind, const wchar_t* subject, const wchar_t* detail, DWORD value)
{
    return ReportChangeBefore(Change{kind, nullptr, subject, detail, value, nullptr, 0});
}
