#include "archive/archive.h"
#include "archive/unrar_records.h"
#include "base/file_writer.h"
#include <cstddef>
#include <cstring>

namespace {

#ifdef _WIN64
static_assert(sizeof(RAROpenArchiveDataEx) == 184 && offsetof(RAROpenArchiveDataEx, CmtBuf) == 24);
static_assert(sizeof(RARHeaderData) == 584 && offsetof(RARHeaderData, CmtBuf) == 560);
#endif

constexpr unsigned int RAR_OM_EXTRACT = 1;
constexpr int RAR_SKIP = 0;
constexpr int RAR_EXTRACT = 2;
constexpr DWORD ERAR_EOPEN = 15;
constexpr unsigned int COMMENT_BYTES = 16384;
constexpr DWORD ATTRIBUTE_COMPRESSED = FILE_ATTRIBUTE_COMPRESSED;
// The library's callback messages and answers.
constexpr UINT UCM_PROCESSDATA = 1;
constexpr UINT UCM_CHANGEVOLUME = 0;
constexpr UINT UCM_CHANGEVOLUMEW = 3;
constexpr LPARAM RAR_VOL_NOTIFY = 1;
constexpr int CALLBACK_GO_ON = 1;
constexpr int CALLBACK_CANCEL = -1;
// A target name: a destination of up to a whole line and a header's name always fit.
constexpr size_t TARGET_CHARS = LINE_BUFFER_CHARS + MAX_PATH_CHARS + 2;

using OpenArchiveFunction = HANDLE(WINAPI*)(RAROpenArchiveDataEx* request);
using ReadHeaderFunction = int(WINAPI*)(HANDLE archive, RARHeaderData* header);
using ProcessFileFunction = int(WINAPI*)(HANDLE archive, int operation, wchar_t* folder, wchar_t* name);
using CloseArchiveFunction = int(WINAPI*)(HANDLE archive);
using UnrarCallback = int(CALLBACK*)(UINT message, LPARAM userData, LPARAM first, LPARAM second);

struct UnrarFunctions {
    OpenArchiveFunction openArchive;
    ReadHeaderFunction readHeader;
    ProcessFileFunction processFile;
    CloseArchiveFunction closeArchive;
};

template <typename Function>
bool FindExport(HMODULE library, const char* name, Function& function)
{
    FARPROC address = GetProcAddress(library, name);
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return address != nullptr;
}

bool FindUnrarFunctions(HMODULE library, UnrarFunctions& unrar)
{
    return FindExport(library, "RAROpenArchiveEx", unrar.openArchive) &&
           FindExport(library, "RARReadHeader", unrar.readHeader) &&
           FindExport(library, "RARProcessFileW", unrar.processFile) &&
           FindExport(library, "RARCloseArchive", unrar.closeArchive);
}

// The library cannot read an archive the file system keeps compressed; the failure value
// of GetFileAttributesW has the bit set too, so an unreadable archive is copied as well.
bool NeedsTemporaryCopy(const wchar_t* archive)
{
    return (GetFileAttributesW(archive) & ATTRIBUTE_COMPRESSED) != 0;
}

// The path the library writes an entry to: its name from the header (in the ANSI code
// page, '/' read as a backslash) below the destination, made full. Only announced here.
void ComposeTarget(wchar_t (&target)[TARGET_CHARS], const wchar_t* destination, const RARHeaderData& header)
{
    wchar_t relative[MAX_PATH_CHARS];
    int bytes = static_cast<int>(strnlen(header.FileName, sizeof header.FileName));
    int units = MultiByteToWideChar(CP_ACP, 0, header.FileName, bytes, relative, MAX_PATH_CHARS - 1);
    relative[units > 0 ? units : 0] = 0;
    for (wchar_t* p = relative; *p; ++p)
        if (*p == L'/')
            *p = L'\\';
    size_t length = wcslen(destination);
    const wchar_t* separator = length && destination[length - 1] != L'\\' ? L"\\" : L"";
    wchar_t joined[TARGET_CHARS];
    (void)StringCchPrintfW(joined, TARGET_CHARS, L"%s%s%s", destination, separator, relative);
    DWORD full = GetFullPathNameW(joined, TARGET_CHARS, target, nullptr);
    if (!full || full >= TARGET_CHARS)
        (void)StringCchCopyW(target, TARGET_CHARS, joined);
}

// The library's progress inside an entry goes to the observer, whose answer can end the
// extraction; the library asks for no password and no other volume.
int CALLBACK AnswerLibrary(UINT message, LPARAM userData, LPARAM, LPARAM second)
{
    auto& stopped = *reinterpret_cast<DWORD*>(userData);
    if (message == UCM_PROCESSDATA) {
        stopped = ReportProgress(static_cast<ULONGLONG>(second));
        return stopped == ERROR_SUCCESS ? CALLBACK_GO_ON : CALLBACK_CANCEL;
    }
    bool isNotice = (message == UCM_CHANGEVOLUME || message == UCM_CHANGEVOLUMEW) && second == RAR_VOL_NOTIFY;
    return isNotice ? CALLBACK_GO_ON : CALLBACK_CANCEL;
}

// Extracts the current entry once its target is announced: an entry the observer made is
// skipped, one it refuses ends the extraction with its answer.
DWORD ExtractEntry(const UnrarFunctions& unrar, HANDLE archive, wchar_t* destination, const RARHeaderData& header)
{
    wchar_t target[TARGET_CHARS];
    ComposeTarget(target, destination, header);
    DWORD answer = AnnounceLibraryWrite(target);
    if (answer != ERROR_SUCCESS && answer != CHANGE_MADE_BY_OBSERVER)
        return answer;
    int operation = answer == ERROR_SUCCESS ? RAR_EXTRACT : RAR_SKIP;
    auto code = static_cast<DWORD>(unrar.processFile(archive, operation, destination, nullptr));
    if (operation == RAR_EXTRACT)
        ReportLibraryWrite(target, code);
    return code;
}

// Extracts every entry in turn; returns the code that stopped the loop (10 at the end), or
// the observer's answer that stopped it.
DWORD ExtractEntries(const UnrarFunctions& unrar, HANDLE archive, wchar_t* destination, const DWORD& stopped)
{
    RARHeaderData header = {};
    for (;;) {
        int code = unrar.readHeader(archive, &header);
        if (code)
            return static_cast<DWORD>(code);
        DWORD result = ExtractEntry(unrar, archive, destination, header);
        if (result)
            return stopped ? stopped : result;
    }
}

DWORD OpenAndExtract(const UnrarFunctions& unrar, wchar_t* archive, wchar_t* destination)
{
    char comment[COMMENT_BYTES];
    DWORD stopped = ERROR_SUCCESS;
    RAROpenArchiveDataEx request = {};
    request.ArcNameW = archive;
    request.OpenMode = RAR_OM_EXTRACT;
    request.CmtBuf = comment;
    request.CmtBufSize = COMMENT_BYTES;
    request.Callback = reinterpret_cast<void*>(static_cast<UnrarCallback>(AnswerLibrary));
    request.UserData = reinterpret_cast<LPARAM>(&stopped);
    HANDLE handle = unrar.openArchive(&request);
    DWORD result = request.OpenResult;
    if (result == ERROR_SUCCESS)
        result = handle ? ExtractEntries(unrar, handle, destination, stopped) : ERAR_EOPEN;
    if (handle)
        unrar.closeArchive(handle);
    return result;
}

} // namespace

