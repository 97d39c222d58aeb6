#include "base/file_writer.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <shellapi.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

// --- an observer that keeps what it sees ---

const wchar_t* const KIND_NAMES[] = {L"CreateKey", L"SetValue", L"DeleteValue", L"DeleteKeyTree", L"CreateFolder",
                                     L"CreateFile", L"ReplaceFile", L"AppendToFile", L"DeleteFile", L"DeleteFolder",
                                     L"CreateHardLink", L"SetAttributes", L"WriteByLibrary"};

// Each change as "Kind relative-path" before it and "+Kind relative-path result" after it;
// 'before' answers 'answer' for changes of 'answeredKind', 0 for the others.
struct ChangeLog {
    std::wstring folder;
    std::vector<std::wstring> lines;
    ChangeKind answeredKind = ChangeKind::StartProgram;
    DWORD answer = 0;
    DWORD progressAnswer = 0;
    bool refusesEveryChange = false;    // nothing can go even if a guard failed

    std::wstring Line(const Change& change) const
    {
        std::wstring path = change.path ? change.path : L"";
        if (path.compare(0, folder.size() + 1, folder + L"\\") == 0)
            path.erase(0, folder.size() + 1);
        auto kind = static_cast<size_t>(change.kind);
        return std::wstring(kind < ARRAYSIZE(KIND_NAMES) ? KIND_NAMES[kind] : L"Other") + L" " + path;
    }
};

DWORD RecordBefore(void* context, const Change& change)
{
    auto& log = *static_cast<ChangeLog*>(context);
    log.lines.push_back(log.Line(change));
    if (log.refusesEveryChange)
        return ERROR_CANCELLED;
    return change.kind == log.answeredKind ? log.answer : 0;
}

void RecordAfter(void* context, const Change& change, DWORD result)
{
    auto& log = *static_cast<ChangeLog*>(context);
    log.lines.push_back(L"+" + log.Line(change) + L" " + std::to_wstring(result));
}

DWORD RecordProgress(void* context, ULONGLONG)
{
    return static_cast<ChangeLog*>(context)->progressAnswer;
}

// Makes 'log' the observer while the object lives.
class Watching {
public:
    explicit Watching(ChangeLog& log)
        : observer_{RecordBefore, RecordAfter, RecordProgress, &log}, previous_(SetChangeObserver(&observer_))
    {
    }
    ~Watching() { SetChangeObserver(previous_); }
    Watching(const Watching&) = delete;
    Watching& operator=(const Watching&) = delete;

private:
    ChangeObserver observer_;
    const ChangeObserver* previous_;
};

std::vector<std::wstring> Lines(std::initializer_list<const wchar_t*> lines)
{
    return std::vector<std::wstring>(lines.begin(), lines.end());
}

// 'text' with ';' as the NUL between names and the empty name that ends the list.
std::wstring NameList(const std::wstring& text)
{
    std::wstring list = text;
    std::replace(list.begin(), list.end(), L';', L'\0');
    list.push_back(0);
    list.push_back(0);
    return list;
}

