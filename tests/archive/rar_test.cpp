#include "archive/archive.h"
#include "base/changes.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <string>

namespace {

// Makes one of the stand-in libraries loadable as "UnRAR" for the life of the object,
// with its call log in the same temporary folder.
struct StandInLibrary {
    test::TempFolder folder;
    DLL_DIRECTORY_COOKIE cookie = nullptr;

    explicit StandInLibrary(const wchar_t* variant)
    {
        std::wstring built = test::ProgramFolder() + L"\\unrar_" + variant + L".dll";
        EXPECT_TRUE(CopyFileW(built.c_str(), (folder / L"UnRAR.dll").c_str(), FALSE));
        cookie = AddDllDirectory(folder.path().c_str());
        SetEnvironmentVariableW(L"VARNOLT_UNRAR_LOG", (folder / L"calls.log").c_str());
    }
    ~StandInLibrary()
    {
        SetEnvironmentVariableW(L"VARNOLT_UNRAR_LOG", nullptr);
        if (cookie)
            RemoveDllDirectory(cookie);
    }
    std::string Calls() const { return test::ReadBytes(folder / L"calls.log"); }
};

// A fixture of the stand-in's format, one "name|content" per entry.
std::wstring WriteRarFixture(const test::TempFolder& temp, const std::string& entries)
{
    std::wstring path = temp / L"fixture.rar";
    test::WriteBytes(path, "STANDIN-RAR\n" + entries);
    return path;
}

bool IsFolderEmpty(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    bool isEmpty = true;
    do {
        std::wstring name = found.cFileName;
        isEmpty = isEmpty && (name == L"." || name == L"..");
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return isEmpty;
}

TEST(ExtractRar, WithoutTheLibrary)
{
    test::TempFolder temp;
    std::wstring archive = WriteRarFixture(temp, "a.txt|alpha\n");
    std::wstring destination = temp / L"out";
    EXPECT_EQ(ExtractRar(archive.data(), destination.data()), static_cast<DWORD>(ERROR_DLL_NOT_FOUND));
    EXPECT_FALSE(test::Exists(destination));
}

TEST(ExtractRar, LibraryMissingAFunction)
{
    StandInLibrary library(L"partial");
    test::TempFolder temp;
    std::wstring archive = WriteRarFixture(temp, "a.txt|alpha\n");
    std::wstring destination = temp / L"out";
    EXPECT_EQ(ExtractRar(archive.data(), destination.data()), static_cast<DWORD>(E_NOINTERFACE));
    EXPECT_EQ(library.Calls(), "");    // nothing was opened
}

TEST(ExtractRar, ThreeEntriesReachTheEnd)
{
    StandInLibrary library(L"full");
    test::TempFolder temp;
    std::wstring archive = WriteRarFixture(temp, "a.txt|alpha\nsub/b.txt|beta\nc.txt|gamma\n");
    std::wstring destination = temp / L"out";
    EXPECT_EQ(ExtractRar(archive.data(), destination.data()), RAR_END_OF_ARCHIVE);
    EXPECT_EQ(test::ReadBytes(destination + L"\\a.txt"), "alpha");
    EXPECT_EQ(test::ReadBytes(destination + L"\\sub\\b.txt"), "beta");
    EXPECT_EQ(test::ReadBytes(destination + L"\\c.txt"), "gamma");
    std::string a = test::Utf8(archive), d = test::Utf8(destination);
    EXPECT_EQ(library.Calls(), "open|" + a + "|1|16384|no-narrow\n"
                               "header|a.txt|no-comment-buffer\nprocess|2|" + d + "|no-name|a.txt\n"
                               "header|sub/b.txt|no-comment-buffer\nprocess|2|" + d + "|no-name|sub/b.txt\n"
                               "header|c.txt|no-comment-buffer\nprocess|2|" + d + "|no-name|c.txt\n"
                               "header|end\nclose\n");
}

TEST(ExtractRar, FailingEntryStopsTheLoop)
{
    StandInLibrary library(L"full");
    test::TempFolder temp;
    std::wstring archive = WriteRarFixture(temp, "a.txt|alpha\n!bad|x\nc.txt|gamma\n");
    std::wstring destination = temp / L"out";
    EXPECT_EQ(ExtractRar(archive.data(), destination.data()), 12u);    // the library's bad-data code
    EXPECT_EQ(test::ReadBytes(destination + L"\\a.txt"), "alpha");
    EXPECT_FALSE(test::Exists(destination + L"\\c.txt"));
    EXPECT_NE(library.Calls().find("|!bad\nclose\n"), std::string::npos);
}

TEST(ExtractRar, OpenFailuresGiveTheOpenResult)
{
    StandInLibrary library(L"full");
    test::TempFolder temp;
    std::wstring archive = temp / L"not-a-rar.rar";
    std::wstring destination = temp / L"out";
    test::WriteBytes(archive, "something else\n");
    EXPECT_EQ(ExtractRar(archive.data(), destination.data()), 13u);    // bad archive
    EXPECT_EQ(library.Calls(), "open|" + test::Utf8(archive) + "|1|16384|no-narrow\n");
}

// A missing archive reads as compressed, so it is copied first: the library opens the empty
// "UNI" file made in the temporary folder, and that file is gone afterwards.
TEST(ExtractRar, MissingArchiveGoesThroughATemporaryCopy)
{
    StandInLibrary library(L"full");
    test::TempFolder temp;
    wchar_t savedTmp[MAX_PATH_CHARS] = L"";
    GetEnvironmentVariableW(L"TMP", savedTmp, MAX_PATH_CHARS);
    SetEnvironmentVariableW(L"TMP", temp.path().c_str());
    std::wstring archive = temp / L"missing.rar";
    std::wstring destination = temp / L"out";
    DWORD result = ExtractRar(archive.data(), destination.data());
    SetEnvironmentVariableW(L"TMP", savedTmp[0] ? savedTmp : nullptr);
    EXPECT_EQ(result, 13u);    // the empty copy is no archive
    std::string expected = "open|" + test::Utf8(temp.path()) + "\\UNI";
    EXPECT_EQ(library.Calls().substr(0, expected.size()), expected);
    EXPECT_TRUE(IsFolderEmpty(temp.path()));
}

TEST(ExtractRar, EmptyDestinationIsPassedEmpty)
{
    StandInLibrary library(L"full");
    test::TempFolder temp;
    std::wstring archive = WriteRarFixture(temp, "here.txt|h\n");
    wchar_t savedFolder[MAX_PATH_CHARS];
    GetCurrentDirectoryW(MAX_PATH_CHARS, savedFolder);
    SetCurrentDirectoryW(temp.path().c_str());
    wchar_t destination[1] = L"";
    DWORD result = ExtractRar(archive.data(), destination);
    SetCurrentDirectoryW(savedFolder);
    EXPECT_EQ(result, RAR_END_OF_ARCHIVE);
    EXPECT_NE(library.Calls().find("process|2||no-name|here.txt\n"), std::string::npos);
    EXPECT_EQ(test::ReadBytes(temp / L"here.txt"), "h");
}

TEST(ExtractRar, ThroughTheScriptLine)
{
    StandInLibrary library(L"full");
    test::TempFolder temp;
    std::wstring archive = WriteRarFixture(temp, "k.txt|keyword\n");
    EXPECT_EQ(test::Run(L"RARX " + archive + L"," + (temp / L"one")), RAR_END_OF_ARCHIVE);
    EXPECT_EQ(test::ReadBytes(temp / L"one\\k.txt"), "keyword");
}

// What the observer saw of the library's writes: each target as announced (" there" when
// it existed already), then "+result" after it.
struct LibraryWatch {
    std::wstring seen;
    DWORD answer = 0;
    DWORD progressAnswer = 0;
};

DWORD SeeBefore(void* context, const Change& change)
{
    auto& watch = *static_cast<LibraryWatch*>(context);
    watch.seen += std::wstring(change.path) + (test::Exists(change.path) ? L" there;" : L";");
    return watch.answer;
}

void SeeAfter(void* context, const Change&, DWORD result)
{
    static_cast<LibraryWatch*>(context)->seen += L"+" + std::to_wstring(result) + L";";
}

DWORD SeeProgress(void* context, ULONGLONG)
{
    return static_cast<LibraryWatch*>(context)->progressAnswer;
}

struct WatchCase {
    DWORD answer;
    DWORD progressAnswer;
    DWORD result;
    const wchar_t* seen;        // "$" stands for the destination
    bool isWritten;
    int line;
};
#define WATCH_CASE(a, p, r, s, w) {a, p, r, s, w, __LINE__}

const WatchCase WATCH_CASES[] = {
    WATCH_CASE(0, 0, RAR_END_OF_ARCHIVE, L"$\\a.txt;+0;$\\sub\\b.txt;+0;", true),
    WATCH_CASE(CHANGE_MADE_BY_OBSERVER, 0, RAR_END_OF_ARCHIVE, L"$\\a.txt;$\\sub\\b.txt;", false),  // skipped
    WATCH_CASE(ERROR_CANCELLED, 0, ERROR_CANCELLED, L"$\\a.txt;", false),                         // refused: the end
    WATCH_CASE(0, ERROR_CANCELLED, ERROR_CANCELLED, L"$\\a.txt;+21;", false),                      // Stop inside an entry
};

// Each target the library writes is announced before it is written, under the name the
// entry gives it below the destination; the observer's answer skips it, refuses it (which
// ends the extraction) or, through the library's progress, stops it inside the entry.
TEST(ExtractRar, EachTargetIsAnnouncedBeforeItIsWritten)
{
    for (const auto& c : WATCH_CASES) {
        StandInLibrary library(L"full");
        test::TempFolder temp;
        std::wstring archive = WriteRarFixture(temp, "a.txt|alpha\nsub/b.txt|beta\n");
        std::wstring destination = temp / L"out";
        LibraryWatch watch;
        watch.answer = c.answer;
        watch.progressAnswer = c.progressAnswer;
        ChangeObserver observer{SeeBefore, SeeAfter, SeeProgress, &watch};
        const ChangeObserver* previous = SetChangeObserver(&observer);
        DWORD result = ExtractRar(archive.data(), destination.data());
        SetChangeObserver(previous);
        std::wstring seen = c.seen;
        for (size_t at = seen.find(L'$'); at != std::wstring::npos; at = seen.find(L'$'))
            seen.replace(at, 1, destination);
        EXPECT_EQ(result, c.result) << "case at line " << c.line;
        EXPECT_EQ(watch.seen, seen) << "case at line " << c.line;
        EXPECT_EQ(test::Exists(destination + L"\\a.txt"), c.isWritten) << "case at line " << c.line;
    }
}

} // namespace