// Extracts a RAR archive under 'destination' through the UnRAR library, loaded for this
// call from the program's folder or the system folder. Results: 1157 without the library,
// E_NOINTERFACE when a function is missing, else the library's code (10 when complete).
DWORD ExtractRar(const wchar_t* archive, const wchar_t* destination)
{
    // The library's calls take writable texts: it gets copies, never the caller's own.
    wchar_t source[LINE_BUFFER_CHARS];
    wchar_t target[LINE_BUFFER_CHARS];
    if (CopyText(source, archive ? archive : L"") != ERROR_SUCCESS ||
        CopyText(target, destination ? destination : L"") != ERROR_SUCCESS)
        return ERROR_FILENAME_EXCED_RANGE;
    HMODULE library = LoadLibraryExW(L"UnRAR", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!library)
        return ERROR_DLL_NOT_FOUND;
    UnrarFunctions unrar;
    DWORD result = static_cast<DWORD>(E_NOINTERFACE);
    if (FindUnrarFunctions(library, unrar)) {
        wchar_t copy[MAX_PATH_CHARS] = L"";
        bool isCopied = NeedsTemporaryCopy(source);
        if (isCopied)
            CopyToTemporaryFile(source, L"UNI", copy);
        result = OpenAndExtract(unrar, isCopied ? copy : source, target);
        if (copy[0])
            (void)DeleteOneFile(copy);
    }
    FreeLibrary(library);
    return result;
}
