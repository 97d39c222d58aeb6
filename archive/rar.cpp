#include "archive/archive.h"
#include "archive/unrar_records.h"
#include <cstddef>

namespace {

#ifdef _WIN64
static_assert(sizeof(RAROpenArchiveDataEx) == 184 && offsetof(RAROpenArchiveDataEx, CmtBuf) == 24);
static_assert(sizeof(RARHeaderData) == 584 && offsetof(RARHeaderData, CmtBuf) == 560);
#endif

constexpr unsigned int RAR_OM_EXTRACT = 1;
constexpr int RAR_EXTRACT = 2;
constexpr DWORD ERAR_EOPEN = 15;
constexpr unsigned int COMMENT_BYTES = 16384;
constexpr DWORD ATTRIBUTE_COMPRESSED = FILE_ATTRIBUTE_COMPRESSED;

using OpenArchiveFunction = HANDLE(WINAPI*)(RAROpenArchiveDataEx* request);
using ReadHeaderFunction = int(WINAPI*)(HANDLE archive, RARHeaderData* header);
using ProcessFileFunction = int(WINAPI*)(HANDLE archive, int operation, wchar_t* folder, wchar_t* name);
using CloseArchiveFunction = int(WINAPI*)(HANDLE archive);

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

// Copies 'archive' to a new "UNI" file in the temporary folder and names it in 'copy'
// (left empty when no name could be made). A failed copy leaves the new file empty, so
// opening it fails in the library.
void MakeTemporaryCopy(const wchar_t* archive, wchar_t (&copy)[MAX_PATH_CHARS])
{
    wchar_t folder[MAX_PATH_CHARS];
    DWORD length = GetTempPathW(MAX_PATH_CHARS, folder);
    if (!length || length >= MAX_PATH_CHARS || !GetTempFileNameW(folder, L"UNI", 0, copy)) {
        copy[0] = 0;
        return;
    }
    (void)CopyFileW(archive, copy, FALSE);
}

// Extracts every entry in turn; returns the code that stopped the loop (10 at the end).
DWORD ExtractEntries(const UnrarFunctions& unrar, HANDLE archive, wchar_t* destination)
{
    RARHeaderData header = {};
    for (;;) {
        int code = unrar.readHeader(archive, &header);
        if (code)
            return static_cast<DWORD>(code);
        code = unrar.processFile(archive, RAR_EXTRACT, destination, nullptr);
        if (code)
            return static_cast<DWORD>(code);
    }
}

DWORD OpenAndExtract(const UnrarFunctions& unrar, wchar_t* archive, wchar_t* destination)
{
    char comment[COMMENT_BYTES];
    RAROpenArchiveDataEx request = {};
    request.ArcNameW = archive;
    request.OpenMode = RAR_OM_EXTRACT;
    request.CmtBuf = comment;
    request.CmtBufSize = COMMENT_BYTES;
    HANDLE handle = unrar.openArchive(&request);
    DWORD result = request.OpenResult;
    if (result == ERROR_SUCCESS)
        result = handle ? ExtractEntries(unrar, handle, destination) : ERAR_EOPEN;
    if (handle)
        unrar.closeArchive(handle);
    return result;
}

} // namespace

// Extracts a RAR archive under 'destination' through the UnRAR library, loaded for this
// call from the program's folder or the system folder. Results: 1157 without the library,
// E_NOINTERFACE when a function is missing, else the library's code (10 when complete).
DWORD ExtractRar(wchar_t* archive, wchar_t* destination)
{
    wchar_t empty[1] = L"";
    HMODULE library = LoadLibraryExW(L"UnRAR", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!library)
        return ERROR_DLL_NOT_FOUND;
    UnrarFunctions unrar;
    DWORD result = static_cast<DWORD>(E_NOINTERFACE);
    if (FindUnrarFunctions(library, unrar)) {
        wchar_t* source = archive ? archive : empty;
        wchar_t copy[MAX_PATH_CHARS] = L"";
        bool isCopied = NeedsTemporaryCopy(source);
        if (isCopied)
            MakeTemporaryCopy(source, copy);
        result = OpenAndExtract(unrar, isCopied ? copy : source, destination ? destination : empty);
        if (copy[0])
            DeleteFileW(copy);
    }
    FreeLibrary(library);
    return result;
}
