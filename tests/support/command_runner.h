// test::Run for the tests of one command family, which link that family and the base only:
// script lines go straight to the family's own handlers.
#pragma once
#include <windows.h>
#include <cstddef>

namespace test {

struct CommandRow {
    const wchar_t* keyword;
    DWORD (*handler)(const wchar_t* args);
};

// The rows of the family under test; each family's test program defines them.
extern const CommandRow FAMILY_COMMANDS[];
extern const size_t FAMILY_COMMAND_COUNT;

} // namespace test
