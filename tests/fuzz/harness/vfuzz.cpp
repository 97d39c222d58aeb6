// vfuzz: the fuzz driver of 'make fuzz' and the worker it starts.
//   vfuzz campaign <script|reg|tar|provxml|dlgx|html> <seed> <count> <corpus folder> [hang ms]
//   vfuzz replay-all <corpus folder> [hang ms]      every saved input again
//   vfuzz run <target> <seed> <first> <count> <progress>   (worker)
//   vfuzz replay <file> <progress>                          (worker)
#include "fuzz/harness/fuzz.h"
#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

constexpr DWORD DEFAULT_HANG_MS = 5000;

std::wstring ProgramPath()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return length && length < MAX_PATH ? path : L"";
}

bool ReadWholeFile(const wchar_t* path, std::string& bytes)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (1 << 28);
    if (ok) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size();
    }
    CloseHandle(file);
    return ok;
}

fuzz::WorkerProgress* OpenProgress(const wchar_t* name)
{
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (!mapping)
        return nullptr;
    // The view stays mapped until the worker ends; the campaign reads it afterwards.
    return static_cast<fuzz::WorkerProgress*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(fuzz::WorkerProgress)));
}

int RunWorker(int argc, wchar_t** argv)
{
    fuzz::InstallCrashExit();
    fuzz::Target target;
    if (!wcscmp(argv[1], L"run") && argc == 7 && fuzz::ParseTarget(argv[2], target)) {
        fuzz::WorkerProgress* progress = OpenProgress(argv[6]);
        if (!progress)
            return ERROR_INVALID_PARAMETER;
        return static_cast<int>(fuzz::RunGenerated(target, _wcstoui64(argv[3], nullptr, 10), _wcstoui64(argv[4], nullptr, 10),
                                                   _wcstoui64(argv[5], nullptr, 10), *progress));
    }
    std::string bytes;
    if (argc == 4 && fuzz::TargetFromFileName(argv[2], target) && ReadWholeFile(argv[2], bytes)) {
        fuzz::WorkerProgress* progress = OpenProgress(argv[3]);
        return progress ? static_cast<int>(fuzz::RunSavedInput(target, bytes, *progress)) : ERROR_INVALID_PARAMETER;
    }
    return ERROR_INVALID_PARAMETER;
}

void PrintFailures(const std::vector<fuzz::Failure>& failures)
{
    for (const auto& failure : failures)
        wprintf(L"  FAILURE input %llu: %ls -> %ls\n", failure.index, failure.kind.c_str(),
                failure.saved.empty() ? L"(not saved)" : failure.saved.c_str());
}

int RunCampaignCommand(wchar_t** argv, DWORD hangMs)
{
    fuzz::Target target;
    if (!fuzz::ParseTarget(argv[2], target))
        return ERROR_INVALID_PARAMETER;
    uint64_t seed = _wcstoui64(argv[3], nullptr, 10);
    uint64_t count = _wcstoui64(argv[4], nullptr, 10);
    DWORD start = GetTickCount();
    fuzz::CampaignResult result = fuzz::RunCampaign(ProgramPath(), target, seed, count, argv[5], hangMs);
    double seconds = (GetTickCount() - start) / 1000.0;
    PrintFailures(result.failures);
    wprintf(L"%ls: %llu inputs (seed %llu) in %.1f s, %zu failures%ls\n", fuzz::TargetName(target), result.inputs, seed,
            seconds, result.failures.size(), result.workerMissing ? L", worker did not run" : L"");
    fflush(stdout);
    return result.failures.empty() && !result.workerMissing && result.inputs == count ? 0 : 1;
}

int ReplayAll(const wchar_t* corpus, DWORD hangMs)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((std::wstring(corpus) + L"\\*").c_str(), &found);
    int replayed = 0;
    std::vector<fuzz::Failure> failures;
    fuzz::Target target;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring path = std::wstring(corpus) + L"\\" + found.cFileName;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !fuzz::TargetFromFileName(path, target))
                continue;
            ++replayed;
            fuzz::Failure failure = fuzz::ReplaySaved(ProgramPath(), path, hangMs);
            if (!failure.kind.empty())
                failures.push_back(failure);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    PrintFailures(failures);
    wprintf(L"corpus: %d saved inputs replayed, %zu failures\n", replayed, failures.size());
    fflush(stdout);
    return failures.empty() ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 2 && (!wcscmp(argv[1], L"run") || !wcscmp(argv[1], L"replay")))
        return RunWorker(argc, argv);
    if (argc >= 6 && !wcscmp(argv[1], L"campaign"))
        return RunCampaignCommand(argv, argc >= 7 ? wcstoul(argv[6], nullptr, 10) : DEFAULT_HANG_MS);
    if (argc >= 3 && !wcscmp(argv[1], L"replay-all"))
        return ReplayAll(argv[2], argc >= 4 ? wcstoul(argv[3], nullptr, 10) : DEFAULT_HANG_MS);
    fwprintf(stderr, L"usage: vfuzz campaign <script|reg|tar|provxml|dlgx> <seed> <count> <corpus folder> [hang ms]\n"
                     L"       vfuzz replay-all <corpus folder> [hang ms]\n");
    return ERROR_INVALID_PARAMETER;
}
