#include "archive/archive.h"
#include "base/changes.h"
#include "support/outward_calls_guard.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <zlib.h>
#include <algorithm>
#include <set>
#include <sstream>
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
    snprintf(field, sizeof field, "%011llo", static_cast<unsigned long long>(size));
    return std::string(field, 12);
}

// A header block: the name field takes at most 100 bytes, the size field is written as given.
std::string Header(const std::string& name, const std::string& sizeField, char type, const std::string& link = "")
{
    std::string block(BLOCK, '\0');
    block.replace(0, name.size() < 100 ? name.size() : 100, name.substr(0, 100));
    block.replace(124, sizeField.size(), sizeField);
    block[156] = type;
    block.replace(157, link.size(), link);
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

// A file whose header carries 'magic' (8 bytes) and 'prefix' in the ustar prefix field.
std::string PrefixedEntry(const std::string& prefix, const std::string& name, const std::string& content,
                          const std::string& magic)
{
    std::string header = Header(name, OctalSize(content.size()), '0');
    header.replace(257, 8, magic);
    header.replace(345, prefix.size(), prefix);
    return header + Pad(content);
}
const std::string USTAR("ustar\0" "00", 8);
const std::string GNU_MAGIC("ustar  \0", 8);

std::string PaxRecord(const std::string& keyword, const std::string& value)
{
    std::string body = " " + keyword + "=" + value + "\n";
    size_t length = body.size() + 1;
    while (std::to_string(length).size() + body.size() != length)
        ++length;
    return std::to_string(length) + body;
}

std::string Pax(const std::string& records, char type = 'x')
{
    return Entry("PaxHeaders/x", records, type);
}

// A pax sparse 1.0 entry: the map heads the data, the real name is a record.
std::string PaxSparse(const std::string& name, const std::string& map, const std::string& data, size_t realSize)
{
    return Pax(PaxRecord("GNU.sparse.major", "1") + PaxRecord("GNU.sparse.minor", "0") +
               PaxRecord("GNU.sparse.name", name) + PaxRecord("GNU.sparse.realsize", std::to_string(realSize))) +
           Entry("GNUSparseFile.0/" + name, Pad(map) + data);
}

std::wstring AnsiName(const std::string& bytes)
{
    wchar_t name[MAX_PATH_CHARS] = {};
    MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), -1, name, MAX_PATH_CHARS);
    return name;
}

const std::string END_BLOCKS(2 * BLOCK, '\0');
const std::string GHOST = Entry("ghost.txt", "must not appear");    // data that look like an entry

struct TarCase {
    std::string archive;
    DWORD result;
    std::vector<std::pair<std::wstring, std::string>> files;    // path under the destination, content
    std::vector<std::wstring> absent;                            // paths under the temporary folder
    int line;
};
#define TAR_CASE(archive, result, files, absent) {archive, result, files, absent, __LINE__}
using Files = std::vector<std::pair<std::wstring, std::string>>;
using Paths = std::vector<std::wstring>;

const std::string NAME_100(100, 'n');
const std::string LONG_PATH = "deep/" + std::string(150, 'p');
const std::string NAME_TOO_LONG_FOR_PATH(300, 'q');

