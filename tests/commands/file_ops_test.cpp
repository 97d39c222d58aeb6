#include "commands/commands.h"
#include "base/changes.h"
#include "support/outward_calls_guard.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <algorithm>

namespace {

DWORD RunFile(const std::wstring& argument)
{
    return test::Run(L"FILE " + argument);
}

bool IsReadOnly(const std::wstring& path)
{
    return (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY) != 0;
}

struct WriteCase {
    const char* before;         // nullptr: no file yet
    const wchar_t* operation;   // follows the file's path
    std::string after;
    DWORD result;
    int line;
};
#define WRITE_CASE(b, o, a, r) {b, o, a, r, __LINE__}

const WriteCase WRITE_CASES[] = {
    WRITE_CASE(nullptr, L"< hello", "hello", 0),
    WRITE_CASE(nullptr, L"<hello", "ello", 0),                 // the unit after '<' is the mode, never text
    WRITE_CASE("old", L"< new", "new", 0),
    WRITE_CASE("old", L"<=new", "oldnew", 0),
    WRITE_CASE("old", L"<", "", 1),                            // nothing to write: truncated, 1
    WRITE_CASE("old", L"< ", "", 1),
    WRITE_CASE("old", L"<=", "old", 1),
    WRITE_CASE(nullptr, L"< a<b{c>d->e;f\\", "a<b{c>d->e;f\\", 0),   // later operators are text
    WRITE_CASE(nullptr, L"< a%,b", "a,b", 0),
    WRITE_CASE(nullptr, L"{ hi", test::Utf16Bytes(L"hi"), 0),
    WRITE_CASE("ab", L"{=hi", "ab" + test::Utf16Bytes(L"hi"), 0),
    WRITE_CASE("ab", L"{", "", 1),
    WRITE_CASE(nullptr, L"{ \x4e2d", test::Utf16Bytes(L"\x4e2d"), 0),
};

TEST(FileWrite, AnsiAndUtf16Texts)
{
    for (const auto& c : WRITE_CASES) {
        test::TempFolder folder;
        std::wstring path = folder / L"out.txt";
        if (c.before)
            test::WriteBytes(path, c.before);
        EXPECT_EQ(RunFile(path + c.operation), c.result) << "case at line " << c.line;
        EXPECT_EQ(test::ReadBytes(path), c.after) << "case at line " << c.line;
    }
}

TEST(FileWrite, AnsiTextLimitIs1024Bytes)
{
    test::TempFolder folder;
    std::wstring path = folder / L"out.txt";
    EXPECT_EQ(RunFile(path + L"< " + std::wstring(1024, L'a')), 0u);
    EXPECT_EQ(test::ReadBytes(path), std::string(1024, 'a'));
    EXPECT_EQ(RunFile(path + L"< " + std::wstring(1025, L'b')), 1u);
    EXPECT_TRUE(test::Exists(path));
    EXPECT_EQ(test::ReadBytes(path), "");                         // overwrite left it empty
}

TEST(FileWrite, NoFolderIsCreated)
{
    test::TempFolder folder;
    EXPECT_EQ(RunFile(folder / L"missing\\out.txt< text"), 1u);
    EXPECT_FALSE(test::Exists(folder / L"missing"));
}

TEST(FileDelete, ListsWildcardsAndArrow)
{
    test::TempFolder folder;
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt", L"d.tmp", L"e.tmp", L"keep.log"})
        test::WriteBytes(folder / name, "x");
    EXPECT_EQ(RunFile(folder / L"a.txt;" + folder / L"b.txt->" + folder / L"c.txt"), 0u);
    EXPECT_FALSE(test::Exists(folder / L"a.txt"));
    EXPECT_FALSE(test::Exists(folder / L"b.txt"));
    EXPECT_TRUE(test::Exists(folder / L"c.txt"));                  // after "->": ignored
    EXPECT_EQ(RunFile(folder / L"*.tmp->"), 0u);
    EXPECT_FALSE(test::Exists(folder / L"d.tmp"));
    EXPECT_FALSE(test::Exists(folder / L"e.tmp"));
    EXPECT_TRUE(test::Exists(folder / L"keep.log"));
    EXPECT_NE(RunFile(folder / L"never-there.txt"), 0u);
}

// The names go to the writer with runs of '*' collapsed: a pattern of a drive's root is
// refused however long its run (beyond 260 units until collapsed), by the letter or as the
// current folder; a delete below the root still works.
TEST(FileDelete, RunsOfStarsAreJudgedCollapsed)
{
    test::TempFolder folder;
    test::WriteBytes(folder / L"keep.txt", "x");
    CreateDirectoryW((folder / L"sub").c_str(), nullptr);
    test::WriteBytes(folder / L"sub\\gone.tmp", "x");
    test::TestDrive drive(folder.path());
    ASSERT_NE(drive.letter, 0);
    const DWORD refused = static_cast<DWORD>(E_INVALIDARG);
    EXPECT_EQ(RunFile(drive.root() + std::wstring(257, L'*')), refused);
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(drive.root().c_str());
    DWORD relative = RunFile(std::wstring(257, L'*'));
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(relative, refused);
    EXPECT_TRUE(test::Exists(folder / L"keep.txt"));
    EXPECT_EQ(RunFile(drive.root() + L"sub\\**.tmp"), 0u);
    EXPECT_FALSE(test::Exists(folder / L"sub\\gone.tmp"));
}

TEST(FileDelete, ListFillingTheWholeLineBuffer)
{
    test::TempFolder folder;
    std::wstring path = folder / L"z.txt";
    test::WriteBytes(path, "x");
    std::wstring line(LINE_BUFFER_CHARS - 1, L';');               // the terminator is the buffer's last unit
    line.replace(0, path.size(), path);
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(0);
    EXPECT_EQ(FileOperation(buffer.data()), 0u);
    EXPECT_FALSE(test::Exists(path));
}

TEST(FileOperators, DashAndInnerBackslashBelongToNames)
{
    test::TempFolder folder;
    CreateDirectoryW((folder / L"d").c_str(), nullptr);
    test::WriteBytes(folder / L"a-b.txt", "x");
    test::WriteBytes(folder / L"d\\e-f.txt", "x");
    EXPECT_EQ(RunFile(folder / L"a-b.txt;" + folder / L"d\\e-f.txt"), 0u);
    EXPECT_FALSE(test::Exists(folder / L"a-b.txt"));
    EXPECT_FALSE(test::Exists(folder / L"d\\e-f.txt"));
    test::WriteBytes(folder / L"src.txt", "S");
    EXPECT_EQ(RunFile(folder / L"src.txt->ignored>" + folder / L"dst.txt"), 0u);   // the scan goes on after "->"
    EXPECT_EQ(test::ReadBytes(folder / L"dst.txt"), "S");
    EXPECT_TRUE(test::Exists(folder / L"src.txt"));
}

TEST(FileCreatePath, EveryLevelAndAlwaysZero)
{
    test::TempFolder folder;
    EXPECT_EQ(RunFile(folder / L"a\\b\\c\\"), 0u);
    EXPECT_TRUE(GetFileAttributesW((folder / L"a\\b\\c").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    test::WriteBytes(folder / L"file", "x");
    EXPECT_EQ(RunFile(folder / L"file\\sub\\"), 0u);               // cannot be made below a file
    EXPECT_FALSE(test::Exists(folder / L"file\\sub"));
}

// The names FindFirstFile visits for 'pattern', in its order.
std::vector<std::wstring> PlatformOrder(const std::wstring& pattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

TEST(FileCopy, WildcardIntoFolder)
{
    test::TempFolder folder;
    CreateDirectoryW((folder / L"src").c_str(), nullptr);
    CreateDirectoryW((folder / L"src\\sub").c_str(), nullptr);
    test::WriteBytes(folder / L"src\\a.txt", "A");
    test::WriteBytes(folder / L"src\\b.TXT", "B");
    test::WriteBytes(folder / L"src\\c.log", "C");
    test::WriteBytes(folder / L"src\\sub\\d.txt", "D");
    EXPECT_EQ(RunFile(folder / L"src\\*.txt>" + folder / L"dst\\new\\"), 0u);
    EXPECT_EQ(test::ReadBytes(folder / L"dst\\new\\a.txt"), "A");
    EXPECT_EQ(test::ReadBytes(folder / L"dst\\new\\b.TXT"), "B");      // the platform's matching ignores case
    EXPECT_FALSE(test::Exists(folder / L"dst\\new\\c.log"));
    EXPECT_FALSE(test::Exists(folder / L"dst\\new\\sub"));            // no descent without '!'
    EXPECT_EQ(RunFile(folder / L"src\\c.log=>" + folder / L"dst\\"), 0u);
    EXPECT_EQ(test::ReadBytes(folder / L"dst\\c.log"), "C");
    EXPECT_EQ(RunFile(folder / L"src\\*.zip>" + folder / L"dst\\"), RESULT_NO_FILE);
    EXPECT_EQ(RunFile(folder / L"nowhere\\*>" + folder / L"dst\\"), RESULT_NO_FILE);
}

TEST(FileCopy, LastFileWinsOnPlainDestination)
{
    test::TempFolder folder;
    for (const wchar_t* name : {L"x1.dat", L"x2.dat", L"x3.dat"})
        test::WriteBytes(folder / name, test::Utf8(name));
    auto order = PlatformOrder(folder / L"x*.dat");
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(RunFile(folder / L"x*.dat>" + folder / L"one.dat"), 0u);
    EXPECT_EQ(test::ReadBytes(folder / L"one.dat"), test::Utf8(order.back()));
}

TEST(FileCopy, RecursiveRecreatesTreeWithCaseSensitiveFilter)
{
    test::TempFolder folder;
    for (const wchar_t* sub : {L"src", L"src\\sub", L"src\\sub\\deep", L"src\\.hidden", L"src\\empty"})
        CreateDirectoryW((folder / sub).c_str(), nullptr);
    for (const wchar_t* file : {L"src\\a.txt", L"src\\up.TXT", L"src\\z.txt", L"src\\sub\\c.txt",
                                L"src\\sub\\.dot.txt", L"src\\sub\\deep\\d.txt", L"src\\.hidden\\e.txt"})
        test::WriteBytes(folder / file, test::Utf8(file));
    RunFile(L"!" + folder / L"src\\*.txt>" + folder / L"dst\\");     // the last entry's result: order-dependent
    for (const wchar_t* file : {L"a.txt", L"z.txt", L"sub\\c.txt", L"sub\\.dot.txt", L"sub\\deep\\d.txt"})
        EXPECT_EQ(test::ReadBytes(folder / L"dst\\" + file), test::Utf8(std::wstring(L"src\\") + file)) << test::Utf8(file);
    EXPECT_FALSE(test::Exists(folder / L"dst\\up.TXT"));             // '!' filters by exact case
    EXPECT_FALSE(test::Exists(folder / L"dst\\.hidden"));            // folders beginning with '.' are skipped
    EXPECT_TRUE(test::Exists(folder / L"dst\\empty"));               // every other folder is recreated
    EXPECT_FALSE(test::Exists(folder / L"dst\\sub\\z.txt"));         // destination restored after a descent
}

// A copy into a folder inside its own source: the walk never enters the target, so the
// rest of the tree is copied once and nothing is copied into its own copies.
TEST(FileCopy, RecursiveCopyIntoItsOwnSourceCopiesOnce)
{
    test::TempFolder folder;
    CreateDirectoryW((folder / L"sub").c_str(), nullptr);
    test::WriteBytes(folder / L"sub\\f.txt", "F");
    test::WriteBytes(folder / L"top.txt", "T");
    RunFile(L"!" + folder.path() + L"\\*>" + folder / L"Backup\\");
    EXPECT_EQ(test::ReadBytes(folder / L"Backup\\sub\\f.txt"), "F");
    EXPECT_EQ(test::ReadBytes(folder / L"Backup\\top.txt"), "T");
    EXPECT_FALSE(test::Exists(folder / L"Backup\\Backup"));
    RunFile(L"!" + folder.path() + L"\\*>" + folder / L"sub\\..\\BACKUP\\");    // the same folder, written otherwise
    EXPECT_FALSE(test::Exists(folder / L"Backup\\Backup"));
    test::TestDrive drive(folder.path());
    ASSERT_NE(drive.letter, 0);
    RunFile(L"!" + drive.root() + L"*>" + folder / L"Backup\\");                 // the source through a drive letter
    EXPECT_FALSE(test::Exists(folder / L"Backup\\Backup"));
}

// A recursive copy to a destination without a final '\' writes every file to that one
// path, whether or not its folder was there before; only the folder is made.
TEST(FileCopy, RecursiveCopyToOneFileMakesOnlyItsFolder)
{
    for (bool folderThere : {false, true}) {
        test::TempFolder folder;
        CreateDirectoryW((folder / L"src").c_str(), nullptr);
        CreateDirectoryW((folder / L"src\\sub").c_str(), nullptr);
        test::WriteBytes(folder / L"src\\sub\\b.txt", "B");
        if (folderThere)
            CreateDirectoryW((folder / L"out").c_str(), nullptr);
        EXPECT_EQ(RunFile(L"!" + folder / L"src\\*.txt>" + folder / L"out\\all.txt"), 0u) << folderThere;
        EXPECT_EQ(test::ReadBytes(folder / L"out\\all.txt"), "B") << folderThere;
    }
}

// The names in 'folder' other than "." and "..", sorted.
std::vector<std::wstring> NamesIn(const test::TempFolder& folder)
{
    auto names = PlatformOrder(folder / L"*");
    names.erase(std::remove_if(names.begin(), names.end(), [](const std::wstring& n) { return n == L"." || n == L".."; }),
                names.end());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FileCopy, ReadOnlyDestinationIsOverwritten)
{
    test::TempFolder folder;
    test::WriteBytes(folder / L"new.txt", "new");
    test::WriteBytes(folder / L"old.txt", "old");
    SetFileAttributesW((folder / L"old.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(RunFile(folder / L"new.txt>" + folder / L"old.txt"), 0u);
    EXPECT_EQ(test::ReadBytes(folder / L"old.txt"), "new");
    EXPECT_FALSE(IsReadOnly(folder / L"old.txt"));
    EXPECT_EQ(NamesIn(folder), (std::vector<std::wstring>{L"new.txt", L"old.txt"}));
    SetFileAttributesW((folder / L"new.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(RunFile(folder / L"new.txt>" + folder / L"new.txt"), 0u);   // onto itself: left as it is
    EXPECT_EQ(test::ReadBytes(folder / L"new.txt"), "new");
    EXPECT_TRUE(IsReadOnly(folder / L"new.txt"));
}

// Stands in for the file reads: the first read of each copy arrives, the second fails.
int readsLeft = 0;

BOOL FailSecondRead(HANDLE file, void* buffer, DWORD wanted, DWORD* read, OVERLAPPED* overlapped)
{
    if (readsLeft-- > 0)
        return ReadFile(file, buffer, wanted, read, overlapped);
    SetLastError(ERROR_CRC);
    return FALSE;
}

// A copy that fails half way leaves an existing target as it was, read-only bit included,
// and no new or partial file behind.
TEST(FileCopy, FailedCopyKeepsTheOldTarget)
{
    test::TempFolder folder;
    test::WriteBytes(folder / L"src.bin", std::string(100000, 's'));
    test::WriteBytes(folder / L"old.bin", "old");
    SetFileAttributesW((folder / L"old.bin").c_str(), FILE_ATTRIBUTE_READONLY);
    DWORD replacing = 0, creating = 0;
    {
        test::OutwardCallsGuard guard;
        outwardCalls.readFile = FailSecondRead;
        readsLeft = 1;
        replacing = RunFile(folder / L"src.bin>" + folder / L"old.bin");
        readsLeft = 1;
        creating = RunFile(folder / L"src.bin>" + folder / L"new.bin");
    }
    EXPECT_EQ(replacing, static_cast<DWORD>(ERROR_CRC));
    EXPECT_EQ(creating, static_cast<DWORD>(ERROR_CRC));
    EXPECT_EQ(test::ReadBytes(folder / L"old.bin").size(), 3u);
    EXPECT_TRUE(IsReadOnly(folder / L"old.bin"));
    EXPECT_EQ(NamesIn(folder), (std::vector<std::wstring>{L"old.bin", L"src.bin"}));
}

// Stands in for the console's Stop: the first progress report inside a file stops the run.
DWORD StopAtProgress(void* context, ULONGLONG)
{
    ++*static_cast<int*>(context);
    return ERROR_CANCELLED;
}

// Stop inside a file ends the copy: that file is not left half written, no later file is
// copied, and the result says it was stopped.
TEST(FileCopy, StopEndsTheCopy)
{
    test::TempFolder folder;
    CreateDirectoryW((folder / L"src").c_str(), nullptr);
    for (const wchar_t* name : {L"src\\a.bin", L"src\\b.bin"})
        test::WriteBytes(folder / name, std::string(100000, 'x'));
    int reports = 0;
    ChangeObserver stop{nullptr, nullptr, StopAtProgress, &reports};
    const ChangeObserver* previous = SetChangeObserver(&stop);
    DWORD result = RunFile(folder / L"src\\*.bin>" + folder / L"dst\\");
    SetChangeObserver(previous);
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_EQ(reports, 1);
    EXPECT_TRUE(PlatformOrder(folder / L"dst\\*").size() <= 2u);      // "." and ".." at most
}

TEST(FileCopy, FailuresHaveCodes)
{
    test::TempFolder folder;
    test::WriteBytes(folder / L"a.txt", "A");
    CreateDirectoryW((folder / L"dir").c_str(), nullptr);
    EXPECT_EQ(RunFile(folder / L"a.txt>" + folder / L"dir"), static_cast<DWORD>(ERROR_ACCESS_DENIED));   // write fails
    std::wstring longFolder = folder / (std::wstring(200, L'd') + L"\\" + std::wstring(60, L'e') + L"\\");
    EXPECT_EQ(RunFile(folder / L"a.txt>" + longFolder), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    HANDLE locked = CreateFileW((folder / L"a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(RunFile(folder / L"a.txt>" + folder / L"b.txt"), static_cast<DWORD>(E_OUTOFMEMORY));   // unreadable source
    CloseHandle(locked);
}

} // namespace

namespace {

TEST(FileCopy, LargeFileArrivesWholeAndSelfCopyKeepsIt)
{
    test::TempFolder folder;
    std::string bytes;
    for (int i = 0; i < 300000; ++i)               // several copy chunks and a partial one
        bytes.push_back(static_cast<char>(i * 7 + i / 251));
    test::WriteBytes(folder / L"big.bin", bytes);
    EXPECT_EQ(RunFile(folder / L"big.bin>" + folder / L"copy.bin"), 0u);
    EXPECT_EQ(test::ReadBytes(folder / L"copy.bin"), bytes);
    test::WriteBytes(folder / L"copy.bin", std::string(400000, 'x'));   // a longer target is replaced whole
    EXPECT_EQ(RunFile(folder / L"big.bin>" + folder / L"copy.bin"), 0u);
    EXPECT_EQ(test::ReadBytes(folder / L"copy.bin"), bytes);
    EXPECT_EQ(RunFile(folder / L"big.bin>" + folder / L"big.bin"), 0u);   // onto itself: nothing lost
    EXPECT_EQ(test::ReadBytes(folder / L"big.bin"), bytes);
    EXPECT_EQ(RunFile(folder / L"*.bin>" + folder.path() + L"\\"), 0u);
    EXPECT_EQ(test::ReadBytes(folder / L"big.bin"), bytes);
}

} // namespace

namespace {

struct RequestCase {
    const wchar_t* argument;
    FileOperationKind kind;
    const wchar_t* operand;
    const wchar_t* end;         // the text at the request's end pointer
    bool flag;
    int line;
};
#define REQUEST_CASE(a, k, o, e, f) {a, FileOperationKind::k, o, e, f, __LINE__}

const RequestCase REQUEST_CASES[] = {
    REQUEST_CASE(L"C:\\new\\", CreatePath, L"C:\\new\\", L"\\", false),
    REQUEST_CASE(L"a.txt<=text", WriteAnsi, L"a.txt", L"text", true),
    REQUEST_CASE(L"a.txt{xtext", WriteUtf16, L"a.txt", L"text", false),     // any other mode overwrites
    REQUEST_CASE(L"a.txt<", WriteAnsi, L"a.txt", L"", false),
    REQUEST_CASE(L"keep.txt;x->", Delete, L"keep.txt", L"", false),
    REQUEST_CASE(L"!C:\\s\\*.txt=>D:\\copy\\", Copy, L"!C:\\s\\*.txt", L"D:\\copy\\", true),
    REQUEST_CASE(L"a-b.txt>c", Copy, L"a-b.txt", L"c", false),
};

TEST(FileRequest, ReadingCutsTheArgumentAndTouchesNoFile)
{
    for (const auto& c : REQUEST_CASES) {
        FileRequest request = ReadFileRequest(c.argument);
        EXPECT_EQ(request.kind, c.kind) << "case at line " << c.line;
        EXPECT_EQ(std::wstring(request.operand.start, request.operand.length), c.operand) << "case at line " << c.line;
        EXPECT_EQ(std::wstring(request.end), c.end) << "case at line " << c.line;
        EXPECT_EQ(request.flag, c.flag) << "case at line " << c.line;
    }
    test::TempFolder folder;
    std::wstring link = folder / L"menu\\a.lnk\x01target.exe";
    ShortcutRequest shortcut;
    char bytes[SHORTCUT_BYTES];
    DWORD count = 0;
    EXPECT_EQ(ReadShortcutRequest(link.c_str(), shortcut), 0u);
    EXPECT_EQ(ComposeShortcutFile(shortcut, bytes, count), 0u);
    EXPECT_EQ(std::string(bytes, count), "10#target.exe");
    EXPECT_EQ(std::wstring(shortcut.path.start, shortcut.path.length), folder / L"menu\\a.lnk");
    EXPECT_FALSE(test::Exists(folder / L"menu"));
}

} // namespace
