// Test program for EXEC and KILL: sleeps for the milliseconds of its first argument, then
// creates the file named by its second argument (if any) and exits with code 7.
#include <windows.h>
#include <cstdlib>

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1)
        Sleep(static_cast<DWORD>(_wtol(argv[1])));
    if (argc > 2) {
        HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    return 7;
}