const TarCase TAR_CASES[] = {
    TAR_CASE(Entry(NAME_100, "whole field") + END_BLOCKS, ERROR_SUCCESS,
             (Files{{std::wstring(100, L'n'), "whole field"}}), Paths{}),
    TAR_CASE(LongName(LONG_PATH) + Entry("short", "long named") + END_BLOCKS, ERROR_SUCCESS,
             (Files{{L"deep\\" + std::wstring(150, L'p'), "long named"}}), (Paths{L"out\\short"})),
    TAR_CASE(LongName("k/name", 'K') + Entry("short", "by K"), ERROR_SUCCESS,
             (Files{{L"k\\name", "by K"}}), Paths{}),
    TAR_CASE(Entry("first.txt", "kept") + Header("././@LongLink", OctalSize(512), 'L') + Pad("x") +
                 Entry("after.txt", "skipped") + Entry("later.txt", "later"),
             ERROR_FILENAME_EXCED_RANGE, (Files{{L"first.txt", "kept"}, {L"later.txt", "later"}}),
             (Paths{L"out\\after.txt", L"out\\x"})),
    TAR_CASE(Entry("first.txt", "kept") + Header("././@LongLink", OctalSize(511), 'L') +
                 std::string(BLOCK, 'a') + Entry("after.txt", "skipped") + Entry("later.txt", "later"),
             TAR_DAMAGED_HEADER, (Files{{L"first.txt", "kept"}, {L"later.txt", "later"}}), (Paths{L"out\\after.txt"})),
    TAR_CASE(Entry("first.txt", "kept") + Header("././@LongLink", OctalSize(3), 'L') + Pad("abcdef") +
                 Entry("after.txt", "skipped"),
             TAR_DAMAGED_HEADER, (Files{{L"first.txt", "kept"}}), (Paths{L"out\\after.txt", L"out\\abcdef"})),
    TAR_CASE(Entry("first.txt", "kept") + Header("bad.txt", "00000000008", '0') + Pad("data") +
                 Entry("after.txt", "never"),
             TAR_INVALID_SIZE, (Files{{L"first.txt", "kept"}}), (Paths{L"out\\bad.txt", L"out\\after.txt"})),
    TAR_CASE(Header("bad.txt", "9", '0') + Pad("data"), TAR_INVALID_SIZE, Files{}, (Paths{L"out\\bad.txt"})),
    TAR_CASE(Header("dev", "9", '3') + Entry("never.txt", "n"), TAR_INVALID_SIZE, Files{}, (Paths{L"out\\never.txt"})),
    TAR_CASE(Header("spaced.txt", std::string("    00000005", 12), '0') + Pad("12345") +
                 Header("trailing.txt", std::string("0000000003 \0", 12), '0') + Pad("abc"),
             ERROR_SUCCESS, (Files{{L"spaced.txt", "12345"}, {L"trailing.txt", "abc"}}), Paths{}),
    TAR_CASE(Header("big256.txt", std::string("\x80\0\0\0\0\0\0\0\0\0\0\x05", 12), '0') + Pad("12345") +
                 Entry("next.txt", "n"),
             ERROR_SUCCESS, (Files{{L"big256.txt", "12345"}, {L"next.txt", "n"}}), Paths{}),
    TAR_CASE(Entry("cut.bin", std::string(600, 'c') + std::string(400, 'd')).substr(0, 2 * BLOCK + 188),
             TAR_TRUNCATED, (Files{{L"cut.bin", std::string(BLOCK, 'c')}}), Paths{}),
    TAR_CASE(Entry("one.txt", "1") + Entry("two.txt", "2"), ERROR_SUCCESS,
             (Files{{L"one.txt", "1"}, {L"two.txt", "2"}}), Paths{}),
    TAR_CASE(Entry("contig.bin", "contiguous", '7') + Entry("inc/", GHOST, 'D') + Entry("next.txt", "n"),
             ERROR_SUCCESS, (Files{{L"contig.bin", "contiguous"}, {L"inc", ""}, {L"next.txt", "n"}}), Paths{}),
    TAR_CASE(Entry("system-systemd\\x2dcryptsetup.slice", GHOST) + Entry("safe.txt", "safe"), ERROR_INVALID_NAME,
             (Files{{L"safe.txt", "safe"}}), (Paths{L"out\\system-systemd"})),
    TAR_CASE(Entry("../escape.txt", GHOST) + Entry("/abs.txt", GHOST) + Entry("C:drive.txt", GHOST) +
                 Entry("a/../../up.txt", GHOST) + Entry("a/.../dots.txt", GHOST) + Entry("../escaped", "", '5') +
                 Entry("safe.txt", "safe") + END_BLOCKS,
             ERROR_INVALID_NAME, (Files{{L"safe.txt", "safe"}}),
             (Paths{L"escape.txt", L"out\\abs.txt", L"out\\drive.txt", L"up.txt", L"out\\a", L"escaped",
                    L"out\\ghost.txt"})),
    TAR_CASE(Entry("empty.dat", "") + Entry("zeros.bin", std::string(2 * BLOCK, '\0')) + Entry("last.txt", "z"),
             ERROR_SUCCESS, (Files{{L"empty.dat", ""}, {L"zeros.bin", std::string(2 * BLOCK, '\0')}, {L"last.txt", "z"}}),
             Paths{}),
    TAR_CASE(Entry("dir/", "", '5') + Entry("dir/in.txt", "in") + Entry("x/y/z.txt", "z") + Entry("old/", ""),
             ERROR_SUCCESS, (Files{{L"dir\\in.txt", "in"}, {L"x\\y\\z.txt", "z"}, {L"old", ""}}), Paths{}),
    TAR_CASE(Entry("PaxHeaders/x", GHOST + "more", 'x') + Entry("link", "", '2') + Entry("real.txt", "real"),
             TAR_DAMAGED_HEADER, (Files{{L"real.txt", "real"}}),
             (Paths{L"out\\ghost.txt", L"out\\link", L"out\\PaxHeaders"})),
    TAR_CASE(LongName(NAME_TOO_LONG_FOR_PATH) + Entry("short", GHOST) + Entry("next.txt", "next"),
             ERROR_FILENAME_EXCED_RANGE, (Files{{L"next.txt", "next"}}), (Paths{L"out\\short", L"out\\ghost.txt"})),
    TAR_CASE(Header("././@LongLink", OctalSize(0), 'L') + std::string(BLOCK, '\0') + Entry("plain.txt", "p"),
             ERROR_SUCCESS, (Files{{L"plain.txt", "p"}}), Paths{}),     // an empty long name still has its block
    TAR_CASE(Entry("sub/nul.txt", GHOST) + Entry("next.txt", "next"), ERROR_INVALID_NAME,
             (Files{{L"next.txt", "next"}}), (Paths{L"out\\sub", L"out\\ghost.txt"})),
    TAR_CASE(Entry("whole.txt", "w") + Header("partial.txt", OctalSize(0), '0').substr(0, 300), TAR_TRUNCATED,
             (Files{{L"whole.txt", "w"}}), (Paths{L"out\\partial.txt"})),
    TAR_CASE(Entry("whole.txt", "w") + LongName("named/later.txt"), TAR_TRUNCATED, (Files{{L"whole.txt", "w"}}), Paths{}),
    // names: the ustar prefix (not in GNU headers, whose bytes there mean something else), UTF-8, ANSI
    TAR_CASE(PrefixedEntry("pre/fix", "name.txt", "u", USTAR) + PrefixedEntry("junk", "gnu.txt", "g", GNU_MAGIC) +
                 Entry("caf\xC3\xA9 \xE4\xB8\xAD.txt", "utf8") + Entry("ansi\xE9.txt", "ansi"),
             ERROR_SUCCESS,
             (Files{{L"pre\\fix\\name.txt", "u"}, {L"gnu.txt", "g"}, {L"caf\x00E9 \x4E2D.txt", "utf8"},
                    {AnsiName("ansi\xE9.txt"), "ansi"}}),
             (Paths{L"out\\name.txt", L"out\\junk"})),
    // pax: path= for the next entry only, a global path= for every later one, size=, a name over the limit
    TAR_CASE(Pax(PaxRecord("comment", std::string(600, 'c')) + PaxRecord("path", "p\xC3\xA4x/long.txt")) +
                 Entry("p?x/long.txt", "pax") + Entry("plain.txt", "plain") +
                 Pax(PaxRecord("size", "5")) + Header("sized.txt", OctalSize(0), '0') + Pad("12345") +
                 Pax(PaxRecord("path", "global.txt"), 'g') + Entry("one.txt", "1") + Entry("two.txt", "2"),
             ERROR_SUCCESS, (Files{{L"p\x00E4x\\long.txt", "pax"}, {L"plain.txt", "plain"}, {L"sized.txt", "12345"},
                                   {L"global.txt", "2"}}),
             (Paths{L"out\\p?x", L"out\\one.txt", L"out\\two.txt"})),
    TAR_CASE(Pax(PaxRecord("path", std::string(800, 'v'))) + Entry("short.txt", "s") + Entry("next.txt", "n"),
             ERROR_FILENAME_EXCED_RANGE, (Files{{L"next.txt", "n"}}), (Paths{L"out\\short.txt"})),
    TAR_CASE(Pax("12 path=a.txt\n") + Entry("b.txt", "b") + Entry("c.txt", "c"), TAR_DAMAGED_HEADER,
             (Files{{L"c.txt", "c"}}), (Paths{L"out\\a.txt", L"out\\b.txt"})),
    // hard links: made to a file of this run only; the same name twice is no collision
    TAR_CASE(Entry("dir/target.txt", "shared") + LongName("dir/target.txt", 'K') + Header("link.txt", OctalSize(0), '1') +
                 Header("self.txt", OctalSize(0), '1', "dir/target.txt") + Header("dir/target.txt", OctalSize(0), '1', "dir/target.txt") +
                 Entry("twice.txt", "first") + Entry("twice.txt", "second"),
             ERROR_SUCCESS,
             (Files{{L"dir\\target.txt", "shared"}, {L"link.txt", "shared"}, {L"self.txt", "shared"},
                    {L"twice.txt", "second"}}),
             Paths{}),
    TAR_CASE(Entry("a.txt", "old") + Header("b.txt", OctalSize(0), '1', "a.txt") + Entry("a.txt", "new"), ERROR_SUCCESS,
             (Files{{L"a.txt", "new"}, {L"b.txt", "old"}}), Paths{}),     // the link keeps what it linked to
    TAR_CASE(Entry("./dir/file", "d") + Header("lnk", OctalSize(0), '1', "./dir/./file") + Entry("dir/file", "e") +
                 Header("dir/lnk", OctalSize(0), '1', "dir/file"),
             ERROR_SUCCESS, (Files{{L"dir\\file", "e"}, {L"lnk", "d"}, {L"dir\\lnk", "e"}}), Paths{}),
    // a link whose name Windows resolves to its own target is no new file, and is reported
    TAR_CASE(Entry("f.txt", "f") + Header("f.txt.", OctalSize(0), '1', "f.txt") + Entry("g.txt", "g") +
                 Header("g.txt ", OctalSize(0), '1', "g.txt") + Entry("d/x.txt", "x") +
                 Header("d./x.txt", OctalSize(0), '1', "d/x.txt"),
             TAR_NAME_COLLISION, (Files{{L"f.txt", "f"}, {L"g.txt", "g"}, {L"d\\x.txt", "x"}}), Paths{}),
    TAR_CASE(Header("missing.txt", OctalSize(0), '1', "nowhere.txt") + Entry("next.txt", "n"), TAR_LINK_TARGET_MISSING,
             (Files{{L"next.txt", "n"}}), (Paths{L"out\\missing.txt"})),
    TAR_CASE(Entry("a.txt", "a") + Header("up.txt", OctalSize(0), '1', "../case.tar"), ERROR_INVALID_NAME,
             (Files{{L"a.txt", "a"}}), (Paths{L"out\\up.txt"})),
    TAR_CASE(Entry("Twin.h", "upper") + Entry("twin.h", "lower") + Entry("next.txt", "n"), TAR_NAME_COLLISION,
             (Files{{L"twin.h", "lower"}, {L"next.txt", "n"}}), Paths{}),
    TAR_CASE(Entry("f.txt", "old") + Header("h.txt", OctalSize(0), '1', "f.txt") + Entry("f.txt.", "new"),
             TAR_NAME_COLLISION, (Files{{L"f.txt", "new"}, {L"h.txt", "old"}}), Paths{}),
    TAR_CASE(Entry("notes", "1") + Entry("notes.", "2") + Entry("apache/m.pom", "a") + Entry("apache./m.pom", "b"),
             TAR_NAME_COLLISION, (Files{{L"notes", "2"}, {L"apache\\m.pom", "b"}}), Paths{}),
    TAR_CASE(Entry("d/", "", '5') + Entry("d", "x") + Entry("next.txt", "n"), ERROR_ACCESS_DENIED,
             (Files{{L"next.txt", "n"}}), Paths{}),
    TAR_CASE(Entry("f", "x") + Entry("f/", "", '5') + Entry("next.txt", "n"), ERROR_ALREADY_EXISTS,
             (Files{{L"f", "x"}, {L"next.txt", "n"}}), Paths{}),
    // sparse maps that cannot be used (the formats' good maps are in MatchesGnuTarOnEveryFormat)
    TAR_CASE(PaxSparse("huge.bin", "9000\n", "", 10) + Entry("after.txt", "in step"), TAR_SPARSE_MAP_TOO_LARGE,
             (Files{{L"after.txt", "in step"}}), (Paths{L"out\\huge.bin"})),
    TAR_CASE(PaxSparse("out.bin", "1\n8\n5\n", "12345", 10) + PaxSparse("bad.bin", "1\nx\n", "", 10) +
                 Entry("after.txt", "in step"),
             TAR_DAMAGED_HEADER, (Files{{L"after.txt", "in step"}}), (Paths{L"out\\out.bin", L"out\\bad.bin"})),
};

