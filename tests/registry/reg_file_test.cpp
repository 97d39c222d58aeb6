#include "registry/registry.h"
#include "registry_test_support.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <psapi.h>
#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace regtest;

enum class Encoding { Utf16Mark, Utf16, Utf8Mark, Ansi };

struct EncodingCase {
    Encoding encoding;
    const wchar_t* header;
    bool wide;                  // the generated text may hold characters beyond ASCII
    int line;
};
#define ENCODING_CASE(e, h, w) {e, h, w, __LINE__}

const EncodingCase ENCODING_CASES[] = {
    ENCODING_CASE(Encoding::Utf16Mark, L"Windows Registry Editor Version 5.00\r\n\r\n", true),
    ENCODING_CASE(Encoding::Utf16, L"Windows Registry Editor Version 5.00\r\n", true),
    ENCODING_CASE(Encoding::Utf8Mark, L"\r\nREGEDIT4\r\n", true),
    ENCODING_CASE(Encoding::Ansi, L"REGEDIT4\n", false),
};

std::string Encode(const std::wstring& text, Encoding encoding)
{
    switch (encoding) {
    case Encoding::Utf16Mark:
        return "\xFF\xFE" + test::Utf16Bytes(text);
    case Encoding::Utf16:
        return test::Utf16Bytes(text);
    case Encoding::Utf8Mark:
        return "\xEF\xBB\xBF" + test::Utf8(text);
    case Encoding::Ansi:
        break;
    }
    return std::string(text.begin(), text.end());     // ASCII only
}

// Builds .reg text whose encoded file puts chosen lines across the boundaries of the
// pieces the import reads (every REG_FILE_PIECE_BYTES of the file while no line is longer).
struct RegFileBuilder {
    Encoding encoding;
    std::wstring text;
    int fillers = 0;

    size_t EncodedSize(const std::wstring& part) const { return Encode(part, encoding).size(); }

    // Filler values, then one comment of the exact length, up to the file offset 'target'.
    void FillTo(size_t target)
    {
        size_t unitBytes = encoding == Encoding::Utf16 || encoding == Encoding::Utf16Mark ? 2 : 1;
        size_t size = EncodedSize(text);
        ASSERT_LT(size + 3 * unitBytes, target) << "features too close together";
        while (size + 200 * unitBytes < target) {
            wchar_t line[80];
            int n = fillers++;
            if (n % 3 == 0)
                wsprintfW(line, L"\"v%05d\"=dword:%08x\r\n", n, n * 7919);
            else if (n % 3 == 1)
                wsprintfW(line, L"\"s%05d\"=\"text \\\"%d\\\" \\\\ end\"\r\n", n, n);
            else
                wsprintfW(line, L"\"h%05d\"=hex:%02x,ff,\\\r\n  %02x\r\n", n, n & 0xFF, (n >> 8) & 0xFF);
            text += line;
            size += wcslen(line) * unitBytes;
        }
        text += L";" + std::wstring((target - size) / unitBytes - 3, L'p') + L"\r\n";
    }

    // Places 'line' so that the piece ending at 'boundary' ends after its first 'split' units.
    void PlaceAcross(size_t boundary, const std::wstring& line, size_t split)
    {
        FillTo(boundary - EncodedSize(line.substr(0, split)));
        text += line;
    }
};

// A file several pieces long whose boundaries fall after a key line, inside continued
// hex data (after the backslash and between its CR and LF), inside a key line and
// inside a character; then lines longer than a piece, and deletions of earlier keys and values.
std::wstring GenerateRegistryText(const EncodingCase& c, const std::wstring& key)
{
    RegFileBuilder builder{c.encoding, c.header};
    builder.text += L"[" + key + L"\\first]\r\n\"gone\"=\"soon\"\r\n";
    builder.PlaceAcross(REG_FILE_PIECE_BYTES, L"[" + key + L"\\second]\r\n", key.size() + 11);
    builder.text += L"\"after key\"=\"1\"\r\n";
    builder.PlaceAcross(2 * REG_FILE_PIECE_BYTES, L"\"cr|lf\"=hex:01,02,\\\r\n  03,04\r\n", 20);
    builder.PlaceAcross(3 * REG_FILE_PIECE_BYTES, L"\"slash|\"=hex:0a,0b,\\\r\n\t0c\r\n", 20);
    builder.PlaceAcross(4 * REG_FILE_PIECE_BYTES, L"[" + key + L"\\fourth]\r\n\"in fourth\"=dword:4\r\n", 8);
    if (c.wide) {
        std::wstring line = L"\"wide\"=\"\u4e2d\u6587\U0001D11E\"\r\n";    // cut inside a character
        size_t split = c.encoding == Encoding::Utf8Mark ? 9 : 11;
        builder.FillTo(5 * REG_FILE_PIECE_BYTES - builder.EncodedSize(line.substr(0, split)) -
                       (c.encoding == Encoding::Utf8Mark ? 1 : 0));
        builder.text += line;
    }
    builder.PlaceAcross(6 * REG_FILE_PIECE_BYTES, L"\"gap\"=hex:01,\\\r\n; note\r\n  02\r\n", 20);    // cut in the comment
    builder.PlaceAcross(7 * REG_FILE_PIECE_BYTES, L"\"stop\"=hex:01,\\\r\n\"next\"=\"1\"\r\n", 20);  // cut in the next name
    builder.text += L"\"long\"=\"" + std::wstring(REG_FILE_PIECE_BYTES + 5000, L'x') + L"\"\r\n";
    builder.text += L"\"chain\"=hex:";
    for (int row = 0; row < 3000; ++row)
        builder.text += L"00,11,22,33,44,55,66,77,\\\r\n    ";
    builder.text += L"ff\r\n;comment\r\n[-" + key + L"\\first]\r\n[" + key + L"\\second]\r\n\"after key\"=-\r\n";
    builder.text += L"@=\"last line without a break\"";
    return builder.text;
}

