#include "archive/archive.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <zlib.h>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr size_t BLOCK = 512;

std::string Pad(std::string bytes)
{
    bytes.resize((bytes.size() + BLOCK - 1) / BLOCK * BLOCK, '\0');
    return bytes;
}

std::string OctalSize(size_t size)
{
    char field[13];
    snprintf(field, sizeof field, "%011o", static_cast<unsigned>(size));
    return std::string(field, 12);
}

// A header block: the name field takes at most 100 bytes, the size field is written as given.
std::string Header(const std::string& name, const std::string& sizeField, char type)
{
    std::string block(BLOCK, '\0');
    block.replace(0, name.size() < 100 ? name.size() : 100, name.substr(0, 100));
    block.replace(124, sizeField.size(), sizeField);
    block[156] = type;
    return block;
}

std::string Entry(const std::string& name, const std::string& content, char type = '0')
{
    return Header(name, OctalSize(content.size()), type) + Pad(content);
}

std::string LongName(const std::string& name, char type = 'L')
{
    return Entry("././@LongLink", name + '\0', type);
}

const std::string END_BLOCKS(2 * BLOCK, '\0');
const std::string GHOST = Entry("ghost.txt", "must not appear");    // data that look like an entry

struct TarCase {
    std::string archive;
    std::vector<std::pair<std::wstring, std::string>> files;    // path under the destination, content
    std::vector<std::wstring> absent;                            // paths under the temporary folder
    int line;
};
#define TAR_CASE(archive, files, absent) {archive, files, absent, __LINE__}
using Files = std::vector<std::pair<std::wstring, std::string>>;
using Paths = std::vector<std::wstring>;

const std::string NAME_100(100, 'n');
const std::string LONG_PATH = "deep/" + std::string(150, 'p');
const std::string NAME_TOO_LONG_FOR_PATH(300, 'q');

const TarCase TAR_CASES[] = {
    TAR_CASE(Entry(NAME_100, "whole field") + END_BLOCKS,
             (Files{{std::wstring(100, L'n'), "whole field"}}), Paths{}),
    TAR_CASE(LongName(LONG_PATH) + Entry("short", "long named") + END_BLOCKS,
             (Files{{L"deep\\" + std::wstring(150, L'p'), "long named"}}), (Paths{L"out\\short"})),
    TAR_CASE(LongName("k/name", 'K') + Entry("short", "by K"),
             (Files{{L"k\\name", "by K"}}), Paths{}),
    TAR_CASE(Entry("first.txt", "kept") + Header("././@LongLink", OctalSize(512), 'L') + Pad("x") +
                 Entry("after.txt", "never"),
             (Files{{L"first.txt", "kept"}}), (Paths{L"out\\after.txt", L"out\\x"})),
    TAR_CASE(Entry("first.txt", "kept") + Header("././@LongLink", OctalSize(511), 'L') +
                 std::string(BLOCK, 'a') + Entry("after.txt", "never"),
             (Files{{L"first.txt", "kept"}}), (Paths{L"out\\after.txt"})),
    TAR_CASE(Entry("first.txt", "kept") + Header("././@LongLink", OctalSize(3), 'L') + Pad("abcdef") +
                 Entry("after.txt", "never"),
             (Files{{L"first.txt", "kept"}}), (Paths{L"out\\after.txt", L"out\\abcdef"})),
    TAR_CASE(Entry("first.txt", "kept") + Header("bad.txt", "00000000008", '0') + Pad("data") +
                 Entry("after.txt", "never"),
             (Files{{L"first.txt", "kept"}}), (Paths{L"out\\bad.txt", L"out\\after.txt"})),
    TAR_CASE(Header("bad.txt", "9", '0') + Pad("data"), Files{}, (Paths{L"out\\bad.txt"})),
    TAR_CASE(Header("spaced.txt", std::string("    00000005", 12), '0') + Pad("12345") +
                 Header("trailing.txt", std::string("0000000003 \0", 12), '0') + Pad("abc"),
             (Files{{L"spaced.txt", "12345"}, {L"trailing.txt", "abc"}}), Paths{}),
    TAR_CASE(Entry("cut.bin", std::string(600, 'c') + std::string(400, 'd')).substr(0, 2 * BLOCK + 188),
             (Files{{L"cut.bin", std::string(BLOCK, 'c')}}), Paths{}),
    TAR_CASE(Entry("one.txt", "1") + Entry("two.txt", "2"),
             (Files{{L"one.txt", "1"}, {L"two.txt", "2"}}), Paths{}),
    TAR_CASE(Entry("../escape.txt", GHOST) + Entry("/abs.txt", GHOST) + Entry("C:drive.txt", GHOST) +
                 Entry("a/../../up.txt", GHOST) + Entry("a/.../dots.txt", GHOST) + Entry("../escaped", "", '5') +
                 Entry("safe.txt", "safe") + END_BLOCKS,
             (Files{{L"safe.txt", "safe"}}),
             (Paths{L"escape.txt", L"out\\abs.txt", L"out\\drive.txt", L"up.txt", L"out\\a", L"escaped",
                    L"out\\ghost.txt"})),
    TAR_CASE(Entry("empty.dat", "") + Entry("zeros.bin", std::string(2 * BLOCK, '\0')) + Entry("last.txt", "z"),
             (Files{{L"empty.dat", ""}, {L"zeros.bin", std::string(2 * BLOCK, '\0')}, {L"last.txt", "z"}}), Paths{}),
    TAR_CASE(Entry("dir/", "", '5') + Entry("dir/in.txt", "in") + Entry("x/y/z.txt", "z"),
             (Files{{L"dir\\in.txt", "in"}, {L"x\\y\\z.txt", "z"}}), Paths{}),
    TAR_CASE(Entry("PaxHeaders/x", GHOST + "more", 'x') + Entry("link", "", '2') + Entry("real.txt", "real"),
             (Files{{L"real.txt", "real"}}), (Paths{L"out\\ghost.txt", L"out\\link", L"out\\PaxHeaders"})),
    TAR_CASE(LongName(NAME_TOO_LONG_FOR_PATH) + Entry("short", GHOST) + Entry("next.txt", "next"),
             (Files{{L"next.txt", "next"}}), (Paths{L"out\\short", L"out\\ghost.txt"})),
    TAR_CASE(Header("././@LongLink", OctalSize(0), 'L') + std::string(BLOCK, '\0') + Entry("plain.txt", "p"),
             (Files{{L"plain.txt", "p"}}), Paths{}),     // an empty long name still has its block
    TAR_CASE(Entry("sub/nul.txt", GHOST) + Entry("next.txt", "next"),
             (Files{{L"next.txt", "next"}}), (Paths{L"out\\sub", L"out\\ghost.txt"})),
    TAR_CASE(Entry("whole.txt", "w") + Header("partial.txt", OctalSize(0), '0').substr(0, 300),
             (Files{{L"whole.txt", "w"}}), (Paths{L"out\\partial.txt"})),
};

