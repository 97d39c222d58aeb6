// The bounded fuzz run of 'make test': a fixed-seed sample per parser through the same
// worker and watchdog as 'make fuzz', the saved regression inputs, and proof that the
// watchdog and the write fence catch what they are there to catch.
#include "fuzz/harness/fuzz.h"
#include "support/test_support.h"
#include <gtest/gtest.h>

namespace {

constexpr uint64_t SAMPLE_SEED = 20240607;
constexpr DWORD HANG_MS = 5000;

std::wstring Worker() { return test::ProgramFolder() + L"\\vfuzz.exe"; }

std::string Describe(const std::vector<fuzz::Failure>& failures)
{
    std::string text;
    for (const auto& failure : failures)
        text += "input " + std::to_string(failure.index) + ": " + test::Utf8(failure.kind) + "\n";
    return text;
}

TEST(FuzzHarness, CatchesCrashHangWriteOutsideAndUndoMiss)
{
    test::TempFolder corpus;
    fuzz::CampaignResult result = fuzz::RunCampaign(Worker(), fuzz::Target::Probe, 1, 10, corpus.path(), 2000);
    ASSERT_FALSE(result.workerMissing);
    EXPECT_EQ(result.inputs, 10u);
    ASSERT_EQ(result.failures.size(), 4u) << Describe(result.failures);
    EXPECT_EQ(result.failures[0].index, fuzz::PROBE_CRASH_INDEX);
    EXPECT_EQ(result.failures[0].kind, L"crash 0xC0000005");
    EXPECT_EQ(result.failures[1].index, fuzz::PROBE_HANG_INDEX);
    EXPECT_EQ(result.failures[1].kind, L"hang");
    EXPECT_EQ(result.failures[2].index, fuzz::PROBE_ESCAPE_INDEX);
    EXPECT_EQ(result.failures[2].kind.rfind(L"write outside: file change", 0), 0u) << test::Utf8(result.failures[2].kind);
    EXPECT_EQ(result.failures[3].index, fuzz::PROBE_UNDO_MISS_INDEX);     // a change the journal never saw
    EXPECT_NE(result.failures[3].kind.find(L"undo fell short: 00000000 before: root"), std::wstring::npos)
        << test::Utf8(result.failures[3].kind);
    for (const auto& failure : result.failures)
        EXPECT_TRUE(test::Exists(failure.saved)) << test::Utf8(failure.saved);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    EXPECT_FALSE(test::Exists(std::wstring(temp) + L"vfuzz-escape.txt"));      // refused, not only seen
}

TEST(FuzzHarness, ReplayReportsASavedFailure)
{
    test::TempFolder corpus;
    test::WriteBytes(corpus / L"crash.probe", "probe 3");
    test::WriteBytes(corpus / L"clean.probe", "probe 4");
    EXPECT_EQ(fuzz::ReplaySaved(Worker(), corpus / L"crash.probe", HANG_MS).kind, L"crash 0xC0000005");
    EXPECT_EQ(fuzz::ReplaySaved(Worker(), corpus / L"clean.probe", HANG_MS).kind, L"");
}

TEST(FuzzHarness, InputsAreReproducibleFromSeedAndIndex)
{
    for (fuzz::Target target : {fuzz::Target::Script, fuzz::Target::Registry, fuzz::Target::Archive,
                                fuzz::Target::Provisioning, fuzz::Target::Dialog, fuzz::Target::Html}) {
        EXPECT_EQ(fuzz::GenerateInput(target, 7, 42), fuzz::GenerateInput(target, 7, 42));
        EXPECT_NE(fuzz::GenerateInput(target, 7, 42), fuzz::GenerateInput(target, 8, 42));
    }
}

struct SampleCase {
    fuzz::Target target;
    uint64_t count;
    int line;
};

const SampleCase SAMPLE_CASES[] = {
    {fuzz::Target::Script, 3000, __LINE__},
    {fuzz::Target::Registry, 2000, __LINE__},
    {fuzz::Target::Archive, 1000, __LINE__},
    {fuzz::Target::Provisioning, 2000, __LINE__},
    {fuzz::Target::Dialog, 2000, __LINE__},
    {fuzz::Target::Html, 2000, __LINE__},
};

TEST(FuzzSample, FixedSeedSampleRunsClean)
{
    SetEnvironmentVariableW(fuzz::DIALOG_WINDOWS_VARIABLE, L"1");     // some item lists open as dialogs too
    for (const auto& row : SAMPLE_CASES) {
        SCOPED_TRACE(row.line);
        test::TempFolder corpus;
        fuzz::CampaignResult result = fuzz::RunCampaign(Worker(), row.target, SAMPLE_SEED, row.count, corpus.path(), HANG_MS);
        EXPECT_FALSE(result.workerMissing);
        EXPECT_EQ(result.inputs, row.count);
        EXPECT_TRUE(result.failures.empty()) << Describe(result.failures);
    }
}

TEST(FuzzCorpus, SavedInputsReplayClean)
{
    int counts[7] = {};
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(FUZZ_CORPUS_FOLDER L"\\*", &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << "no corpus folder";
    do {
        std::wstring path = std::wstring(FUZZ_CORPUS_FOLDER) + L"\\" + found.cFileName;
        fuzz::Target target;
        if (!fuzz::TargetFromFileName(path, target))
            continue;
        ++counts[static_cast<int>(target)];
        fuzz::Failure failure = fuzz::ReplaySaved(Worker(), path, HANG_MS);
        EXPECT_EQ(failure.kind, L"") << test::Utf8(path);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    EXPECT_GT(counts[static_cast<int>(fuzz::Target::Script)], 0);
    EXPECT_GT(counts[static_cast<int>(fuzz::Target::Registry)], 0);
    EXPECT_GT(counts[static_cast<int>(fuzz::Target::Archive)], 0);
    EXPECT_GT(counts[static_cast<int>(fuzz::Target::Dialog)], 0);
    EXPECT_GT(counts[static_cast<int>(fuzz::Target::Html)], 0);
}

} // namespace
