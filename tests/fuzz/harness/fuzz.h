// The fuzz harness: input generators and mutators for the parsers that read untrusted
// text (scripts, .reg files, tar archives, provisioning documents, DLGX item lists, the
// help viewer's HTML pages), the worker that feeds them to the product with its side
// effects fenced in, and the campaign that watches the worker.
#pragma once
#include <windows.h>
#include <strsafe.h>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// 'Probe' is the harness's own check: its inputs crash, hang or write outside on purpose
// at fixed indexes, so a test can prove that every kind of failure is caught.
enum class Target { Script, Registry, Archive, Provisioning, Dialog, Html, Probe };

constexpr DWORD WORKER_FINISHED = 0;
constexpr DWORD WORKER_FENCE_BROKEN = 0x46454E43;     // "FENC": a write outside the fence
constexpr DWORD WORKER_UNDO_MISSED = 0x554E444F;      // "UNDO": undo left the fence other than it was
constexpr DWORD PROBE_CRASH_INDEX = 3;
constexpr DWORD PROBE_HANG_INDEX = 5;
constexpr DWORD PROBE_ESCAPE_INDEX = 7;
constexpr DWORD PROBE_UNDO_MISS_INDEX = 9;           // a change made past the writers, which undo cannot know
// Set in the environment (to anything), the worker also opens every DIALOG_WINDOW_EVERY-th
// DLGX item list as a real dialog, where windows can be made, and answers it itself.
constexpr wchar_t DIALOG_WINDOWS_VARIABLE[] = L"VFUZZ_DIALOG_WINDOWS";
constexpr uint64_t DIALOG_WINDOW_EVERY = 20;

bool ParseTarget(const wchar_t* name, Target& target);
const wchar_t* TargetName(Target target);
const wchar_t* TargetExtension(Target target);        // of saved inputs: ".vrs", ".reg", ".tgz", ".provxml", ".dlgx", ".htm"
bool TargetFromFileName(const std::wstring& path, Target& target);

// generate.cpp: input number 'index' of the campaign 'seed', the same on every run.
std::string GenerateInput(Target target, uint64_t seed, uint64_t index);

// worker.cpp: runs inputs in this process. Returns WORKER_FINISHED, WORKER_FENCE_BROKEN
// after the first input that wrote outside its fence, or WORKER_UNDO_MISSED after the
// first script whose journaled run, undone, left the fenced key or folder other than it was.
struct WorkerProgress {
    volatile LONG64 index;          // the input being run
    volatile LONG64 started;        // inputs started so far
    volatile LONG64 finished;       // inputs finished so far: an input runs while started > finished
    wchar_t breach[MAX_PATH];       // what a broken fence touched, or where an undo fell short
};
DWORD RunGenerated(Target target, uint64_t seed, uint64_t first, uint64_t count, WorkerProgress& progress);
DWORD RunSavedInput(Target target, const std::string& bytes, WorkerProgress& progress);
void InstallCrashExit();

// campaign.cpp: runs inputs in worker processes of 'worker' (vfuzz.exe), each input under
// a watchdog; a crash, a hang or a broken fence saves the input under 'corpus'.
struct Failure {
    uint64_t index;
    std::wstring kind;      // "crash 0xC0000005", "hang", "write outside: <path>"
    std::wstring saved;     // the file the input was saved to
};
struct CampaignResult {
    uint64_t inputs;
    std::vector<Failure> failures;
    bool workerMissing;
};
CampaignResult RunCampaign(const std::wstring& worker, Target target, uint64_t seed, uint64_t count,
                           const std::wstring& corpus, DWORD hangMilliseconds);
// Replays one saved input in a worker under the same watchdog; kind is empty when it ran clean.
Failure ReplaySaved(const std::wstring& worker, const std::wstring& path, DWORD hangMilliseconds);

} // namespace fuzz