TEST(ExtractTarGz, HandCraftedArchives)
{
    for (const auto& c : TAR_CASES) {
        test::TempFolder temp;
        test::WriteBytes(temp / L"case.tar", c.archive);
        std::wstring archive = temp / L"case.tar";
        std::wstring destination = temp / L"out";
        EXPECT_EQ(ExtractTarGz(archive.data(), destination.data()), 0u) << "case at line " << c.line;
        for (const auto& [path, content] : c.files) {
            EXPECT_TRUE(test::Exists(destination + L"\\" + path)) << "case at line " << c.line;
            EXPECT_EQ(test::ReadBytes(destination + L"\\" + path), content) << "case at line " << c.line;
        }
        for (const auto& path : c.absent)
            EXPECT_FALSE(test::Exists(temp / path)) << test::Utf8(path) << ", case at line " << c.line;
    }
}

// Compares every file and folder under 'original' with its copy under 'copy'.
void ExpectSameTree(const std::wstring& original, const std::wstring& copy, const std::wstring& skip, int line)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((original + L"\\*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << "case at line " << line;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L".." || name == skip)
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            EXPECT_TRUE(test::Exists(copy + L"\\" + name)) << test::Utf8(name) << ", case at line " << line;
            ExpectSameTree(original + L"\\" + name, copy + L"\\" + name, skip, line);
        } else {
            EXPECT_TRUE(test::ReadBytes(original + L"\\" + name) == test::ReadBytes(copy + L"\\" + name))
                << test::Utf8(name) << ", case at line " << line;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

struct FixtureCase {
    const wchar_t* archive;
    const wchar_t* skippedFolder;    // a long path the format keeps where this reader does not look
    int line;
};
#define FIXTURE_CASE(a, s) {a, s, __LINE__}

const FixtureCase FIXTURE_CASES[] = {
    FIXTURE_CASE(L"gnu.tar", L""),           // plain tar goes through zlib unchanged
    FIXTURE_CASE(L"gnu.tgz", L""),
    FIXTURE_CASE(L"default.tar.gz", L""),
    FIXTURE_CASE(L"pax.tgz", L"a_folder_name_long_enough_that_the_whole_entry_path_needs_a_gnu_long_name"),
};

TEST(ExtractTarGz, ArchivesMadeByGnuTar)
{
    std::wstring fixtures = test::ProgramFolder() + L"\\archive-fixtures";
    for (const auto& c : FIXTURE_CASES) {
        test::TempFolder temp;
        std::wstring archive = fixtures + L"\\" + c.archive;
        std::wstring destination = temp / L"out";
        ASSERT_EQ(ExtractTarGz(archive.data(), destination.data()), 0u) << "case at line " << c.line;
        ExpectSameTree(fixtures + L"\\src", destination, c.skippedFolder, c.line);
        EXPECT_TRUE(test::Exists(destination + L"\\tree\\emptydir")) << "case at line " << c.line;
    }
}

TEST(ExtractTarGz, OverwritesAndAcceptsTrailingBackslash)
{
    test::TempFolder temp;
    test::WriteBytes(temp / L"a.tar", Entry("same.txt", "new") + END_BLOCKS);
    test::WriteBytes(temp / L"same.txt", "older and longer");
    std::wstring archive = temp / L"a.tar";
    std::wstring destination = temp.path() + L"\\";
    EXPECT_EQ(ExtractTarGz(archive.data(), destination.data()), 0u);
    EXPECT_EQ(test::ReadBytes(temp / L"same.txt"), "new");
}

TEST(ExtractTarGz, MissingArchiveCannotBeOpened)
{
    test::TempFolder temp;
    std::wstring archive = temp / L"none.tgz";
    std::wstring destination = temp / L"out";
    EXPECT_EQ(ExtractTarGz(archive.data(), destination.data()), TAR_CANNOT_OPEN);
    EXPECT_FALSE(test::Exists(destination));
}

// Writes 'tar' gzip-compressed and spoils the stream's check value, so zlib reports an
// error when it reaches the end of the data.
void WriteGzipWithBadCheck(const std::wstring& path, const std::string& tar)
{
    gzFile file = gzopen_w(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(gzwrite(file, tar.data(), static_cast<unsigned>(tar.size())), static_cast<int>(tar.size()));
    gzclose(file);
    std::string bytes = test::ReadBytes(path);
    bytes[bytes.size() - 8] ^= 0x55;
    test::WriteBytes(path, bytes);
}

TEST(ExtractTarGz, ReadErrorsGiveTheirCodes)
{
    test::TempFolder temp;
    std::wstring archive = temp / L"bad.tgz";
    std::wstring destination = temp / L"out";
    WriteGzipWithBadCheck(archive, Entry("a.txt", "a") + END_BLOCKS);
    EXPECT_EQ(ExtractTarGz(archive.data(), destination.data()), TAR_READ_FAILED);

    // zlib inflates twice its buffer size per refill: the long-name header ends that first
    // window, so reading its name block is the read that meets the bad check value.
    size_t window = 2 * TAR_GZIP_BUFFER_BYTES;
    std::string filler = Entry("filler.bin", std::string(window - 2 * BLOCK, 'f'));
    WriteGzipWithBadCheck(archive, filler + LongName("long/name.txt") + Entry("x", "x") + END_BLOCKS);
    EXPECT_EQ(ExtractTarGz(archive.data(), destination.data()), TAR_LONG_NAME_READ_FAILED);
    EXPECT_EQ(test::ReadBytes(destination + L"\\filler.bin").size(), window - 2 * BLOCK);
}

TEST(ExtractTarGz, ThroughTheScriptLine)
{
    test::TempFolder temp;
    std::wstring archive = temp / L"script.tgz";
    gzFile file = gzopen_w(archive.c_str(), "wb");
    std::string tar = Entry("by/keyword.txt", "k") + END_BLOCKS;
    gzwrite(file, tar.data(), static_cast<unsigned>(tar.size()));
    gzclose(file);
    EXPECT_EQ(test::Run(L"TGZX " + archive + L"," + (temp / L"one")), 0u);
    EXPECT_EQ(test::ReadBytes(temp / L"one\\by\\keyword.txt"), "k");
    EXPECT_EQ(test::Run(L"TGZX " + (temp / L"none.tgz") + L"," + (temp / L"three")), TAR_CANNOT_OPEN);
}

struct OctalCase {
    const char* field;    // 12 bytes
    DWORD expected;
    int line;
};
#define OCTAL_CASE(f, e) {f, e, __LINE__}

const OctalCase OCTAL_CASES[] = {
    OCTAL_CASE("00000000644\0", 0644),
    OCTAL_CASE("   644      ", 0644),             // spaces anywhere are skipped
    OCTAL_CASE("6 4 4\0" "99999\0", 0644),        // a zero byte ends the number
    OCTAL_CASE("            ", 0),
    OCTAL_CASE("\0" "7777777777\0", 0),
    OCTAL_CASE("00000000648\0", TAR_INVALID_NUMBER),
    OCTAL_CASE("0000000009 \0", TAR_INVALID_NUMBER),
    OCTAL_CASE("-0000000001\0", TAR_INVALID_NUMBER),
    OCTAL_CASE("37777777776\0", 0xFFFFFFFE),
    OCTAL_CASE("40000000000\0", TAR_INVALID_NUMBER),  // beyond 32 bits
    OCTAL_CASE("\x80\0\0\0\0\0\0\0\0\0\x10\0", TAR_INVALID_NUMBER),    // base-256 form
};

TEST(ParseOctalField, Table)
{
    for (const auto& c : OCTAL_CASES)
        EXPECT_EQ(ParseOctalField(reinterpret_cast<const unsigned char*>(c.field), 12), c.expected)
            << "case at line " << c.line;
}

struct PathCase {
    const wchar_t* destination;
    const wchar_t* name;
    bool isFolder;
    DWORD result;
    const wchar_t* path;
    int line;
};
#define PATH_CASE(d, n, f, r, p) {d, n, f, r, p, __LINE__}

const std::wstring LONG_DESTINATION = L"C:\\" + std::wstring(250, L'd');

const PathCase PATH_CASES[] = {
    PATH_CASE(L"C:\\out", L"a\\b.txt", false, ERROR_SUCCESS, L"C:\\out\\a\\b.txt"),
    PATH_CASE(L"C:\\out", L"a\\b", true, ERROR_SUCCESS, L"C:\\out\\a\\b\\"),
    PATH_CASE(L"", L"a.txt", false, ERROR_SUCCESS, L"\\a.txt"),            // the root folder
    PATH_CASE(L"C:\\out\\", L"a.txt", false, ERROR_SUCCESS, L"C:\\out\\\\a.txt"),
    PATH_CASE(L"C:\\out", L"..\\a.txt", false, ERROR_INVALID_NAME, nullptr),
    PATH_CASE(L"C:\\out", L"a\\..", true, ERROR_INVALID_NAME, nullptr),
    PATH_CASE(L"C:\\out", L"a\\.. \\b", false, ERROR_INVALID_NAME, nullptr),
    PATH_CASE(L"", L"\\server\\share\\a", false, ERROR_INVALID_NAME, nullptr),
    PATH_CASE(L"C:\\out", L"D:a.txt", false, ERROR_INVALID_NAME, nullptr),
    PATH_CASE(L"C:\\out", L"..a\\b..\\.\\c", false, ERROR_SUCCESS, L"C:\\out\\..a\\b..\\.\\c"),
    PATH_CASE(L"C:\\out", L"COM1", false, ERROR_INVALID_NAME, nullptr),              // a port, not a file
    PATH_CASE(L"C:\\out", L"sub\\nul.txt", false, ERROR_INVALID_NAME, nullptr),
    PATH_CASE(L"C:\\out", L"con \\a.txt", false, ERROR_INVALID_NAME, nullptr),
    PATH_CASE(L"C:\\out", L"Lpt9.log.gz", false, ERROR_INVALID_NAME, nullptr),
    PATH_CASE(L"C:\\out", L"aux", true, ERROR_INVALID_NAME, nullptr),
    PATH_CASE(L"C:\\out", L"prn\\..x", false, ERROR_INVALID_NAME, nullptr),
    PATH_CASE(L"C:\\out", L"COM\x00B9", false, ERROR_INVALID_NAME, nullptr),
    PATH_CASE(L"C:\\out", L"console\\com0\\nul2\\a.con\\LPT10\\com", false, ERROR_SUCCESS,
              L"C:\\out\\console\\com0\\nul2\\a.con\\LPT10\\com"),                // only exact device names
    PATH_CASE(LONG_DESTINATION.c_str(), L"12345", false, ERROR_SUCCESS, nullptr),     // 259 units
    PATH_CASE(LONG_DESTINATION.c_str(), L"12345", true, ERROR_FILENAME_EXCED_RANGE, nullptr),
};

TEST(BuildEntryPath, Table)
{
    for (const auto& c : PATH_CASES) {
        wchar_t path[MAX_PATH_CHARS];
        EXPECT_EQ(BuildEntryPath(path, c.destination, c.name, c.isFolder), c.result) << "case at line " << c.line;
        if (c.path && c.result == ERROR_SUCCESS) {
            EXPECT_STREQ(path, c.path) << "case at line " << c.line;
        }
    }
}

} // namespace