struct NoCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const { return _wcsicmp(a.c_str(), b.c_str()) < 0; }
};
using PathSet = std::set<std::wstring, NoCase>;

void CollectTree(const std::wstring& folder, const std::wstring& relative, PathSet& paths)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        paths.insert(relative + name);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CollectTree(folder + L"\\" + name, relative + name + L"\\", paths);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// Every file under 'folder' is one of 'expected' (paths relative to it): nothing landed
// anywhere else.
void ExpectOnlyFiles(const std::wstring& folder, const PathSet& expected, int line)
{
    PathSet found;
    CollectTree(folder, L"", found);
    for (const auto& path : found)
        if (!(GetFileAttributesW((folder + L"\\" + path).c_str()) & FILE_ATTRIBUTE_DIRECTORY)) {
            EXPECT_TRUE(expected.count(path)) << "unexpected " << test::Utf8(path) << ", case at line " << line;
        }
}

TEST(ExtractTarGz, HandCraftedArchives)
{
    for (const auto& c : TAR_CASES) {
        test::TempFolder temp;
        test::WriteBytes(temp / L"case.tar", c.archive);
        std::wstring archive = temp / L"case.tar";
        std::wstring destination = temp / L"out";
        EXPECT_EQ(ExtractTarGz(archive.data(), destination.data()), c.result) << "case at line " << c.line;
        for (const auto& [path, content] : c.files) {
            EXPECT_TRUE(test::Exists(destination + L"\\" + path)) << test::Utf8(path) << ", case at line " << c.line;
            EXPECT_TRUE(test::ReadBytes(destination + L"\\" + path) == content)
                << test::Utf8(path) << ", case at line " << c.line;
        }
        for (const auto& path : c.absent)
            EXPECT_FALSE(test::Exists(temp / path)) << test::Utf8(path) << ", case at line " << c.line;
        PathSet expected{L"case.tar"};
        for (const auto& file : c.files)
            expected.insert(L"out\\" + file.first);
        ExpectOnlyFiles(temp.path(), expected, c.line);
    }
}