// Every entry below 'folder', as "relative" with " r" for a read-only one, sorted.
void CollectTree(const std::wstring& folder, const std::wstring& relative, std::vector<std::wstring>& tree)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        bool isReadOnly = (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        tree.push_back(relative + name + (isReadOnly ? L" r" : L""));
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CollectTree(folder + L"\\" + name, relative + name + L"\\", tree);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::vector<std::wstring> Tree(const std::wstring& folder)
{
    std::vector<std::wstring> tree;
    CollectTree(folder, L"", tree);
    std::sort(tree.begin(), tree.end());
    return tree;
}

TEST(FileWriter, WritesInPlaceReplacingOrAppending)
{
    test::TempFolder folder;
    std::wstring path = folder / L"data.bin";
    EXPECT_EQ(WriteFileBytes(path.c_str(), "abcdef", 6, false), 6u);
    EXPECT_EQ(WriteFileBytes(path.c_str(), "gh", 2, true), 2u);
    EXPECT_EQ(test::ReadBytes(path), "abcdefgh");
    EXPECT_EQ(WriteFileBytes(path.c_str(), "xy", 2, false), 2u);     // replaces
    EXPECT_EQ(test::ReadBytes(path), "xy");
    EXPECT_EQ(WriteFileBytes((folder / L"no\\such\\dir.bin").c_str(), "a", 1, false), 0u);
}

// --- deletes, against the shell's delete ---

// Builds 'setup' in 'folder': space-separated "kind:path" with kinds d (folder), f (file),
// r (read-only file), R (read-only folder), s (system and hidden file) and o (a file held
// open without sharing, whose handle goes to 'open').
void BuildSetup(const std::wstring& folder, const std::wstring& setup, std::vector<HANDLE>& open)
{
    size_t start = 0;
    while (start < setup.size()) {
        size_t end = setup.find(L' ', start);
        std::wstring token = setup.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        start = end == std::wstring::npos ? setup.size() : end + 1;
        std::wstring path = folder + L"\\" + token.substr(2);
        wchar_t kind = token[0];
        if (kind == L'd' || kind == L'R')
            CreateDirectoryW(path.c_str(), nullptr);
        else
            test::WriteBytes(path, "x");
        if (kind == L'r' || kind == L'R')
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
        if (kind == L's')
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
        if (kind == L'o')
            open.push_back(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    }
}

struct DeleteCase {
    const wchar_t* setup;
    const wchar_t* names;       // ';' between names, relative to the case's folder
    int line;
};
#define DELETE_CASE(s, n) {s, n, __LINE__}

const DeleteCase DELETE_CASES[] = {
    DELETE_CASE(L"f:a.txt f:b.txt", L"a.txt"),
    DELETE_CASE(L"", L"nope.txt"),                                     // 2
    DELETE_CASE(L"", L"nodir\\nope.txt"),                              // 0x7C
    DELETE_CASE(L"f:a.txt", L"*.zzz"),                                 // nothing matched: 0
    DELETE_CASE(L"", L"nodir\\*.zzz"),
    DELETE_CASE(L"", L""),                                             // an empty list: 5
    DELETE_CASE(L"d:t d:t\\u f:t\\u\\f f:t\\g", L"t"),
    DELETE_CASE(L"d:t f:t\\f", L"t\\"),
    DELETE_CASE(L"d:t f:t\\f", L"t\\*"),                               // the folder stays
    DELETE_CASE(L"d:t", L"t\\*"),
    DELETE_CASE(L"d:x.tmp f:x.tmp\\in f:y.tmp f:z.log", L"*.tmp"),     // a pattern matches folders too
    DELETE_CASE(L"f:a1 f:ab f:abc", L"a?"),
    DELETE_CASE(L"f:noext f:e.x", L"*.*"),
    DELETE_CASE(L"f:Case.TXT", L"case.txt"),
    DELETE_CASE(L"f:f.txt", L"f.txt."),
    DELETE_CASE(L"d:sub f:sub\\f.txt", L"sub/f.txt"),
    DELETE_CASE(L"d:sub f:f.txt", L"sub\\..\\f.txt"),
    DELETE_CASE(L"r:ro.txt", L"ro.txt"),                               // read-only, named: 5
    DELETE_CASE(L"r:ro.txt f:rw.txt", L"r*.txt"),
    DELETE_CASE(L"d:t r:t\\ro f:t\\z", L"t"),                          // read-only inside a folder: deleted
    DELETE_CASE(L"R:t f:t\\f", L"t"),
    DELETE_CASE(L"s:sy.txt", L"sy.txt"),
    DELETE_CASE(L"f:b.txt", L"nope;b.txt"),                            // the first failure ends the list
    DELETE_CASE(L"f:b.txt", L"b.txt;nope"),
    DELETE_CASE(L"f:b.txt", L"*.zz;b.txt"),
    DELETE_CASE(L"f:a.txt f:b.txt", L"a.txt;a.txt;b.txt"),
    DELETE_CASE(L"f:a.txt", L"*.txt;a.txt"),                           // names are resolved before deleting
    DELETE_CASE(L"d:t d:t\\s f:t\\s\\f", L"t;t\\s\\f"),
    DELETE_CASE(L"d:t d:t\\s f:t\\s\\f", L"t\\s\\f;t"),
    DELETE_CASE(L"f:f", L"f\\x"),
    DELETE_CASE(L"f:f", L"f\\*"),
    DELETE_CASE(L"", L"a<b"),
    DELETE_CASE(L"o:f.txt", L"f.txt"),
    DELETE_CASE(L"d:t f:t\\a o:t\\b f:t\\c", L"t"),                    // a file in use ends the folder's delete
};

// The shell's delete and the writer's, each in a folder of its own built alike, give the
// same result and leave the same files. Read-only files: 5 when named or matched, cleared
// and deleted inside a folder being deleted, as the shell does.
TEST(FileWriter, DeletesAsTheShellDoes)
{
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    for (const auto& c : DELETE_CASES) {
        test::TempFolder shellSide, writerSide;
        std::vector<HANDLE> open;
        BuildSetup(shellSide.path(), c.setup, open);
        BuildSetup(writerSide.path(), c.setup, open);
        std::wstring list = NameList(c.names);
        SetCurrentDirectoryW(shellSide.path().c_str());
        SHFILEOPSTRUCTW operation = {};
        operation.wFunc = FO_DELETE;
        operation.pFrom = list.c_str();
        operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;
        auto shellResult = static_cast<DWORD>(SHFileOperationW(&operation));
        SetCurrentDirectoryW(writerSide.path().c_str());
        DWORD writerResult = DeleteNamedFiles(list.c_str());
        SetCurrentDirectoryW(previous);
        for (HANDLE handle : open)
            CloseHandle(handle);
        EXPECT_EQ(writerResult, shellResult) << "case at line " << c.line;
        EXPECT_EQ(Tree(writerSide.path()), Tree(shellSide.path())) << "case at line " << c.line;
    }
}

// --- what the writer refuses ---

struct RootCase {
    const wchar_t* names;
    bool refused;
    int line;
};
#define ROOT_CASE(n, r) {n, r, __LINE__}

const RootCase ROOT_CASES[] = {
    ROOT_CASE(L"C:\\*", true),
    ROOT_CASE(L"\\*", true),
    ROOT_CASE(L"\\*.*", true),
    ROOT_CASE(L"/*", true),
    ROOT_CASE(L"\\Temp\\*.tmp", true),                  // an empty first component: "%1\Temp" with %1 unset
    ROOT_CASE(L"C:\\\\*", true),                        // "C:\%1\*" with %1 unset
    ROOT_CASE(L"C:\\;x.txt", true),                      // the root itself
    ROOT_CASE(L"C:", true),                              // a drive alone
    ROOT_CASE(L"C:\\.", true),
    ROOT_CASE(L"C:\\Windows\\..\\*.*", true),
    ROOT_CASE(L"C:\\?*.*", true),
    ROOT_CASE(L"\\\\?\\C:\\*", true),
    ROOT_CASE(L"\\\\server\\share\\*", true),
    ROOT_CASE(L"C:\\Temp\\a.txt;\\*", true),             // one such name stops the whole list
    ROOT_CASE(L"C:\\Temp\\*.tmp", false),
    ROOT_CASE(L"C:\\pagefile.sys", false),               // one named file in a root
    ROOT_CASE(L"C:\\Windows", false),
    ROOT_CASE(L"\\\\server\\share\\old\\*", false),
};

// No name that reaches straight into a root deletes anything, the current folder's
// patterns while it is a root included; other names go on to their first change, which
// the observer stops.
TEST(FileWriter, NothingIsDeletedStraightFromARoot)
{
    ChangeLog log;
    log.refusesEveryChange = true;
    Watching watching(log);
    for (const auto& c : ROOT_CASES) {
        log.lines.clear();
        DWORD result = DeleteNamedFiles(NameList(c.names).c_str());
        EXPECT_EQ(result == RESULT_DELETE_FROM_ROOT, c.refused) << "case at line " << c.line;
        if (c.refused) {
            EXPECT_TRUE(log.lines.empty()) << "case at line " << c.line;
        }
    }
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(L"C:\\");
    DWORD relative = DeleteNamedFiles(NameList(L"*.*").c_str());
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(relative, RESULT_DELETE_FROM_ROOT);
}

// The names one file or folder has besides its own.
enum class Form { Plain, TrailingDot, Short, OtherDrive };

std::wstring Named(Form form, const test::TempFolder& folder, const test::TestDrive& drive, const std::wstring& name)
{
    std::wstring path = folder / name;
    wchar_t shortPath[MAX_PATH] = L"";
    switch (form) {
    case Form::Plain: return path;
    case Form::TrailingDot: return path + L".";
    case Form::Short: GetShortPathNameW(path.c_str(), shortPath, MAX_PATH); return shortPath;
    case Form::OtherDrive: return drive.root() + name;
    }
    return path;
}

enum class Act { CopyOntoSource, ReplaceFolder, WriteAgain, LinkOntoTarget, DeleteFromRoot };

struct IdentityCase {
    Act act;
    Form form;
    DWORD result;           // of the act; WriteAgain: the notice
    int line;
};
#define IDENTITY_CASE(a, f, r) {Act::a, Form::f, r, __LINE__}

const IdentityCase IDENTITY_CASES[] = {
    IDENTITY_CASE(CopyOntoSource, Plain, 0),            // left as it is, read-only bit and all
    IDENTITY_CASE(CopyOntoSource, TrailingDot, 0),
    IDENTITY_CASE(CopyOntoSource, Short, 0),
    IDENTITY_CASE(CopyOntoSource, OtherDrive, 0),
    IDENTITY_CASE(ReplaceFolder, TrailingDot, ERROR_ACCESS_DENIED),
    IDENTITY_CASE(ReplaceFolder, Short, ERROR_ACCESS_DENIED),
    IDENTITY_CASE(ReplaceFolder, OtherDrive, ERROR_ACCESS_DENIED),
    IDENTITY_CASE(WriteAgain, Plain, 0),                // the name the run wrote: no notice
    IDENTITY_CASE(WriteAgain, TrailingDot, ERROR_FILE_EXISTS),
    IDENTITY_CASE(WriteAgain, Short, ERROR_FILE_EXISTS),
    IDENTITY_CASE(WriteAgain, OtherDrive, ERROR_FILE_EXISTS),
    IDENTITY_CASE(LinkOntoTarget, TrailingDot, 0),      // the target's own name is left as it is
    IDENTITY_CASE(LinkOntoTarget, Short, 0),
    IDENTITY_CASE(LinkOntoTarget, OtherDrive, 0),
    IDENTITY_CASE(DeleteFromRoot, Plain, RESULT_DELETE_FROM_ROOT),     // the drive's root by its letter
    IDENTITY_CASE(DeleteFromRoot, TrailingDot, RESULT_DELETE_FROM_ROOT),
    IDENTITY_CASE(DeleteFromRoot, Short, RESULT_DELETE_FROM_ROOT),      // by the folder it stands for
    IDENTITY_CASE(DeleteFromRoot, OtherDrive, RESULT_DELETE_FROM_ROOT),
};

// A pattern in the drive's root, the root named as the form says.
std::wstring RootPattern(Form form, const test::TempFolder& folder, const test::TestDrive& drive)
{
    switch (form) {
    case Form::Plain: return drive.root() + L"*";
    case Form::TrailingDot: return drive.root() + L".\\*";
    case Form::Short: return Named(Form::Short, folder, drive, L"sub folder") + L"\\..\\*";
    case Form::OtherDrive: return folder / L"*";       // the folder the drive stands for
    }
    return L"";
}

DWORD CopyOntoSource(const std::wstring& source, const std::wstring& target)
{
    HANDLE input = CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    FileOutputRules rules{.replacesReadOnly = true, .removesIncomplete = true, .source = input};
    FileOutput output;
    DWORD result = OpenFileOutput(output, target.c_str(), rules);
    if (result == ERROR_SUCCESS)
        result = WriteFileOutput(output, "new", 3);
    result = FinishFileOutput(output, result);
    CloseHandle(input);
    return result;
}

DWORD WriteTwice(const std::wstring& first, const std::wstring& second)
{
    WrittenFiles written{};
    FileOutputRules rules{.written = &written};
    DWORD result = WriteWholeFile(first.c_str(), "1", 1, rules);
    if (result == ERROR_SUCCESS)
        result = WriteWholeFile(second.c_str(), "2", 1, rules);
    DWORD notice = TakeWrittenNotice(written);
    ReleaseWrittenFiles(written);
    return result != ERROR_SUCCESS ? result : notice;
}

DWORD LinkOntoTarget(const std::wstring& target, const std::wstring& link)
{
    FileIdentity identity;
    if (!IdentityOfPath(target.c_str(), identity))
        return ERROR_FILE_NOT_FOUND;
    return LinkToFile(target.c_str(), identity, link.c_str(), nullptr);
}

const wchar_t* const SOURCE = L"source file.text";

DWORD Perform(const IdentityCase& c, const test::TempFolder& folder, const test::TestDrive& drive)
{
    switch (c.act) {
    case Act::CopyOntoSource: return CopyOntoSource(folder / SOURCE, Named(c.form, folder, drive, SOURCE));
    case Act::ReplaceFolder: return WriteWholeFile(Named(c.form, folder, drive, L"sub folder").c_str(), "x", 1, {});
    case Act::WriteAgain:
        return WriteTwice(folder / L"written file.text", Named(c.form, folder, drive, L"written file.text"));
    case Act::LinkOntoTarget: return LinkOntoTarget(folder / SOURCE, Named(c.form, folder, drive, SOURCE));
    case Act::DeleteFromRoot: return DeleteNamedFiles(NameList(RootPattern(c.form, folder, drive)).c_str());
    }
    return ERROR_INVALID_FUNCTION;
}

DWORD LinkCount(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION information = {};
    GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    return information.nNumberOfLinks;
}

// A file or folder is the same whatever name reaches it: a trailing dot, its short name,
// another drive letter standing for its folder. The writer decides by identity, so each
// such name is treated as the file itself; a drive's root is refused by every name.
TEST(FileWriter, DecidesByIdentityWhateverTheName)
{
    test::TempFolder folder;
    test::TestDrive drive(folder.path());
    ASSERT_NE(drive.letter, 0);
    const std::wstring source = SOURCE;
    for (const auto& c : IDENTITY_CASES) {
        test::WriteBytes(folder / source, "S");
        SetFileAttributesW((folder / source).c_str(), FILE_ATTRIBUTE_READONLY);
        CreateDirectoryW((folder / L"sub folder").c_str(), nullptr);
        DWORD result = Perform(c, folder, drive);
        EXPECT_EQ(result, c.result) << "case at line " << c.line;
        EXPECT_EQ(test::ReadBytes(folder / source), "S") << "case at line " << c.line;
        EXPECT_NE(GetFileAttributesW((folder / source).c_str()) & FILE_ATTRIBUTE_READONLY, 0u) << "case at line " << c.line;
        EXPECT_EQ(LinkCount(folder / source), 1u) << "case at line " << c.line;
        EXPECT_TRUE(test::Exists(folder / L"sub folder")) << "case at line " << c.line;
        SetFileAttributesW((folder / source).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    EXPECT_EQ(Tree(folder.path()), (std::vector<std::wstring>{L"source file.text", L"sub folder", L"written file.text"}));
}

// --- what the observer sees and answers ---

// Each change is reported before it is made and after, with its result; a tree goes file
// by file and folder by folder, a read-only file inside losing its bit first. What a guard
// refuses is not reported: the observer may act on a change it hears of (move the file away).
TEST(FileWriter, ObserverSeesEveryChange)
{
    test::TempFolder folder;
    ChangeLog log;
    log.folder = folder.path();
    std::wstring a = folder / L"new\\a.txt", b = folder / L"new\\b.txt", c = folder / L"new\\c.txt";
    {
        Watching watching(log);
        EXPECT_EQ(WriteWholeFile(a.c_str(), "A", 1, {}), 0u);
        EXPECT_EQ(WriteWholeFile(a.c_str(), "B", 1, {}), 0u);
        FileIdentity identity;
        ASSERT_TRUE(IdentityOfPath(a.c_str(), identity));
        EXPECT_EQ(LinkToFile(a.c_str(), identity, b.c_str(), nullptr), 0u);
        EXPECT_EQ(DeleteNamedFiles(NameList(b).c_str()), 0u);
        EXPECT_EQ(WriteWholeFile(c.c_str(), "C", 1, {}), 0u);
        SetFileAttributesW(c.c_str(), FILE_ATTRIBUTE_READONLY);
        EXPECT_EQ(DeleteNamedFiles(NameList(c).c_str()), static_cast<DWORD>(ERROR_ACCESS_DENIED));   // named: refused
    }
    EXPECT_EQ(log.lines, Lines({
        L"CreateFile new\\a.txt", L"CreateFolder new", L"+CreateFolder new 0", L"+CreateFile new\\a.txt 0",
        L"ReplaceFile new\\a.txt", L"+ReplaceFile new\\a.txt 0",
        L"CreateHardLink new\\b.txt", L"+CreateHardLink new\\b.txt 0",
        L"DeleteFile new\\b.txt", L"+DeleteFile new\\b.txt 0",
        L"CreateFile new\\c.txt", L"+CreateFile new\\c.txt 0",       // the named read-only file: refused unreported
    }));
    log.lines.clear();
    {
        Watching watching(log);
        EXPECT_EQ(DeleteNamedFiles(NameList(folder / L"new").c_str()), 0u);
    }
    std::vector<std::wstring> readOnly = Lines({L"DeleteFile new\\c.txt", L"SetAttributes new\\c.txt",
                                                L"+SetAttributes new\\c.txt 0", L"+DeleteFile new\\c.txt 0"});
    EXPECT_NE(std::search(log.lines.begin(), log.lines.end(), readOnly.begin(), readOnly.end()), log.lines.end());
    EXPECT_EQ(log.lines.size(), 8u);                        // a.txt, c.txt with its bit, then the folder
    EXPECT_EQ(log.lines.back(), L"+DeleteFolder new 0");
    EXPECT_FALSE(test::Exists(folder / L"new"));
}

struct AnswerCase {
    ChangeKind kind;
    DWORD answer;
    DWORD progressAnswer;
    bool isThere;           // the file exists before
    DWORD result;
    const char* after;      // the file's content afterwards; nullptr: not there
    int line;
};
#define ANSWER_CASE(k, a, p, t, r, c) {ChangeKind::k, a, p, t, r, c, __LINE__}

const AnswerCase ANSWER_CASES[] = {
    ANSWER_CASE(CreateFile, ERROR_CANCELLED, 0, false, ERROR_CANCELLED, nullptr),
    ANSWER_CASE(CreateFile, CHANGE_MADE_BY_OBSERVER, 0, false, 0, nullptr),
    ANSWER_CASE(ReplaceFile, CHANGE_MADE_BY_OBSERVER, 0, true, 0, "old"),
    ANSWER_CASE(ReplaceFile, 0, ERROR_CANCELLED, true, ERROR_CANCELLED, "old"),     // Stop while writing
    ANSWER_CASE(CreateFile, 0, ERROR_CANCELLED, false, ERROR_CANCELLED, nullptr),
    ANSWER_CASE(DeleteFile, CHANGE_MADE_BY_OBSERVER, 0, true, 0, "old"),           // the journal keeps it
    ANSWER_CASE(DeleteFile, ERROR_CANCELLED, 0, true, ERROR_CANCELLED, "old"),
};

// What the observer answers decides: the change is refused with its answer, skipped as
// made by the observer, or its writing stopped; nothing is left half done or beside.
TEST(FileWriter, ObserverAnswersDecide)
{
    for (const auto& c : ANSWER_CASES) {
        test::TempFolder folder;
        std::wstring path = folder / L"f.txt";
        if (c.isThere)
            test::WriteBytes(path, "old");
        ChangeLog log;
        log.answeredKind = c.kind;
        log.answer = c.answer;
        log.progressAnswer = c.progressAnswer;
        DWORD result;
        {
            Watching watching(log);
            FileOutputRules rules{.removesIncomplete = true};
            result = c.kind == ChangeKind::DeleteFile ? DeleteNamedFiles(NameList(path).c_str())
                                                      : WriteWholeFile(path.c_str(), "new", 3, rules);
        }
        EXPECT_EQ(result, c.result) << "case at line " << c.line;
        EXPECT_EQ(test::Exists(path), c.after != nullptr) << "case at line " << c.line;
        if (c.after) {
            EXPECT_EQ(test::ReadBytes(path), c.after) << "case at line " << c.line;
        }
        EXPECT_EQ(Tree(folder.path()).size(), c.after ? 1u : 0u) << "case at line " << c.line;
    }
}

} // namespace
