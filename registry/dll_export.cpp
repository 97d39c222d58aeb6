#include "registry/registry.h"

namespace {

constexpr size_t EXPORT_NAME_BYTES = 1024;
const DWORD NO_INTERFACE = static_cast<DWORD>(E_NOINTERFACE);

// Arguments travel as pointer-sized values so that a text argument is a whole pointer.
using ExportArgument = INT_PTR;

// The values an export is called with; the texts they point to are copies of their own,
// ended, which the callee may even write into.
struct ExportCall {
    ExportArgument arguments[MAX_EXPORT_ARGUMENTS];
    size_t count;
    PieceTexts texts;
};

// "#n" is the number n (a negative one sign-extended; reading stops at the piece's end),
// anything else a pointer to the argument's text.
bool ConvertArguments(const ExportRequest& request, ExportCall& call)
{
    call.count = request.count;
    for (size_t i = 0; i < request.count; ++i) {
        TextPiece text = request.arguments[i];
        if (UnitOfPiece(text, 0) == L'#') {
            call.arguments[i] = static_cast<ExportArgument>(ReadDecimalNumber(text.start + 1));
            continue;
        }
        const wchar_t* copy = AddPieceText(call.texts, text);
        if (!copy)
            return false;
        call.arguments[i] = reinterpret_cast<ExportArgument>(copy);
    }
    return true;
}

// Calls the export with exactly as many arguments as were given, so that the callee's
// own convention holds on every platform; the low 32 bits of its return value count.
DWORD InvokeExport(FARPROC address, const ExportCall& call)
{
    using Export0 = DWORD(WINAPI*)();
    using Export1 = DWORD(WINAPI*)(ExportArgument);
    using Export2 = DWORD(WINAPI*)(ExportArgument, ExportArgument);
    using Export3 = DWORD(WINAPI*)(ExportArgument, ExportArgument, ExportArgument);
    using Export4 = DWORD(WINAPI*)(ExportArgument, ExportArgument, ExportArgument, ExportArgument);
    auto untyped = reinterpret_cast<void (*)()>(address);
    const ExportArgument* a = call.arguments;
    switch (call.count) {
    case 0: return reinterpret_cast<Export0>(untyped)();
    case 1: return reinterpret_cast<Export1>(untyped)(a[0]);
    case 2: return reinterpret_cast<Export2>(untyped)(a[0], a[1]);
    case 3: return reinterpret_cast<Export3>(untyped)(a[0], a[1], a[2]);
    default: return reinterpret_cast<Export4>(untyped)(a[0], a[1], a[2], a[3]);
    }
}

// The export's name in the code page that export tables use. A name that does not convert
// exactly (too long, or a character the code page lacks or would only approximate) names no
// export: a near match such as a full-width letter must not call a different function.
bool ConvertExportName(TextPiece name, char (&exportName)[EXPORT_NAME_BYTES])
{
    exportName[0] = 0;
    if (!name.length)
        return true;
    BOOL approximated = FALSE;
    int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.start, static_cast<int>(name.length), exportName,
                                    EXPORT_NAME_BYTES - 1, nullptr, &approximated);
    if (!bytes || approximated)
        return false;
    exportName[bytes] = 0;
    return true;
}

bool IsBareName(const wchar_t* library)
{
    return !wcspbrk(library, L"\\/:");
}

// Loads 'library' without looking in the current folder or along PATH: a bare name from
// the program's folder or the system folder, a path (made full) as that very file, whose
// own folder is searched for the libraries it needs. nullptr when it cannot be loaded.
HMODULE LoadLibraryFromKnownPlaces(const wchar_t* library)
{
    if (IsBareName(library))
        return LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    wchar_t full[MAX_PATH_CHARS];
    DWORD length = GetFullPathNameW(library, MAX_PATH_CHARS, full, nullptr);
    if (!length || length >= MAX_PATH_CHARS)
        return nullptr;
    return LoadLibraryExW(full, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

// Announces the call with the library's full path (a bare name stays bare: it is loaded
// from the same known places again), so that what it registers can be unregistered.
DWORD AnnounceLibraryCall(const wchar_t* library, TextPiece exportName)
{
    wchar_t name[EXPORT_NAME_BYTES];        // fits: the name converted to at most as many bytes
    if (CopyPiece(name, exportName) != ERROR_SUCCESS)
        return NO_INTERFACE;
    wchar_t full[MAX_PATH_CHARS];
    DWORD length = IsBareName(library) ? 0 : GetFullPathNameW(library, MAX_PATH_CHARS, full, nullptr);
    bool isFull = length && length < MAX_PATH_CHARS;
    return AnnounceAction(ChangeKind::RegisterLibrary, isFull ? full : library, name);
}

} // namespace

ExportRequest ReadExportRequest(const wchar_t* rest)
{
    ExportRequest request = {};
    if (!*rest) {
        request.name = WholeText(L"DllRegisterServer");
        return request;
    }
    ArgumentPieces parts = CutArgument(rest, MAX_EXPORT_ARGUMENTS + 1);
    request.name = parts.pieces[0];
    request.count = parts.count - 1;
    for (size_t i = 0; i < request.count; ++i)
        request.arguments[i] = parts.pieces[i + 1];
    return request;
}

// CDLL and the action for .dll/.ocx/.ax files: loads 'library', calls the export named
// by 'rest' (DllRegisterServer when empty) and frees the library again, so every call
// starts fresh. E_NOINTERFACE when the library or the export cannot be found.
DWORD CallDllExport(const wchar_t* library, const wchar_t* rest)
{
    ExportRequest request = ReadExportRequest(rest);
    char exportName[EXPORT_NAME_BYTES];
    if (!ConvertExportName(request.name, exportName))
        return NO_INTERFACE;
    ExportCall call;
    if (!ConvertArguments(request, call))
        return ERROR_INSUFFICIENT_BUFFER;
    DWORD answer = AnnounceLibraryCall(library, request.name);
    if (answer != ERROR_SUCCESS)
        return ResultOfUntakenAction(answer);
    DWORD previousMode = 0;
    bool quieted = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    HMODULE module = LoadLibraryFromKnownPlaces(library);
    if (quieted)
        SetThreadErrorMode(previousMode, nullptr);
    if (!module)
        return NO_INTERFACE;
    FARPROC address = GetProcAddress(module, exportName);
    DWORD result = address ? InvokeExport(address, call) : NO_INTERFACE;
    FreeLibrary(module);
    return result;
}
