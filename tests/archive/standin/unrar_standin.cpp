// A stand-in for the UnRAR library: the four published functions over a small text
// fixture, so the tests can drive the whole extraction loop without the vendor's library.
//
// Fixture: the line "STANDIN-RAR", then one line per entry, "name|content" (UTF-8). An
// entry whose name starts with '!' fails to extract with ERAR_BAD_DATA.
// Every call is appended to the UTF-8 log named by VARNOLT_UNRAR_LOG, one line per call.
// An entry's content goes to the caller's callback (UCM_PROCESSDATA) before it is written;
// a callback that answers -1 ends the entry with ERAR_UNKNOWN.
// Built twice: complete, and without RARProcessFileW (STANDIN_WITHOUT_PROCESS_FILE).
#include "archive/unrar_records.h"
#include <windows.h>
#include <cstdio>
#include <cstring>

namespace {

constexpr int ERAR_END_ARCHIVE = 10;
constexpr int ERAR_BAD_DATA = 12;
constexpr int ERAR_BAD_ARCHIVE = 13;
constexpr int ERAR_EOPEN = 15;
constexpr int ERAR_ECREATE = 16;
constexpr int ERAR_UNKNOWN = 21;
constexpr int RAR_EXTRACT = 2;
constexpr UINT UCM_PROCESSDATA = 1;

using Callback = int(CALLBACK*)(UINT message, LPARAM userData, LPARAM first, LPARAM second);
constexpr char MAGIC[] = "STANDIN-RAR\n";
constexpr DWORD FIXTURE_LIMIT = 65536;

struct StandInArchive {
    char text[FIXTURE_LIMIT + 1];
    DWORD size;
    DWORD cursor;
    char name[260];
    char content[4096];
    Callback callback;
    LPARAM userData;
};

void Log(const char* format, ...)
{
    char path[MAX_PATH];
    if (!GetEnvironmentVariableA("VARNOLT_UNRAR_LOG", path, MAX_PATH))
        return;
    char line[2048];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(length < 0 ? 0 : length), &written, nullptr);
    CloseHandle(file);
}

void Narrow(const wchar_t* text, char (&bytes)[1024])
{
    bytes[0] = 0;
    if (text)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
}

bool ReadFixture(const wchar_t* path, StandInArchive& archive)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    archive.size = 0;
    BOOL ok = ReadFile(file, archive.text, FIXTURE_LIMIT, &archive.size, nullptr);
    CloseHandle(file);
    archive.text[archive.size] = 0;
    return ok;
}

// Takes the next "name|content" line; false at the end of the fixture.
bool NextEntry(StandInArchive& archive)
{
    char* line = archive.text + archive.cursor;
    char* end = strchr(line, '\n');
    char* bar = strchr(line, '|');
    if (!*line || !end || !bar || bar > end)
        return false;
    snprintf(archive.name, sizeof archive.name, "%.*s", static_cast<int>(bar - line), line);
    snprintf(archive.content, sizeof archive.content, "%.*s", static_cast<int>(end - bar - 1), bar + 1);
    archive.cursor = static_cast<DWORD>(end + 1 - archive.text);
    return true;
}

[[maybe_unused]] int WriteEntry(const StandInArchive& archive, const wchar_t* folder)
{
    wchar_t name[260];
    MultiByteToWideChar(CP_UTF8, 0, archive.name, -1, name, 260);
    for (wchar_t* p = name; *p; ++p)
        if (*p == L'/')
            *p = L'\\';
    wchar_t path[520];
    swprintf(path, 520, folder[0] ? L"%ls\\%ls" : L"%ls%ls", folder, name);
    for (wchar_t* p = wcschr(path, L'\\'); p; p = wcschr(p + 1, L'\\')) {
        *p = 0;
        if (p > path + 2)
            CreateDirectoryW(path, nullptr);
        *p = L'\\';
    }
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ERAR_ECREATE;
    DWORD written = 0;
    WriteFile(file, archive.content, static_cast<DWORD>(strlen(archive.content)), &written, nullptr);
    CloseHandle(file);
    return 0;
}

} // namespace

extern "C" {

__declspec(dllexport) HANDLE WINAPI RAROpenArchiveEx(RAROpenArchiveDataEx* request)
{
    char name[1024];
    Narrow(request->ArcNameW, name);
    Log("open|%s|%u|%u|%s\n", name, request->OpenMode, request->CmtBufSize,
        request->ArcName ? "narrow" : "no-narrow");
    auto* archive = static_cast<StandInArchive*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(StandInArchive)));
    if (!archive || !ReadFixture(request->ArcNameW, *archive)) {
        request->OpenResult = ERAR_EOPEN;
    } else if (strncmp(archive->text, MAGIC, sizeof MAGIC - 1) != 0) {
        request->OpenResult = ERAR_BAD_ARCHIVE;
    } else {
        archive->cursor = sizeof MAGIC - 1;
        archive->callback = reinterpret_cast<Callback>(request->Callback);
        archive->userData = request->UserData;
        request->OpenResult = 0;
        return archive;
    }
    HeapFree(GetProcessHeap(), 0, archive);
    return nullptr;
}

__declspec(dllexport) int WINAPI RARReadHeader(HANDLE handle, RARHeaderData* header)
{
    auto* archive = static_cast<StandInArchive*>(handle);
    bool isClean = header->CmtBuf == nullptr && header->CmtBufSize == 0;
    if (!NextEntry(*archive)) {
        Log("header|end\n");
        return ERAR_END_ARCHIVE;
    }
    Log("header|%s|%s\n", archive->name, isClean ? "no-comment-buffer" : "comment-buffer");
    snprintf(header->FileName, sizeof header->FileName, "%s", archive->name);
    header->UnpSize = static_cast<unsigned int>(strlen(archive->content));
    return 0;
}

#ifndef STANDIN_WITHOUT_PROCESS_FILE
__declspec(dllexport) int WINAPI RARProcessFileW(HANDLE handle, int operation, wchar_t* folder, wchar_t* name)
{
    auto* archive = static_cast<StandInArchive*>(handle);
    char folderText[1024];
    Narrow(folder, folderText);
    Log("process|%d|%s|%s|%s\n", operation, folder ? folderText : "(null)", name ? "name" : "no-name", archive->name);
    if (archive->name[0] == '!')
        return ERAR_BAD_DATA;
    if (operation != RAR_EXTRACT)
        return 0;
    auto length = static_cast<LPARAM>(strlen(archive->content));
    if (archive->callback &&
        archive->callback(UCM_PROCESSDATA, archive->userData, reinterpret_cast<LPARAM>(archive->content), length) == -1)
        return ERAR_UNKNOWN;
    return WriteEntry(*archive, folder ? folder : L"");
}
#endif

__declspec(dllexport) int WINAPI RARCloseArchive(HANDLE handle)
{
    Log("close\n");
    HeapFree(GetProcessHeap(), 0, handle);
    return 0;
}

} // extern "C"
