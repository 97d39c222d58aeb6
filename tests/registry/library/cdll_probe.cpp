// A library for the CDLL tests. Each export reports what it received in the process's
// environment variable VARNOLT_PROBE, so the tests can read it after the library is gone.
#include <windows.h>

namespace {

constexpr int REPORT_CHARS = 512;
constexpr HRESULT REGISTER_RESULT = static_cast<HRESULT>(0x80040201);   // SELFREG_E_CLASS: passed on unchanged
int callCount = 0;                                                      // 0 again each time the library loads

void Report(const wchar_t* text)
{
    SetEnvironmentVariableW(L"VARNOLT_PROBE", text);
}

} // namespace

extern "C" {

__declspec(dllexport) HRESULT WINAPI DllRegisterServer()
{
    Report(L"registered");
    return REGISTER_RESULT;
}

__declspec(dllexport) DWORD WINAPI ProbeCount()
{
    return static_cast<DWORD>(++callCount);
}

__declspec(dllexport) DWORD WINAPI ProbeTwo(INT_PTR number, const wchar_t* text)
{
    wchar_t report[REPORT_CHARS];
    wsprintfW(report, L"%d|%s", static_cast<int>(number), text);
    Report(report);
    return 2;
}

// Returns the first number widened to 64 bits, cut to 32, so sign extension shows.
__declspec(dllexport) DWORD WINAPI ProbeFour(INT_PTR number, const wchar_t* text, INT_PTR number2, const wchar_t* rest)
{
    wchar_t report[REPORT_CHARS];
    wsprintfW(report, L"%d|%s|%d|%s|%d", static_cast<int>(number), text, static_cast<int>(number2), rest,
              static_cast<int>(number2 >> 32));
    Report(report);
    return static_cast<DWORD>(number);
}

}
