// A file-dialog provider for the browse tests, built once per entry point (PROVIDER_ENTRY
// names the one it exports). It picks the path written in "answer.txt" next to itself
// (an empty or missing file: the user cancelled) and appends to "calls.txt" there one
// line, in UTF-8, of what it was handed: tab-separated name=value fields.
#include "platform/device_libraries.h"
#include <string>

namespace {

HMODULE self = nullptr;

std::wstring NextToSelf(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(self, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\') + 1) + name;
}

std::string Utf8(const std::wstring& text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), bytes, nullptr, nullptr);
    return out;
}

std::wstring Text(const wchar_t* text) { return text ? text : L"(none)"; }

// The filter's NUL-separated texts with '|' for each NUL, up to the list's end.
std::wstring FilterText(const wchar_t* filter)
{
    std::wstring out;
    for (const wchar_t* p = filter; p && *p; p += wcslen(p) + 1)
        out += std::wstring(p) + L"|";
    return filter ? out : L"(none)";
}

void Record(const wchar_t* entry, int first, const OPENFILENAMEW& record)
{
    std::wstring line = std::wstring(L"entry=") + entry + L"\tfirst=" + std::to_wstring(first) +
                        L"\tsize=" + std::to_wstring(record.lStructSize) +
                        L"\towner=" + (record.hwndOwner ? L"yes" : L"no") +
                        L"\tflags=" + std::to_wstring(record.Flags) + L"\tfile=" + Text(record.lpstrFile) +
                        L"\tmax=" + std::to_wstring(record.nMaxFile) + L"\tinitial=" + Text(record.lpstrInitialDir) +
                        L"\ttitle=" + Text(record.lpstrTitle) + L"\text=" + Text(record.lpstrDefExt) +
                        L"\tfilter=" + FilterText(record.lpstrFilter);
    if (record.lStructSize == sizeof(OPENFILENAMEEX)) {
        const auto& extended = reinterpret_cast<const OPENFILENAMEEX&>(record);
        line += L"\tsort=" + std::to_wstring(extended.dwSortOrder) + L"\texflags=" + std::to_wstring(extended.ExFlags);
    }
    std::string bytes = Utf8(line) + "\n";
    HANDLE log = CreateFileW(NextToSelf(L"calls.txt").c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(log, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(log);
}

BOOL Answer(const wchar_t* entry, int first, OPENFILENAMEW* record)
{
    Record(entry, first, *record);
    char bytes[MAX_PATH] = {};
    DWORD read = 0;
    HANDLE file = CreateFileW(NextToSelf(L"answer.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ReadFile(file, bytes, MAX_PATH - 1, &read, nullptr);
        CloseHandle(file);
    }
    if (read == 0)
        return FALSE;
    int units = MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(read), record->lpstrFile, static_cast<int>(record->nMaxFile) - 1);
    record->lpstrFile[units] = 0;
    return TRUE;
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        self = instance;
    return TRUE;
}

#if defined(PROVIDER_AYGSHELL)
extern "C" __declspec(dllexport) BOOL GetOpenFileNameEx(OPENFILENAMEEX* record)
{
    return Answer(L"GetOpenFileNameEx", 0, &record->base);
}
#elif defined(PROVIDER_RFILESHELL)
extern "C" __declspec(dllexport) BOOL RShellGetOpenFileName(OPENFILENAMEW* record)
{
    return Answer(L"RShellGetOpenFileName", 0, record);
}
#else
extern "C" __declspec(dllexport) BOOL tGetFile(BOOL save, OPENFILENAMEW* record)
{
    return Answer(L"tGetFile", save, record);
}
#endif
