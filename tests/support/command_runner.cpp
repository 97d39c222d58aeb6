#include "support/command_runner.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <vector>

namespace test {
namespace {

constexpr wchar_t SEPARATOR = 1;

// One line as the engine hands it on: commas become the separator and a '%' takes the
// next character literally ("%," is a comma that stays one).
std::vector<wchar_t> PrepareLine(const std::wstring& line)
{
    std::vector<wchar_t> prepared;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == L'%' && i + 1 < line.size())
            prepared.push_back(line[++i]);
        else
            prepared.push_back(line[i] == L',' ? SEPARATOR : line[i]);
    }
    prepared.push_back(0);
    return prepared;
}

DWORD RunCommandLine(std::vector<wchar_t>& line)
{
    wchar_t* text = line.data();
    for (size_t i = 0; i < FAMILY_COMMAND_COUNT; ++i) {
        if (_wcsnicmp(text, FAMILY_COMMANDS[i].keyword, 4) != 0)
            continue;
        wchar_t* args = text + 4;
        while (*args == L' ' || *args == L'\t')
            ++args;
        return FAMILY_COMMANDS[i].handler(args);
    }
    ADD_FAILURE() << "no command of this family: " << Utf8(text);
    return 0xFFFFFFFF;
}

} // namespace

// Runs each command line of 'script' (lines end at CR or LF; blank and ';' lines are
// skipped); the last command's result is the result.
DWORD Run(const std::wstring& script, const wchar_t*)
{
    DWORD result = 0;
    size_t start = 0;
    while (start <= script.size()) {
        size_t end = script.find_first_of(L"\r\n", start);
        if (end == std::wstring::npos)
            end = script.size();
        std::wstring line = script.substr(start, end - start);
        line.erase(0, line.find_first_not_of(L" \t") == std::wstring::npos ? line.size() : line.find_first_not_of(L" \t"));
        if (!line.empty() && line[0] != L';') {
            std::vector<wchar_t> prepared = PrepareLine(line);
            result = RunCommandLine(prepared);
        }
        start = end + 1;
    }
    return result;
}

} // namespace test