// Compares every file and folder under 'original' with its copy under 'copy'.
void ExpectSameTree(const std::wstring& original, const std::wstring& copy, int line)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((original + L"\\*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << "case at line " << line;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            EXPECT_TRUE(test::Exists(copy + L"\\" + name)) << test::Utf8(name) << ", case at line " << line;
            ExpectSameTree(original + L"\\" + name, copy + L"\\" + name, line);
        } else {
            EXPECT_TRUE(test::ReadBytes(original + L"\\" + name) == test::ReadBytes(copy + L"\\" + name))
                << test::Utf8(name) << ", case at line " << line;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

struct FixtureCase {
    const wchar_t* archive;
    int line;
};
#define FIXTURE_CASE(a) {a, __LINE__}

const FixtureCase FIXTURE_CASES[] = {
    FIXTURE_CASE(L"gnu.tar"),           // plain tar goes through zlib unchanged
    FIXTURE_CASE(L"gnu.tgz"),
    FIXTURE_CASE(L"default.tar.gz"),
    FIXTURE_CASE(L"pax.tgz"),
};

TEST(ExtractTarGz, ArchivesMadeByGnuTar)
{
    std::wstring fixtures = test::ProgramFolder() + L"\\archive-fixtures";
    for (const auto& c : FIXTURE_CASES) {
        test::TempFolder temp;
        std::wstring archive = fixtures + L"\\" + c.archive;
        std::wstring destination = temp / L"out";
        ASSERT_EQ(ExtractTarGz(archive.data(), destination.data()), 0u) << "case at line " << c.line;
        ExpectSameTree(fixtures + L"\\src", destination, c.line);
        EXPECT_TRUE(test::Exists(destination + L"\\tree\\emptydir")) << "case at line " << c.line;
    }
}

// One line of a manifest that make_formats.py wrote of GNU tar's extraction.
struct ManifestEntry {
    char kind;                  // d folder, f file, h file with hard links, l symbolic link
    size_t size;
    unsigned long crc;
    std::wstring path;
};

std::vector<ManifestEntry> ReadManifest(const std::wstring& file)
{
    std::vector<ManifestEntry> entries;
    std::istringstream lines(test::ReadBytes(file));
    for (std::string line; std::getline(lines, line);) {
        size_t size = line.find('\t', 2);
        size_t path = line.find('\t', size + 1);
        ManifestEntry entry{line[0], std::stoul(line.substr(2)), std::stoul(line.substr(size + 1), nullptr, 16),
                            test::Widen(line.substr(path + 1))};
        std::replace(entry.path.begin(), entry.path.end(), L'/', L'\\');
        entries.push_back(entry);
    }
    return entries;
}

DWORD LinkCount(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION information{};
    if (file != INVALID_HANDLE_VALUE) {
        GetFileInformationByHandle(file, &information);
        CloseHandle(file);
    }
    return information.nNumberOfLinks;
}

struct FormatCase {
    const wchar_t* archive;
    const wchar_t* manifest;
    int line;
};
#define FORMAT_CASE(a, m) {a, m, __LINE__}

const FormatCase FORMAT_CASES[] = {
    FORMAT_CASE(L"gnu.tar", L"gnu"),       FORMAT_CASE(L"gnu.tgz", L"gnu"),
    FORMAT_CASE(L"oldgnu.tar", L"oldgnu"), FORMAT_CASE(L"oldgnu.tgz", L"oldgnu"),
    FORMAT_CASE(L"ustar.tar", L"ustar"),   FORMAT_CASE(L"ustar.tgz", L"ustar"),
    FORMAT_CASE(L"posix.tar", L"posix"),   FORMAT_CASE(L"posix.tgz", L"posix"),
    FORMAT_CASE(L"v7.tar", L"v7"),         FORMAT_CASE(L"v7.tgz", L"v7"),
    FORMAT_CASE(L"posix-sparse-0.0.tar", L"posix-sparse-0.0"),
    FORMAT_CASE(L"posix-sparse-0.1.tar", L"posix-sparse-0.1"),
    FORMAT_CASE(L"incremental.tar", L"incremental"),
    FORMAT_CASE(L"python.tar", L"python"),
};

// Of two names that differ only in case the later file replaces the earlier one.
const std::wstring REPLACED_BY_CASE_TWIN = L"t\\CasePair.h";

// TGZX extracts what GNU tar extracts, file by file, except for the documented differences:
// the symbolic link is not made (its code, first in the archive, is the result), of the case
// pair only the later file stays, and a path beyond MAX_PATH_CHARS is skipped.
TEST(ExtractTarGz, MatchesGnuTarOnEveryFormat)
{
    std::wstring formats = test::ProgramFolder() + L"\\archive-formats\\";
    for (const auto& c : FORMAT_CASES) {
        test::TempFolder temp;
        std::wstring archive = formats + c.archive;
        std::wstring out = temp / L"o";
        EXPECT_EQ(ExtractTarGz(archive.data(), out.data()), TAR_SYMBOLIC_LINK) << "case at line " << c.line;
        PathSet expected;
        for (const auto& entry : ReadManifest(formats + c.manifest + L".manifest")) {
            std::wstring path = out + L"\\" + entry.path;
            if (entry.kind == 'l' || entry.path == REPLACED_BY_CASE_TWIN || path.size() + (entry.kind == 'd') >= MAX_PATH_CHARS)
                continue;
            expected.insert(entry.path);
            std::string bytes = test::ReadBytes(path);
            std::string where = test::Utf8(entry.path) + ", case at line " + std::to_string(c.line);
            EXPECT_TRUE(test::Exists(path)) << where;
            EXPECT_EQ(bytes.size(), entry.size) << where;
            EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())), entry.crc) << where;
            if (entry.kind == 'h') {
                EXPECT_GE(LinkCount(path), 2u) << where;
            }
        }
        PathSet extracted;
        CollectTree(out, L"", extracted);
        for (const auto& path : extracted)
            EXPECT_TRUE(expected.count(path)) << "not extracted by GNU tar: " << test::Utf8(path) << ", case at line " << c.line;
    }
}

