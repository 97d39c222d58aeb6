// test::Run for the programs that link the engine: the script goes through the line runner
// in whatever language the program has installed.
#include "engine/engine.h"
#include "support/test_support.h"
#include <vector>

namespace test {

DWORD Run(const std::wstring& script, const wchar_t* scriptPath)
{
    std::vector<wchar_t> text(script.begin(), script.end());
    text.push_back(0);
    return RunScript(text.data(), scriptPath);
}

} // namespace test
