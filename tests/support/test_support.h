// Helpers shared by the tests: temporary folders, files, scripts and process starts.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace test {

// A fresh folder under the system's temporary folder, removed with everything in it
// when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

void RemoveTree(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
std::string Utf16Bytes(const std::wstring& text);     // little-endian, no mark
std::string Utf8(const std::wstring& text);
std::wstring Widen(const std::string& utf8);
bool Exists(const std::wstring& path);

// Runs 'script' (commas and escapes as a script file has them) in a writable copy. Each
// test program defines it: the engine's and app's through the line runner, a family's
// through its own rows (support/command_runner.h).
DWORD Run(const std::wstring& script, const wchar_t* scriptPath = L"C:\\test\\script.vrs");

// The folder of the running test program.
std::wstring ProgramFolder();

struct ProcessResult {
    DWORD exitCode;
    bool timedOut;
};

// Starts 'program' with exactly 'commandLine', waits up to 'timeoutMs' (then ends it),
// and returns the full exit code. Environment entries in 'environment' are added. A start
// that fails gives the platform's error as the exit code; one that fails because the new
// process went away during its start-up is tried again first.
ProcessResult StartAndWait(const std::wstring& program, const std::wstring& commandLine,
                           const std::vector<std::wstring>& environment = {}, DWORD timeoutMs = 20000);
// The same, with the program's standard output and error written to the file 'outputPath'.
ProcessResult StartAndWaitWithOutput(const std::wstring& program, const std::wstring& commandLine,
                                     const std::vector<std::wstring>& environment, const std::wstring& outputPath,
                                     DWORD timeoutMs = 20000);
// Starts 'program' as StartAndWait does, its standard output and error going to 'output'
// (an inheritable handle) unless it is nullptr, and returns at once: 0 with 'process' to
// close, or the platform's error.
DWORD StartProcess(const std::wstring& program, const std::wstring& commandLine,
                   const std::vector<std::wstring>& environment, HANDLE output, PROCESS_INFORMATION& process);

// True when windows can be created (under Xvfb); without a display Wine cannot show them.
// Where the run promises a display (VARNOLT_REQUIRE_DISPLAY, set by make test), its
// absence fails the test instead of letting the window tests skip unseen.
bool HasDisplay();

// A name no other process in the session has, for window classes and program copies.
std::wstring UniqueName(const wchar_t* stem);

// Makes 'path' 'size' bytes long without writing them (a sparse file on the build machine).
void ExtendFile(const std::wstring& path, LONGLONG size);

// Waits until 'check' holds, for up to 'timeoutMs': what is posted to a window of another
// thread or process is handled later, so its effect is awaited instead.
template <typename Check>
bool Eventually(Check check, DWORD timeoutMs = 20000)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 10) {
        if (check())
            return true;
        Sleep(10);
    }
    return check();
}

// A free drive letter pointing at 'folder' while the object lives, so that a test reaches
// a drive's root without touching a real drive. 'letter' is 0 when none could be made.
class TestDrive {
public:
    explicit TestDrive(const std::wstring& folder);
    ~TestDrive();
    TestDrive(const TestDrive&) = delete;
    TestDrive& operator=(const TestDrive&) = delete;
    std::wstring root() const { return {letter, L':', L'\\'}; }
    wchar_t letter = 0;
};

// Waits up to 'timeoutMs' for a visible top-level window of 'processId' (0: of any
// process) with that class and title (nullptr: any); nullptr when none shows.
HWND WaitForWindow(DWORD processId, const wchar_t* windowClass, const wchar_t* title, DWORD timeoutMs = 20000);

} // namespace test