TEST(ExtractTarGz, OverwritesAndAcceptsTrailingBackslash)
{
    test::TempFolder temp;
    test::WriteBytes(temp / L"a.tar", Entry("same.txt", "new") + Entry("other.TXT", "no case collision") + END_BLOCKS);
    test::WriteBytes(temp / L"same.txt", "older and longer");
    test::WriteBytes(temp / L"OTHER.txt", "not of this run");
    std::wstring archive = temp / L"a.tar";
    std::wstring destination = temp.path() + L"\\";
    EXPECT_EQ(ExtractTarGz(archive.data(), destination.data()), 0u);
    EXPECT_EQ(test::ReadBytes(temp / L"same.txt"), "new");
    EXPECT_EQ(test::ReadBytes(temp / L"other.txt"), "no case collision");
}

// Stands in for the file writes; while the disk is full each takes half of the bytes and
// reports success, as the platform does.
bool isDiskFull = false;

BOOL WriteUntilFull(HANDLE file, const void* data, DWORD count, DWORD* written, OVERLAPPED* overlapped)
{
    return WriteFile(file, data, isDiskFull ? count / 2 : count, written, overlapped);
}

struct ReplaceCase {
    std::string archive;
    bool isDiskFull;
    DWORD result;
    int line;
};

const std::string NEW_DATA(3000, 'n');
const ReplaceCase REPLACE_CASES[] = {
    {Entry("keep.txt", NEW_DATA).substr(0, 3 * BLOCK), false, TAR_TRUNCATED, __LINE__},
    {Entry("keep.txt", NEW_DATA) + END_BLOCKS, true, ERROR_DISK_FULL, __LINE__},
};