// Imports a registry file from after its header, as LOAD hands it to the importer.
DWORD LoadPath(const std::wstring& path)
{
    return ImportRegistryFile(path.c_str(), HeaderUnits(path));
}

TEST(RegFile, PiecesImportLikeTheWholeText)
{
    test::TempFolder folder;
    TestKey whole(L"wholeA"), pieces(L"wholeB");       // names of one length: the same boundaries
    for (const auto& c : ENCODING_CASES) {
        std::wstring reference = GenerateRegistryText(c, whole.Long());
        std::wstring streamed = GenerateRegistryText(c, pieces.Long());
        ASSERT_GT(Encode(streamed, c.encoding).size(), 6u * REG_FILE_PIECE_BYTES) << "case at line " << c.line;
        std::wstring body = reference.substr(wcslen(c.header));
        std::vector<wchar_t> buffer(body.begin(), body.end());
        buffer.push_back(0);
        EXPECT_EQ(ImportRegistryText(buffer.data(), nullptr), 0u) << "case at line " << c.line;
        test::WriteBytes(folder / L"big.reg", Encode(streamed, c.encoding));
        EXPECT_EQ(LoadPath(folder / L"big.reg"), 0u) << "case at line " << c.line;

        RegistryDump expected = Dump(whole), actual = Dump(pieces);
        EXPECT_GT(expected.size(), 3000u) << "case at line " << c.line;
        EXPECT_EQ(expected.count(L"\\fourth:in fourth"), 1u) << "case at line " << c.line;
        EXPECT_EQ(expected.count(L"\\first\\"), 0u) << "case at line " << c.line;
        EXPECT_TRUE(expected == actual) << "case at line " << c.line;
        for (auto e = expected.begin(), a = actual.begin(); e != expected.end() && a != actual.end(); ++e, ++a)
            if (e->first != a->first || e->second != a->second) {
                ADD_FAILURE() << "first difference at " << test::Utf8(e->first) << " / " << test::Utf8(a->first);
                break;
            }
        RegDeleteTreeW(HKEY_CURRENT_USER, whole.path().c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, pieces.path().c_str());
    }
}

TEST(RegFile, ForeignLineInALaterPieceGives1017AndGoesOn)
{
    test::TempFolder folder;
    TestKey key(L"foreign");
    RegFileBuilder builder{Encoding::Ansi, L"REGEDIT4\r\n[" + key.Long() + L"]\r\n"};
    builder.FillTo(2 * REG_FILE_PIECE_BYTES + 100);
    builder.text += L"not registry text\r\n\"after\"=\"1\"\r\n";
    test::WriteBytes(folder / L"foreign.reg", Encode(builder.text, Encoding::Ansi));
    EXPECT_EQ(LoadPath(folder / L"foreign.reg"), static_cast<DWORD>(ERROR_NOT_REGISTRY_FILE));
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, key.path(), L"after").exists);
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, key.path(), L"v00000").exists);
}

TEST(RegFile, FirstProblemOfTheFileIsItsResult)
{
    test::TempFolder folder;
    TestKey key(L"first");
    RegFileBuilder builder{Encoding::Ansi, L"REGEDIT4\r\n[" + key.Long() + L"]\r\n\"" + std::wstring(20000, L'n') + L"\"=\"1\"\r\n"};
    builder.FillTo(2 * REG_FILE_PIECE_BYTES + 100);
    builder.text += L"not registry text\r\n";
    test::WriteBytes(folder / L"first.reg", Encode(builder.text, Encoding::Ansi));
    EXPECT_EQ(LoadPath(folder / L"first.reg"), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// The observer's answer to the progress after a piece ends the import there.
TEST(RegFile, StopEndsTheImportBetweenPieces)
{
    test::TempFolder folder;
    TestKey key(L"stopped");
    RegFileBuilder builder{Encoding::Ansi, L"REGEDIT4\r\n[" + key.Long() + L"]\r\n\"first\"=\"1\"\r\n"};
    builder.FillTo(3 * REG_FILE_PIECE_BYTES);
    builder.text += L"\"last\"=\"1\"\r\n";
    test::WriteBytes(folder / L"stopped.reg", Encode(builder.text, Encoding::Ansi));
    ULONGLONG bytes = 0;
    ChangeObserver observer{nullptr, nullptr, [](void* context, ULONGLONG piece) {
                                *static_cast<ULONGLONG*>(context) += piece;
                                return static_cast<DWORD>(ERROR_CANCELLED);
                            }, &bytes};
    const ChangeObserver* previous = SetChangeObserver(&observer);
    DWORD result = LoadPath(folder / L"stopped.reg");
    SetChangeObserver(previous);
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, key.path(), L"first").exists);
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, key.path(), L"last").exists);
    EXPECT_GT(bytes, 0u);
    EXPECT_LT(bytes, builder.text.size());
}

