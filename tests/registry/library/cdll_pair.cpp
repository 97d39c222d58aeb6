// Two libraries for the CDLL tests, built from this one file into a folder of their own:
// cdll_helper.dll, and cdll_dependent.dll, which needs the helper and is found only when
// its own folder is searched for the libraries it needs.
#include <windows.h>

#ifdef CDLL_HELPER
extern "C" __declspec(dllexport) DWORD WINAPI HelperValue()
{
    return 41;
}
#else
extern "C" __declspec(dllimport) DWORD WINAPI HelperValue();

extern "C" __declspec(dllexport) DWORD WINAPI DependentValue()
{
    return HelperValue() + 1;
}
#endif