// A file that was there is replaced only by a complete new one: a failed extraction leaves
// it as it was, and nothing beside it.
TEST(ExtractTarGz, FailedReplacementKeepsTheOldFile)
{
    for (const auto& c : REPLACE_CASES) {
        test::TempFolder temp;
        test::WriteBytes(temp / L"case.tar", c.archive);
        std::wstring archive = temp / L"case.tar";
        std::wstring destination = temp / L"out";
        CreateDirectoryW(destination.c_str(), nullptr);
        test::WriteBytes(destination + L"\\keep.txt", "old");
        DWORD result;
        {
            test::OutwardCallsGuard guard;
            outwardCalls.writeFile = WriteUntilFull;
            isDiskFull = c.isDiskFull;
            result = ExtractTarGz(archive.data(), destination.data());
            isDiskFull = false;
        }
        EXPECT_EQ(result, c.result) << "case at line " << c.line;
        EXPECT_EQ(test::ReadBytes(destination + L"\\keep.txt"), "old") << "case at line " << c.line;
        ExpectOnlyFiles(temp.path(), PathSet{L"case.tar", L"out\\keep.txt"}, c.line);
    }
}

// The files a run wrote are known however many there are: links reach the first and the
// last of a thousand, and the last one's name in another case is reported.
TEST(ExtractTarGz, KnowsEveryFileItWrote)
{
    std::string tar;
    for (int i = 0; i < 1000; ++i)
        tar += Header("f/" + std::to_string(i), OctalSize(0), '0');
    tar += Header("first", OctalSize(0), '1', "f/0") + Header("last", OctalSize(0), '1', "f/999") + Entry("F/999", "again");
    test::TempFolder temp;
    test::WriteBytes(temp / L"many.tar", tar + END_BLOCKS);
    std::wstring archive = temp / L"many.tar";
    std::wstring destination = temp / L"out";
    EXPECT_EQ(ExtractTarGz(archive.data(), destination.data()), TAR_NAME_COLLISION);
    EXPECT_EQ(LinkCount(destination + L"\\first"), 2u);
    EXPECT_EQ(LinkCount(destination + L"\\last"), 1u);     // the link keeps the data the name had
    EXPECT_EQ(test::ReadBytes(destination + L"\\f\\999"), "again");
}

