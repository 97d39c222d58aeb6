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

DWORD WaitReportingProgress(HANDLE handle, DWORD milliseconds)
{
    if (!CurrentChangeObserver()) {
        if (!handle) {
            Sleep(milliseconds);
            return ERROR_SUCCESS;
        }
        return WaitForSingleObject(handle, milliseconds) == WAIT_FAILED ? LastErrorOr(ERROR_INVALID_HANDLE)
                                                                         : ERROR_SUCCESS;
    }
    ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        if (milliseconds != INFINITE && now >= deadline)
            return ERROR_SUCCESS;
        DWORD slice = WAIT_SLICE_MS;
        if (milliseconds != INFINITE && deadline - now < slice)
            slice = static_cast<DWORD>(deadline - now);
        if (!handle)
            Sleep(slice);
        else if (DWORD waited = WaitForSingleObject(handle, slice); waited != WAIT_TIMEOUT)
            return waited == WAIT_FAILED ? LastErrorOr(ERROR_INVALID_HANDLE) : ERROR_SUCCESS;
        if (DWORD answer = ReportProgress(0); answer != ERROR_SUCCESS)
            return answer;
    }
}
