// Varnolt.exe with its journal: a script that changes a registry key and a folder in every
// way a script can, then /undo, and the key and folder compared whole with what they were
// before; the same with the program ended half-way, with changes made after the run, and
// as a trial. Every program this test program starts keeps its runs in a folder of the
// test's own (LOCALAPPDATA), so that no test sees another's.
#include "support/snapshot.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <algorithm>

namespace {

constexpr DWORD RESULT_UNDO_CONFLICT = 0x20007A02;

class OwnLocalAppData : public testing::Environment {
public:
    void SetUp() override
    {
        folder_ = new test::TempFolder;
        wchar_t saved[MAX_PATH] = L"";
        hadSaved_ = GetEnvironmentVariableW(L"LOCALAPPDATA", saved, MAX_PATH) != 0;
        saved_ = saved;
        SetEnvironmentVariableW(L"LOCALAPPDATA", folder_->path().c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"LOCALAPPDATA", hadSaved_ ? saved_.c_str() : nullptr);
        delete folder_;
    }
    static std::wstring Runs() { return folder_->path() + L"\\Varnolt\\Runs"; }

private:
    static inline test::TempFolder* folder_ = nullptr;
    std::wstring saved_;
    bool hadSaved_ = false;
};
testing::Environment* const ownLocalAppData = testing::AddGlobalTestEnvironment(new OwnLocalAppData);

std::wstring VarnoltPath()
{
    return test::ProgramFolder() + L"\\Varnolt.exe";
}

DWORD RunVarnolt(const std::wstring& arguments, const std::wstring& output = L"",
                 const std::vector<std::wstring>& environment = {})
{
    std::wstring commandLine = L"\"" + VarnoltPath() + L"\" " + arguments;
    test::ProcessResult result = output.empty()
                                     ? test::StartAndWait(VarnoltPath(), commandLine, environment)
                                     : test::StartAndWaitWithOutput(VarnoltPath(), commandLine, environment, output);
    EXPECT_FALSE(result.timedOut) << test::Utf8(arguments);
    return result.exitCode;
}

std::vector<std::wstring> RunNames()
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((OwnLocalAppData::Runs() + L"\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
        if (found.cFileName[0] != L'.' && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// A registry key and a folder with something of every kind in them, the files a script
// reads from, and the script that changes them all.
struct Scene {
    test::TempFolder work;
    std::wstring key = L"Software\\VarnoltJournalEnd-" + std::to_wstring(GetCurrentProcessId());
    std::wstring data = work / L"data";

    Scene()
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
        RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"text", REG_SZ, L"old", 8);
        DWORD seven = 7;
        RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"number", REG_DWORD, &seven, 4);
        RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"gone", REG_SZ, L"x", 4);
        RegSetKeyValueW(HKEY_CURRENT_USER, (key + L"\\tree\\leaf").c_str(), L"deep", REG_BINARY, "\x01\x02\x03", 3);
        for (const wchar_t* folder : {L"data", L"data\\doomed", L"data\\doomed\\sub", L"data\\sample", L"source"})
            CreateDirectoryW((work / folder).c_str(), nullptr);
        test::WriteBytes(work / L"data\\keep.txt", "keep");
        test::WriteBytes(work / L"data\\replaced.txt", "old replaced");
        test::WriteBytes(work / L"data\\doomed\\a.txt", "a");
        test::WriteBytes(work / L"data\\doomed\\sub\\b.txt", "b");
        SetFileAttributesW((work / L"data\\doomed\\sub\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        test::WriteBytes(work / L"data\\sample\\readme.txt", "an older readme");
        test::WriteBytes(work / L"source\\replaced.txt", "new replaced");
        test::WriteBytes(work / L"source\\other.txt", "other");
        CopyFileW(EXAMPLES_FOLDER L"/sample.tgz", (work / L"archive.tgz").c_str(), FALSE);
        test::WriteBytes(work / L"import.reg", test::Utf8(L"REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\" + key +
                                                           L"]\r\n\"number\"=dword:00000009\r\n\"imported\"=\"yes\"\r\n"
                                                           L"\r\n[HKEY_CURRENT_USER\\" + key +
                                                           L"\\fromreg]\r\n\"a\"=hex:01,02\r\n"));
        test::WriteBytes(work / L"settings.provxml",
                         test::Utf8(L"<wap-provisioningdoc><characteristic type=\"Registry\"><characteristic type=\"HKCU\\" +
                                    key + L"\\prov\"><parm name=\"p\" value=\"1\" datatype=\"integer\"/>"
                                          L"</characteristic></characteristic></wap-provisioningdoc>"));
    }
    ~Scene()
    {
        SetFileAttributesW((work / L"data\\doomed\\sub\\b.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
        RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    }
    test::Snapshot Snapshot() const
    {
        test::Snapshot lines = test::SnapshotKey(HKEY_CURRENT_USER, key);
        test::Snapshot files = test::SnapshotFolder(data);
        lines.insert(lines.end(), files.begin(), files.end());
        return lines;
    }
    // The script: values and keys set, made and deleted, a .reg file and a provisioning
    // document, files copied over others, a folder deleted, an archive extracted over a
    // file and a shortcut made; 'pause' is put in the middle.
    std::wstring Script(const std::wstring& pause = L"") const
    {
        std::wstring k = L"HKCU\\" + key;
        std::wstring lines = L"REGX " + k + L"\\text=new text\r\n" + L"REGX " + k + L"\\made\\deeper\\#count=5\r\n" +
                             L"REGX " + k + L"\\-gone\r\n" + L"REGX " + k + L"\\tree\\-\r\n" + work / L"import.reg" +
                             L"\r\n" + work / L"settings.provxml" + L"\r\n" + pause;
        lines += L"FILE " + work / L"source\\*>" + data + L"\\\r\n" + L"FILE " + data + L"\\doomed\r\n" + L"TGZX " +
                 work / L"archive.tgz," + data + L"\r\n" + L"LINK " + data + L"\\shortcut.lnk," + data +
                 L"\\keep.txt\r\n";
        std::wstring path = work / L"script.vrs";
        test::WriteBytes(path, test::Utf8(lines));
        return L"\"" + path + L"\"";
    }
};

TEST(Journal, UndoBringsBackTheKeyAndTheFolder)
{
    Scene scene;
    test::Snapshot before = scene.Snapshot();
    EXPECT_EQ(RunVarnolt(scene.Script()), 0u);
    ASSERT_NE(scene.Snapshot(), before);
    std::wstring report = scene.work / L"report.txt";
    EXPECT_EQ(RunVarnolt(L"/undo", report), 0u);
    EXPECT_EQ(test::Utf8(test::FirstDifference(before, scene.Snapshot())), "") << test::ReadBytes(report);
}

TEST(Journal, UndoAfterTheProgramWasEndedHalfWay)
{
    Scene scene;
    test::Snapshot before = scene.Snapshot();
    std::wstring marker = scene.work / L"data\\halfway.txt";
    std::wstring commandLine = L"\"" + VarnoltPath() + L"\" " +
                               scene.Script(L"FILE " + marker + L"< here\r\nWAIT 60000\r\n");
    PROCESS_INFORMATION process;
    ASSERT_EQ(test::StartProcess(VarnoltPath(), commandLine, {}, nullptr, process), 0u);
    EXPECT_TRUE(test::Eventually([&] { return test::Exists(marker); }));
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_FALSE(test::Exists(scene.data + L"\\shortcut.lnk"));          // the second half never ran
    ASSERT_NE(scene.Snapshot(), before);                                // the first half did
    std::wstring name = RunNames().back();
    // The next start tells of the run that did not finish, once.
    std::wstring trace = scene.work / L"trace.log", again = scene.work / L"again.log";
    EXPECT_EQ(RunVarnolt(L"/undo", scene.work / L"report.txt", {L"VARNOLT_TRACE=" + trace}), 0u);
    EXPECT_EQ(test::Utf8(test::FirstDifference(before, scene.Snapshot())), "");
    std::wstring told = test::Widen(test::ReadBytes(trace));
    EXPECT_NE(told.find(L"did not finish"), std::wstring::npos) << test::Utf8(told);
    EXPECT_NE(told.find(L"Varnolt.exe /undo " + name), std::wstring::npos) << test::Utf8(told);
    RunVarnolt(L"EVAL x=0", L"", {L"VARNOLT_TRACE=" + again});
    EXPECT_EQ(test::ReadBytes(again).find("did not finish"), std::string::npos);
}

TEST(Journal, ChangesMadeAfterTheRunAreKeptUnlessForced)
{
    Scene scene;
    test::Snapshot before = scene.Snapshot();
    EXPECT_EQ(RunVarnolt(scene.Script()), 0u);
    std::wstring run = RunNames().back();
    RegSetKeyValueW(HKEY_CURRENT_USER, scene.key.c_str(), L"text", REG_SZ, L"mine", 10);
    test::WriteBytes(scene.data + L"\\replaced.txt", "mine too");
    std::wstring report = scene.work / L"report.txt";
    EXPECT_EQ(RunVarnolt(L"/undo " + run, report), RESULT_UNDO_CONFLICT);
    std::string told = test::ReadBytes(report);
    EXPECT_NE(told.find("/undo /force " + test::Utf8(run)), std::string::npos) << told;
    EXPECT_EQ(test::ReadBytes(scene.data + L"\\replaced.txt"), "mine too");
    EXPECT_EQ(test::ReadBytes(scene.data + L"\\keep.txt"), "keep");
    EXPECT_FALSE(test::Exists(scene.data + L"\\shortcut.lnk"));        // what nobody touched went back
    EXPECT_EQ(RunVarnolt(L"/undo /force " + run, report), 0u);
    EXPECT_EQ(test::Utf8(test::FirstDifference(before, scene.Snapshot())), "") << test::ReadBytes(report);
}

TEST(Journal, TrialLeavesEverythingAndNamesEveryChange)
{
    Scene scene;
    test::Snapshot before = scene.Snapshot();
    std::wstring report = scene.work / L"report.txt";
    EXPECT_EQ(RunVarnolt(L"/trial " + scene.Script(L"EXEC notepad.exe\r\n"), report), 0u);
    EXPECT_EQ(test::Utf8(test::FirstDifference(before, scene.Snapshot())), "");
    std::string told = test::ReadBytes(report);
    for (const char* named : {"\"text\"", "\"count\"", "\"gone\"", "(keys below it: 1, values: 1)", "\"imported\"",
                              "VarnoltJournalEnd", "\\fromreg", "\\prov", "\"p\"", "replaced replaced.txt",
                              "created other.txt", "deleted a.txt", "deleted b.txt", "deleted the folder sub",
                              "deleted the folder doomed", "replaced readme.txt", "created notes.txt",
                              "created shortcut.lnk", "would start notepad.exe", "Everything the run changed is as"})
        EXPECT_NE(told.find(named), std::string::npos) << named << "\n" << told;
}

struct SwitchCase {
    const wchar_t* arguments;
    DWORD exitCode;
    bool keepsRun;
    int line;
};
#define SWITCH_CASE(a, e, k) {a, e, k, __LINE__}

const SwitchCase SWITCH_CASES[] = {
    SWITCH_CASE(L"/nojournal EVAL x=5", 5, false),
    SWITCH_CASE(L"/force", ERROR_INVALID_PARAMETER, false),
    SWITCH_CASE(L"/changes /undo", ERROR_INVALID_PARAMETER, false),
    SWITCH_CASE(L"/trial /nojournal EVAL x=5", ERROR_INVALID_PARAMETER, false),
    SWITCH_CASE(L"/undone", 2, false),                         // no switch: a file of that name, not there
    SWITCH_CASE(L"/changes no-such-run", ERROR_FILE_NOT_FOUND, false),
    SWITCH_CASE(L"/check no-such-script.vrs", 1, false),         // the checker: no file to check is an error
};

// Only the switch words start a switch; a line that changes nothing leaves no run, and
// /nojournal keeps none of what it changes.
TEST(Journal, SwitchesAndRunsThatKeepNothing)
{
    test::TempFolder folder;
    std::wstring output = folder / L"output.txt";
    for (const auto& c : SWITCH_CASES) {
        size_t runs = RunNames().size();
        EXPECT_EQ(RunVarnolt(c.arguments, output), c.exitCode) << "case at line " << c.line;
        EXPECT_EQ(RunNames().size(), runs) << "case at line " << c.line;
    }
    size_t runs = RunNames().size();
    EXPECT_EQ(RunVarnolt(L"/nojournal FILE " + folder / L"x.txt< x"), 0u);
    EXPECT_EQ(RunNames().size(), runs);
    EXPECT_EQ(RunVarnolt(L"/?", output), 0u);
    EXPECT_NE(test::ReadBytes(output).find("/check"), std::string::npos);
}

} // namespace
