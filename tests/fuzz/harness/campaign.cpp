// Runs inputs in worker processes and watches them: a worker that stops advancing for
// longer than the hang limit is ended; a worker that dies or reports a broken fence
// names the input it was on. That input is saved, and a new worker goes on after it.
#include "fuzz/harness/fuzz.h"
#include <cstdio>
#include <cwchar>

namespace fuzz {
namespace {

constexpr DWORD WATCH_STEP_MS = 50;
constexpr DWORD WORKER_START_LIMIT_MS = 60000;     // a cold Wine start can take this long
constexpr int START_ATTEMPTS = 3;

struct TargetRow {
    Target target;
    const wchar_t* name;
    const wchar_t* extension;
};

constexpr TargetRow TARGET_TABLE[] = {
    {Target::Script, L"script", L".vrs"},
    {Target::Registry, L"reg", L".reg"},
    {Target::Archive, L"tar", L".tgz"},
    {Target::Provisioning, L"provxml", L".provxml"},
    {Target::Dialog, L"dlgx", L".dlgx"},
    {Target::Probe, L"probe", L".probe"},
    {Target::Html, L"html", L".htm"},
};

struct SharedProgress {
    HANDLE mapping;
    WorkerProgress* view;
    wchar_t name[64];
};

bool OpenSharedProgress(SharedProgress& shared)
{
    static LONG serial = 0;
    StringCchPrintfW(shared.name, ARRAYSIZE(shared.name), L"Local\\vfuzz-%lu-%ld", GetCurrentProcessId(),
                     InterlockedIncrement(&serial));
    shared.mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(WorkerProgress), shared.name);
    if (!shared.mapping)
        return false;
    shared.view = static_cast<WorkerProgress*>(MapViewOfFile(shared.mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(WorkerProgress)));
    if (!shared.view) {
        CloseHandle(shared.mapping);
        return false;
    }
    ZeroMemory(shared.view, sizeof(WorkerProgress));
    return true;
}

void CloseSharedProgress(SharedProgress& shared)
{
    UnmapViewOfFile(shared.view);
    CloseHandle(shared.mapping);
}

// Removes what a worker that did not finish left behind: its registry fence and sandbox.
void CleanUpAfterWorker(DWORD processId)
{
    wchar_t path[MAX_PATH];
    StringCchPrintfW(path, MAX_PATH, L"Software\\VarnoltFuzz\\%lu", processId);
    RegDeleteTreeW(HKEY_CURRENT_USER, path);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\VarnoltFuzz");
    wchar_t temp[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH)
        return;
    StringCchPrintfW(path, MAX_PATH, L"%svfuzz-%lu", temp, processId);
    std::vector<std::wstring> pending{path};
    std::vector<std::wstring> folders;
    while (!pending.empty()) {
        std::wstring folder = pending.back();
        pending.pop_back();
        folders.push_back(folder);
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do {
            std::wstring child = folder + L"\\" + found.cFileName;
            if (!wcscmp(found.cFileName, L".") || !wcscmp(found.cFileName, L".."))
                continue;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                pending.push_back(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        RemoveDirectoryW(it->c_str());
}

struct WorkerOutcome {
    DWORD exitCode;
    bool hung;
    uint64_t index;         // the input the worker was on when it stopped
    uint64_t started;
    std::wstring breach;
};

// Starts the worker. The platform fails a start with ERROR_INTERNAL_ERROR when the new
// process went away before its start-up finished, which says nothing about the inputs:
// such a start is tried again.
bool StartWorkerProcess(const std::wstring& worker, std::wstring& commandLine, PROCESS_INFORMATION& process)
{
    for (int attempt = 0; attempt < START_ATTEMPTS; ++attempt) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (CreateProcessW(worker.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &process))
            return true;
        if (GetLastError() != ERROR_INTERNAL_ERROR)
            return false;
    }
    return false;
}

WorkerOutcome WatchWorker(const std::wstring& worker, const std::wstring& arguments, SharedProgress& shared,
                          DWORD hangMilliseconds)
{
    WorkerOutcome outcome{ERROR_FILE_NOT_FOUND, false, 0, 0, L""};
    std::wstring commandLine = L"\"" + worker + L"\" " + arguments + L" " + shared.name;
    PROCESS_INFORMATION process{};
    if (!StartWorkerProcess(worker, commandLine, process))
        return outcome;
    LONG64 lastStarted = -1, lastFinished = -1;
    DWORD quietSince = GetTickCount();
    while (WaitForSingleObject(process.hProcess, WATCH_STEP_MS) == WAIT_TIMEOUT) {
        LONG64 started = shared.view->started, finished = shared.view->finished;
        // Only an input can hang: starting up, and cleaning up and ending after the last
        // input, get the start-up limit, however slowly a loaded machine runs them.
        DWORD limit = started > finished ? hangMilliseconds : WORKER_START_LIMIT_MS;
        if (started != lastStarted || finished != lastFinished) {
            lastStarted = started;
            lastFinished = finished;
            quietSince = GetTickCount();
        } else if (GetTickCount() - quietSince > limit) {
            TerminateProcess(process.hProcess, WAIT_TIMEOUT);
            WaitForSingleObject(process.hProcess, INFINITE);
            outcome.hung = true;
            break;
        }
    }
    GetExitCodeProcess(process.hProcess, &outcome.exitCode);
    outcome.hung = outcome.hung && outcome.exitCode == WAIT_TIMEOUT;   // not when it ended on its own first
    outcome.index = static_cast<uint64_t>(shared.view->index);
    outcome.started = static_cast<uint64_t>(shared.view->started);
    outcome.breach = shared.view->breach;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CleanUpAfterWorker(process.dwProcessId);
    return outcome;
}

std::wstring DescribeFailure(const WorkerOutcome& outcome)
{
    if (outcome.hung)
        return L"hang";
    if (outcome.exitCode == WORKER_FENCE_BROKEN)
        return L"write outside: " + outcome.breach;
    if (outcome.exitCode == WORKER_UNDO_MISSED)
        return L"undo fell short: " + outcome.breach;
    wchar_t text[48];
    StringCchPrintfW(text, ARRAYSIZE(text), L"crash 0x%08lX", outcome.exitCode);
    return text;
}

bool SaveInput(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

} // namespace

bool ParseTarget(const wchar_t* name, Target& target)
{
    for (const auto& row : TARGET_TABLE)
        if (!_wcsicmp(name, row.name)) {
            target = row.target;
            return true;
        }
    return false;
}

const wchar_t* TargetName(Target target)
{
    for (const auto& row : TARGET_TABLE)
        if (row.target == target)
            return row.name;
    return L"";
}

const wchar_t* TargetExtension(Target target)
{
    for (const auto& row : TARGET_TABLE)
        if (row.target == target)
            return row.extension;
    return L"";
}

bool TargetFromFileName(const std::wstring& path, Target& target)
{
    for (const auto& row : TARGET_TABLE) {
        size_t length = wcslen(row.extension);
        if (path.size() > length && !_wcsicmp(path.c_str() + path.size() - length, row.extension)) {
            target = row.target;
            return true;
        }
    }
    return false;
}

CampaignResult RunCampaign(const std::wstring& worker, Target target, uint64_t seed, uint64_t count,
                           const std::wstring& corpus, DWORD hangMilliseconds)
{
    CampaignResult result{0, {}, false};
    uint64_t next = 0;
    while (next < count) {
        SharedProgress shared;
        if (!OpenSharedProgress(shared)) {
            result.workerMissing = true;
            return result;
        }
        wchar_t arguments[160];
        StringCchPrintfW(arguments, ARRAYSIZE(arguments), L"run %s %llu %llu %llu", TargetName(target), seed, next, count - next);
        WorkerOutcome outcome = WatchWorker(worker, arguments, shared, hangMilliseconds);
        CloseSharedProgress(shared);
        if (outcome.started == 0 && !outcome.hung) {
            result.workerMissing = outcome.exitCode != WORKER_FINISHED || next < count;
            return result;
        }
        result.inputs += outcome.started;
        if (!outcome.hung && outcome.exitCode == WORKER_FINISHED && outcome.index + 1 >= count) {
            next = count;
            continue;
        }
        wchar_t name[96];
        StringCchPrintfW(name, ARRAYSIZE(name), L"%s-%llu-%llu%s", TargetName(target), seed, outcome.index, TargetExtension(target));
        Failure failure{outcome.index, DescribeFailure(outcome), corpus + L"\\" + name};
        if (!SaveInput(failure.saved, GenerateInput(target, seed, outcome.index)))
            failure.saved.clear();
        result.failures.push_back(failure);
        next = outcome.index + 1;
    }
    return result;
}

Failure ReplaySaved(const std::wstring& worker, const std::wstring& path, DWORD hangMilliseconds)
{
    Failure failure{0, L"", path};
    SharedProgress shared;
    if (!OpenSharedProgress(shared)) {
        failure.kind = L"no worker";
        return failure;
    }
    WorkerOutcome outcome = WatchWorker(worker, L"replay \"" + path + L"\"", shared, hangMilliseconds);
    CloseSharedProgress(shared);
    if (outcome.hung || outcome.exitCode != WORKER_FINISHED)
        failure.kind = outcome.started ? DescribeFailure(outcome) : L"worker did not start";
    return failure;
}

} // namespace fuzz