// A deletion that is the last key line of a piece is carried into the next one as it
// stands: the value lines after it still have no key there.
TEST(RegFile, DeletionCarriedIntoTheNextPiece)
{
    test::TempFolder folder;
    TestKey key(L"carried");
    RegFileBuilder builder{Encoding::Ansi, L"REGEDIT4\r\n[" + key.Long() + L"\\gone]\r\n\"x\"=\"1\"\r\n[" + key.Long() + L"]\r\n"};
    std::wstring deletion = L"[-" + key.Long() + L"\\gone]\r\n", orphan = L"\"orphan\"=\"2\"\r\n";
    builder.FillTo(REG_FILE_PIECE_BYTES - deletion.size() - 5);
    builder.text += deletion + orphan;
    test::WriteBytes(folder / L"carried.reg", Encode(builder.text, Encoding::Ansi));
    EXPECT_EQ(LoadPath(folder / L"carried.reg"), static_cast<DWORD>(ERROR_NOT_REGISTRY_FILE));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key.path() + L"\\gone"));
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, key.path(), L"v00000").exists);
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, key.path(), L"orphan").exists);
}

// The memory the process uses now (Wine reports no private bytes of the process itself).
SIZE_T MemoryInUse()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage > counters.WorkingSetSize ? counters.PagefileUsage : counters.WorkingSetSize;
}

// The most memory the process used while 'work' ran, sampled every millisecond.
template <typename Work>
SIZE_T PeakMemoryDuring(Work work)
{
    std::atomic<bool> done{false};
    std::atomic<SIZE_T> peak{MemoryInUse()};
    std::thread sampler([&] {
        while (!done) {
            SIZE_T now = MemoryInUse();
            if (now > peak)
                peak = now;
            Sleep(1);
        }
    });
    work();
    done = true;
    sampler.join();
    return peak;
}

// Every line end the importer accepts is a place to cut the file: one written with
// carriage returns alone is imported piece by piece, not held whole.
TEST(RegFile, CarriageReturnLinesAreImportedInPieces)
{
    test::TempFolder folder;
    TestKey key(L"returns");
    std::string filler;
    while (filler.size() < 1024 * 1024)
        filler += ";" + std::string(200, 'c') + "\r";
    HANDLE file = CreateFileW((folder / L"returns.reg").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::string head = "REGEDIT4\r[" + test::Utf8(key.Long()) + "]\r", tail = "\"last\"=\"1\"\r";
    DWORD written;
    WriteFile(file, head.data(), static_cast<DWORD>(head.size()), &written, nullptr);
    for (int i = 0; i < 24; ++i)
        WriteFile(file, filler.data(), static_cast<DWORD>(filler.size()), &written, nullptr);
    WriteFile(file, tail.data(), static_cast<DWORD>(tail.size()), &written, nullptr);
    CloseHandle(file);
    std::wstring path = folder / L"returns.reg";
    size_t headerUnits = HeaderUnits(path);
    SIZE_T before = MemoryInUse();
    SIZE_T peak = PeakMemoryDuring([&] { EXPECT_EQ(ImportRegistryFile(path.c_str(), headerUnits), 0u); });
    EXPECT_LT(peak - before, 8u * 1024 * 1024);
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, key.path(), L"last").exists);
}

TEST(RegFile, UnreadableAndCutShortFiles)
{
    test::TempFolder folder;
    TestKey key(L"short");
    EXPECT_EQ(ImportRegistryFile((folder / L"missing.reg").c_str(), 0), 110u);

    // A NUL ends the text, as it ends the text read at once; an odd last UTF-16 byte is a unit.
    std::string bytes = "\xFF\xFE" + test::Utf16Bytes(L"REGEDIT4\r\n[" + key.Long() + L"]\r\n\"a\"=\"1\"\r\n");
    test::WriteBytes(folder / L"zero.reg", bytes + std::string(2, '\0') + test::Utf16Bytes(L"\"b\"=\"2\"\r\n") + "@");
    EXPECT_EQ(LoadPath(folder / L"zero.reg"), 0u);
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, key.path(), L"a").exists);
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, key.path(), L"b").exists);
    test::WriteBytes(folder / L"odd.reg", bytes + "x");
    EXPECT_EQ(LoadPath(folder / L"odd.reg"), static_cast<DWORD>(ERROR_NOT_REGISTRY_FILE));   // the line "x"
}

} // namespace
