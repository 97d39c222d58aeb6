// The journal in one process: changes made through the writers inside a journaled run,
// then undone; the key and folder must be what they were, compared whole.
#include "journal/journal.h"
#include "base/changes.h"
#include "base/file_writer.h"
#include "base/writers.h"
#include "support/snapshot.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <functional>

namespace {

// A folder and a registry key with something in them, and LOCALAPPDATA pointing at a
// folder of the test's own while the object lives.
struct Fixture {
    test::TempFolder folder;
    test::TempFolder local;
    std::wstring key = L"Software\\VarnoltJournalTest-" + std::to_wstring(GetCurrentProcessId());

    Fixture()
    {
        SetEnvironmentVariableW(L"LOCALAPPDATA", local.path().c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
        SetValue(key, L"text", REG_SZ, L"old", 8);
        DWORD seven = 7;
        SetValue(key, L"number", REG_DWORD, &seven, 4);
        SetValue(key + L"\\sub", L"inner", REG_SZ, L"in", 6);
        SetValue(key + L"\\sub\\deeper", L"", REG_BINARY, "\x01\x02", 2);
        test::WriteBytes(folder / L"old.txt", "old content");
        test::WriteBytes(folder / L"hidden.txt", "hidden");
        SetFileAttributesW((folder / L"hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
        test::WriteBytes(folder / L"locked.txt", "read-only");
        SetFileAttributesW((folder / L"locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        CreateDirectoryW((folder / L"sub").c_str(), nullptr);
        CreateDirectoryW((folder / L"sub\\deeper").c_str(), nullptr);
        test::WriteBytes(folder / L"sub\\inner.txt", "inner");
        test::WriteBytes(folder / L"sub\\deeper\\x.txt", "x");
        SetFileAttributesW((folder / L"sub\\deeper\\x.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    }
    ~Fixture()
    {
        SetFileAttributesW((folder / L"locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
        SetFileAttributesW((folder / L"sub\\deeper\\x.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
        RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
        SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
    }
    void SetValue(const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size) const
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name, type, data, size);
    }
    test::Snapshot Snapshot() const
    {
        test::Snapshot lines = test::SnapshotKey(HKEY_CURRENT_USER, key);
        test::Snapshot files = test::SnapshotFolder(folder.path());
        lines.insert(lines.end(), files.begin(), files.end());
        return lines;
    }
    std::wstring Path(const wchar_t* name) const { return folder / name; }
    std::wstring Key(const wchar_t* below) const { return key + below; }
};

DWORD SetText(const std::wstring& key, const wchar_t* name, const wchar_t* text)
{
    return SetRegistryValue({HKEY_CURRENT_USER, key.c_str(), nullptr}, name, REG_SZ, text,
                            static_cast<DWORD>((wcslen(text) + 1) * 2));
}

DWORD Names(const std::wstring& name)
{
    std::wstring list = name + L'\0';
    return DeleteNamedFiles(list.c_str());
}

DWORD Link(const std::wstring& target, const std::wstring& link)
{
    FileIdentity identity;
    return IdentityOfPath(target.c_str(), identity) ? LinkToFile(target.c_str(), identity, link.c_str(), nullptr)
                                                     : ERROR_FILE_NOT_FOUND;
}

using Act = std::function<void(const Fixture&)>;

struct UndoCase {
    const char* what;
    Act act;
    int line;
};
#define UNDO_CASE(w, a) {w, a, __LINE__}

const UndoCase UNDO_CASES[] = {
    UNDO_CASE("a value replaced", [](const Fixture& f) { EXPECT_EQ(SetText(f.key, L"text", L"new"), 0u); }),
    UNDO_CASE("values set twice, one new", [](const Fixture& f) {
        EXPECT_EQ(SetText(f.key, L"text", L"1"), 0u);
        EXPECT_EQ(SetText(f.key, L"text", L"2"), 0u);
        EXPECT_EQ(SetText(f.key, L"fresh", L"3"), 0u);
    }),
    UNDO_CASE("keys made, a value in them set twice", [](const Fixture& f) {
        EXPECT_EQ(SetText(f.Key(L"\\a\\b\\c"), L"v", L"1"), 0u);
        EXPECT_EQ(SetText(f.Key(L"\\a\\b\\c"), L"v", L"2"), 0u);
        EXPECT_EQ(SetText(f.Key(L"\\a"), L"w", L"3"), 0u);
    }),
    UNDO_CASE("a value deleted", [](const Fixture& f) {
        EXPECT_EQ(DeleteRegistryValue({HKEY_CURRENT_USER, f.key.c_str(), nullptr}, L"number"), 0u);
    }),
    UNDO_CASE("a tree deleted, then made again", [](const Fixture& f) {
        EXPECT_EQ(DeleteRegistryTree(HKEY_CURRENT_USER, f.Key(L"\\sub").c_str()), 0u);
        EXPECT_EQ(SetText(f.Key(L"\\sub\\deeper"), L"again", L"x"), 0u);
    }),
    UNDO_CASE("a file replaced whole", [](const Fixture& f) {
        EXPECT_EQ(WriteWholeFile(f.Path(L"old.txt").c_str(), "new", 3, {}), 0u);
        EXPECT_EQ(WriteWholeFile(f.Path(L"hidden.txt").c_str(), "new", 3, {.keepsAttributes = true}), 0u);
        EXPECT_EQ(WriteWholeFile(f.Path(L"locked.txt").c_str(), "new", 3, {.replacesReadOnly = true}), 0u);
    }),
    UNDO_CASE("files made in folders made", [](const Fixture& f) {
        EXPECT_EQ(WriteWholeFile(f.Path(L"made\\deep\\new.txt").c_str(), "new", 3, {}), 0u);
        wchar_t folder[MAX_PATH_CHARS];
        ASSERT_EQ(CopyText(folder, f.Path(L"made\\empty").c_str()), 0u);
        EXPECT_EQ(CreateFolderAndParents(folder), 0u);
    }),
    UNDO_CASE("text written in place and appended", [](const Fixture& f) {
        EXPECT_EQ(WriteFileBytes(f.Path(L"old.txt").c_str(), "in place", 8, false), 8u);
        EXPECT_EQ(WriteFileBytes(f.Path(L"old.txt").c_str(), "+more", 5, true), 5u);
        EXPECT_EQ(WriteFileBytes(f.Path(L"sub\\inner.txt").c_str(), "+more", 5, true), 5u);
        EXPECT_EQ(WriteFileBytes(f.Path(L"appended.txt").c_str(), "new", 3, true), 3u);
    }),
    UNDO_CASE("a tree deleted, read-only file and all", [](const Fixture& f) { EXPECT_EQ(Names(f.Path(L"sub")), 0u); }),
    UNDO_CASE("attributes set", [](const Fixture& f) {
        EXPECT_EQ(SetAttributesOf(f.Path(L"old.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY), 0u);
        EXPECT_EQ(SetAttributesOf(f.Path(L"locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL), 0u);
    }),
    UNDO_CASE("links made, one over a file", [](const Fixture& f) {
        EXPECT_EQ(Link(f.Path(L"old.txt"), f.Path(L"link.txt")), 0u);
        EXPECT_EQ(Link(f.Path(L"old.txt"), f.Path(L"hidden.txt")), 0u);
    }),
    UNDO_CASE("the run's own file replaced and deleted", [](const Fixture& f) {
        EXPECT_EQ(WriteWholeFile(f.Path(L"own.txt").c_str(), "1", 1, {}), 0u);
        EXPECT_EQ(WriteWholeFile(f.Path(L"own.txt").c_str(), "22", 2, {}), 0u);
        EXPECT_EQ(WriteWholeFile(f.Path(L"own2.txt").c_str(), "1", 1, {}), 0u);
        EXPECT_EQ(Names(f.Path(L"own.txt")), 0u);
    }),
};

std::wstring NewestRun()
{
    wchar_t folder[MAX_PATH_CHARS];
    return FindRun(L"", folder) == ERROR_SUCCESS ? folder : L"";
}

DWORD UndoNewest(bool force = false)
{
    RunDocument document{};
    DWORD result = UndoRun(NewestRun().c_str(), force, true, document);
    ReleaseRunDocument(document);
    return result;
}

// Every kind of change is undone exactly: afterwards the key and the folder are what they
// were, and so they are after the undo is undone and that undo undone again.
TEST(Journal, UndoPutsBackEveryKindOfChange)
{
    for (const auto& c : UNDO_CASES) {
        SCOPED_TRACE(testing::Message() << c.what << " (line " << c.line << ")");
        Fixture fixture;
        test::Snapshot before = fixture.Snapshot();
        BeginJournaledRun(L"test");
        c.act(fixture);
        EndJournaledRun();
        test::Snapshot changed = fixture.Snapshot();
        ASSERT_NE(changed, before);
        EXPECT_EQ(UndoNewest(), 0u);
        EXPECT_EQ(test::Utf8(test::FirstDifference(before, fixture.Snapshot())), "");
        EXPECT_EQ(UndoNewest(), 0u);                    // the undo's own journal: the changes again
        EXPECT_EQ(test::Utf8(test::FirstDifference(changed, fixture.Snapshot())), "");
        EXPECT_EQ(UndoNewest(), 0u);
        EXPECT_EQ(test::Utf8(test::FirstDifference(before, fixture.Snapshot())), "");
    }
}

// What the writer refuses is left where it is: the journal never moves the old file away
// for a change that does not happen.
TEST(Journal, RefusedChangesLeaveTheOldFileInPlace)
{
    Fixture fixture;
    test::Snapshot before = fixture.Snapshot();
    BeginJournaledRun(L"test");
    EXPECT_EQ(WriteWholeFile(fixture.Path(L"locked.txt").c_str(), "new", 3, {}), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(WriteWholeFile(fixture.Path(L"sub").c_str(), "new", 3, {}), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Names(fixture.Path(L"locked.txt")), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // A write stopped half-way leaves the old file as it was.
    FileOutput output;
    ASSERT_EQ(OpenFileOutput(output, fixture.Path(L"old.txt").c_str(), {}), 0u);
    EXPECT_EQ(WriteFileOutput(output, "partial", 7), 0u);
    EXPECT_EQ(FinishFileOutput(output, ERROR_CANCELLED), static_cast<DWORD>(ERROR_CANCELLED));
    EndJournaledRun();
    EXPECT_EQ(test::Utf8(test::FirstDifference(before, fixture.Snapshot())), "");
}

// A value or file changed after the run is kept and reported; forced, it is put back too.
TEST(Journal, ChangesMadeAfterTheRunAreConflicts)
{
    Fixture fixture;
    test::Snapshot before = fixture.Snapshot();
    BeginJournaledRun(L"test");
    EXPECT_EQ(SetText(fixture.key, L"text", L"run"), 0u);
    EXPECT_EQ(SetText(fixture.key, L"other", L"run"), 0u);
    EXPECT_EQ(WriteWholeFile(fixture.Path(L"old.txt").c_str(), "run", 3, {}), 0u);
    EndJournaledRun();
    std::wstring run = NewestRun();
    RegSetKeyValueW(HKEY_CURRENT_USER, fixture.key.c_str(), L"text", REG_SZ, L"user", 10);
    test::WriteBytes(fixture.Path(L"old.txt"), "user's");
    RunDocument document{};
    EXPECT_EQ(UndoRun(run.c_str(), false, true, document), RESULT_UNDO_CONFLICT);
    std::wstring told(document.text.items);
    ReleaseRunDocument(document);
    EXPECT_NE(told.find(L"changed after the run, left as it is: set \"text\""), std::wstring::npos) << test::Utf8(told);
    EXPECT_EQ(test::ReadBytes(fixture.Path(L"old.txt")), "user's");
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, fixture.key.c_str(), L"other", RRF_RT_ANY, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);                                       // what had no conflict went back
    EXPECT_EQ(UndoRun(run.c_str(), true, true, document), 0u);
    ReleaseRunDocument(document);
    EXPECT_EQ(test::Utf8(test::FirstDifference(before, fixture.Snapshot())), "");
}

DWORD RefuseEverything(void*, const Change&)
{
    return ERROR_CANCELLED;
}

// Observers chain: one installed above the journal decides first, and what it refuses never
// reaches the journal; a run in a run records alone; a run that changed nothing leaves nothing.
TEST(Journal, ObserversChainAndRunsNest)
{
    Fixture fixture;
    BeginJournaledRun(L"outer");
    ChangeObserver refuser{RefuseEverything, nullptr, nullptr, nullptr};
    const ChangeObserver* below = SetChangeObserver(&refuser);
    EXPECT_EQ(SetText(fixture.key, L"text", L"refused"), static_cast<DWORD>(ERROR_CANCELLED));
    SetChangeObserver(below);
    EXPECT_EQ(NewestRun(), L"");
    BeginJournaledRun(L"inner");
    EXPECT_EQ(SetText(fixture.key, L"text", L"inner"), 0u);
    wchar_t inner[RUN_NAME_CHARS];
    EndJournaledRun(inner);
    wchar_t outer[RUN_NAME_CHARS];
    EndJournaledRun(outer);
    EXPECT_NE(inner[0], 0);
    EXPECT_EQ(outer[0], 0);
    BeginJournaledRun(L"nothing");
    EndJournaledRun(outer);
    EXPECT_EQ(outer[0], 0);
}

// A trial leaves the actions that cannot be undone undone and counts them as done; the
// report names them as what would have happened.
TEST(Journal, TrialLeavesActionsUndone)
{
    Fixture fixture;
    BeginTrialRun(L"trial");
    EXPECT_EQ(AnnounceAction(ChangeKind::StartProgram, L"notepad.exe", L"x.txt"), CHANGE_MADE_BY_OBSERVER);
    wchar_t name[RUN_NAME_CHARS];
    EndJournaledRun(name);
    wchar_t folder[MAX_PATH_CHARS];
    ASSERT_EQ(FindRun(name, folder), 0u);
    RunDocument document{};
    ASSERT_EQ(ReportRun(folder, document), 0u);
    EXPECT_NE(std::wstring(document.text.items).find(L"would start notepad.exe x.txt"), std::wstring::npos);
    ReleaseRunDocument(document);
    EXPECT_TRUE(test::Exists(std::wstring(folder) + L"\\changes.htm"));
    BeginJournaledRun(L"not a trial");
    EXPECT_EQ(AnnounceAction(ChangeKind::StartProgram, L"notepad.exe", nullptr), 0u);
    EndJournaledRun();
}

// Only the newest runs are kept (JournalRuns), the one starting counted.
TEST(Journal, OldRunsGoBeyondTheLimit)
{
    Fixture fixture;
    HKEY settings;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Varnolt", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &settings,
                              &disposition), 0);
    DWORD saved = 0, size = sizeof saved;
    bool hadSetting = RegQueryValueExW(settings, L"JournalRuns", nullptr, nullptr, reinterpret_cast<BYTE*>(&saved),
                                       &size) == ERROR_SUCCESS;
    DWORD limit = 3;
    RegSetValueExW(settings, L"JournalRuns", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&limit), 4);
    for (int run = 0; run < 5; ++run) {
        BeginJournaledRun(L"limited");
        EXPECT_EQ(SetText(fixture.key, L"text", std::to_wstring(run).c_str()), 0u);
        EndJournaledRun();
    }
    if (hadSetting)
        RegSetValueExW(settings, L"JournalRuns", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&saved), 4);
    else
        RegDeleteValueW(settings, L"JournalRuns");
    RegCloseKey(settings);
    if (disposition == REG_CREATED_NEW_KEY)
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Varnolt");
    int kept = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((fixture.local / L"Varnolt\\Runs\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
        kept += found.cFileName[0] != L'.';
    FindClose(search);
    EXPECT_EQ(kept, 3);
}

} // namespace