// Stands in for the console's Stop: the first progress report stops the run.
DWORD StopAtProgress(void*, ULONGLONG)
{
    return ERROR_CANCELLED;
}

// Stop inside a file ends the extraction: a file that was there keeps its content and no
// later entry is extracted.
TEST(ExtractTarGz, StopEndsTheExtraction)
{
    test::TempFolder temp;
    test::WriteBytes(temp / L"a.tar", Entry("big.bin", std::string(100000, 'b')) + Entry("later.txt", "l") + END_BLOCKS);
    std::wstring archive = temp / L"a.tar";
    std::wstring destination = temp / L"out";
    CreateDirectoryW(destination.c_str(), nullptr);
    test::WriteBytes(destination + L"\\big.bin", "old");
    ChangeObserver stop{nullptr, nullptr, StopAtProgress, nullptr};
    const ChangeObserver* previous = SetChangeObserver(&stop);
    DWORD result = ExtractTarGz(archive.data(), destination.data());
    SetChangeObserver(previous);
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_EQ(test::ReadBytes(destination + L"\\big.bin"), "old");
    ExpectOnlyFiles(temp.path(), PathSet{L"a.tar", L"out\\big.bin"}, __LINE__);
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

struct NumberCase {
    const char* field;    // 12 bytes
    uint64_t expected;
    int line;
};
#define NUMBER_CASE(f, e) {f, e, __LINE__}

const NumberCase NUMBER_CASES[] = {
    NUMBER_CASE("00000000644\0", 0644),
    NUMBER_CASE("   644      ", 0644),             // spaces anywhere are skipped
    NUMBER_CASE("6 4 4\0" "99999\0", 0644),        // a zero byte ends the number
    NUMBER_CASE("            ", 0),
    NUMBER_CASE("\0" "7777777777\0", 0),
    NUMBER_CASE("00000000648\0", TAR_INVALID_NUMBER),
    NUMBER_CASE("0000000009 \0", TAR_INVALID_NUMBER),
    NUMBER_CASE("-0000000001\0", TAR_INVALID_NUMBER),
    NUMBER_CASE("37777777777\0", 0xFFFFFFFF),      // a size like any other
    NUMBER_CASE("40000000000\0", 0x100000000),     // 4 GiB
    NUMBER_CASE("777777777777", 0xFFFFFFFFF),      // twelve digits, no zero byte
    NUMBER_CASE("\x80\0\0\0\0\0\0\x01\x20\0\0\0", 0x120000000),     // base-256: 4.5 GiB
    NUMBER_CASE("\x80\0\0\0\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 0x7FFFFFFFFFFFFFFF),
    NUMBER_CASE("\x80\0\0\0\x80\0\0\0\0\0\0\0", TAR_INVALID_NUMBER), // 2^63
    NUMBER_CASE("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", TAR_INVALID_NUMBER),    // negative
};

TEST(ParseNumberField, Table)
{
    for (const auto& c : NUMBER_CASES)
        EXPECT_EQ(ParseNumberField(reinterpret_cast<const unsigned char*>(c.field), 12), c.expected)
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
    PATH_CASE(L"C:\\out", L"a\\...\\b", false, ERROR_INVALID_NAME, nullptr),       // ".." once its trailing dot is trimmed
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
    PATH_CASE(L"C:\\out", L"CONIN$", false, ERROR_INVALID_NAME, nullptr),            // the console
    PATH_CASE(L"C:\\out", L"a\\conout$ .log", false, ERROR_INVALID_NAME, nullptr),
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
