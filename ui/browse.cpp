// Picking a file for a dialog's text field: the first file dialog found among the
// providers, the folder of the last file chosen remembered in the registry.
#include "platform/device_libraries.h"
#include "resources/resource.h"
#include "ui/ui.h"

namespace {

constexpr size_t FILTER_CHARS = 1024;
constexpr size_t TITLE_CHARS = 256;
constexpr size_t MESSAGE_CHARS = 1024;
constexpr REGSAM KEY_ACCESS = 0xF003F;          // KEY_ALL_ACCESS
constexpr DWORD DIALOG_FLAGS = 0x11000800;      // OFN_PATHMUSTEXIST and two flags of the handheld's
constexpr DWORD SORT_BY_NAME = 0x8002;          // ascending by name (extended record only)
constexpr DWORD EXTENDED_FLAGS = 2;
constexpr wchar_t SETTINGS_KEY[] = L"Software\\Varnolt";
constexpr wchar_t BROWSE_FOLDER_VALUE[] = L"BrowseFile";
constexpr wchar_t ROOT_FOLDER[] = L"\\";

using RecordEntry = BOOL (*)(OPENFILENAMEW* record);
using SaveFlagAndRecordEntry = BOOL (*)(BOOL save, OPENFILENAMEW* record);

// A file dialog that may be installed, tried in table order.
struct FileDialogProvider {
    const wchar_t* library;
    const char* entryPoint;
    bool extendedRecord;            // takes OPENFILENAMEEX
    bool saveFlagFirst;             // called as entry(0, record)
    const wchar_t* installDirKey;   // HKLM key whose InstallDir holds the library when the name finds none
    bool extensionWithoutDot;       // the desktop's own dialog puts its own dot before the default extension
};

constexpr FileDialogProvider PROVIDERS[] = {
    {L"AygShell", "GetOpenFileNameEx", true, false, nullptr, false},
    {L"RFileShell", "RShellGetOpenFileName", false, false, L"SOFTWARE\\Apps\\Resco Explorer", false},
    {L"tGetFile", "tGetFile", false, true, nullptr, false},
    {L"CoreDll", "GetOpenFileNameW", false, false, nullptr, true},
};
constexpr size_t SYSTEM_DIALOG = 3;
constexpr size_t NO_PROVIDER = ARRAYSIZE(PROVIDERS);

HKEY OpenOrCreateKey(HKEY root, const wchar_t* path)
{
    HKEY key;
    (void)CreateRegistryKey(root, path, KEY_ACCESS, &key);
    return key;
}

// The string value 'name' of 'key' into 'text'; its length, 0 when it is missing, empty
// or not a string that fits.
size_t ReadStringValue(HKEY key, const wchar_t* name, wchar_t (&text)[MAX_PATH_CHARS])
{
    DWORD type = 0;
    DWORD bytes = sizeof text - sizeof(wchar_t);
    text[0] = 0;
    if (!key || RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        text[0] = 0;
        return 0;
    }
    text[bytes / sizeof(wchar_t)] = 0;
    return wcslen(text);
}

// Loads the filter string 'id' as the dialog's list of NUL-separated description and
// pattern texts, and takes the default extension from the first pattern list: from its
// first '.' to the first ';' (none without a '.'). False when the string is missing.
bool LoadFilter(UINT id, wchar_t (&filter)[FILTER_CHARS], wchar_t (&extension)[MAX_PATH_CHARS])
{
    extension[0] = 0;
    int length = LoadProgramString(instanceHandle, id, filter, FILTER_CHARS - 1);   // room for the list's second NUL
    if (length <= 0)
        return false;
    for (int i = 0; i < length; ++i)
        if (filter[i] == L'|')
            filter[i] = 0;
    filter[length] = filter[length + 1] = 0;
    const wchar_t* patterns = filter + wcslen(filter) + 1;
    if (const wchar_t* dot = wcschr(patterns, L'.')) {
        if (CopyText(extension, dot) != ERROR_SUCCESS)
            extension[0] = 0;
        extension[wcscspn(extension, L";")] = 0;
    }
    return true;
}

HMODULE LoadProviderLibrary(const FileDialogProvider& provider)
{
    HMODULE library = LoadDeviceLibrary(provider.library, provider.entryPoint);
    if (library || !provider.installDirKey)
        return library;
    HKEY key = OpenOrCreateKey(HKEY_LOCAL_MACHINE, provider.installDirKey);
    wchar_t path[MAX_PATH_CHARS];
    if (ReadStringValue(key, L"InstallDir", path) && AppendPathComponent(path, provider.library))
        library = LoadDeviceLibrary(path, provider.entryPoint);
    if (key)
        RegCloseKey(key);
    return library;
}

BOOL CallProvider(const FileDialogProvider& provider, FARPROC entry, OPENFILENAMEEX& record,
                  const wchar_t* extension)
{
    record.base.lStructSize = provider.extendedRecord ? sizeof record : sizeof record.base;
    record.base.lpstrDefExt = !*extension ? nullptr : provider.extensionWithoutDot ? extension + 1 : extension;
    if (provider.saveFlagFirst)
        return reinterpret_cast<SaveFlagAndRecordEntry>(reinterpret_cast<void*>(entry))(FALSE, &record.base);
    return reinterpret_cast<RecordEntry>(reinterpret_cast<void*>(entry))(&record.base);
}

// Shows the first provider that is installed and has its entry point; its answer is
// final. 'used' tells which one it was (NO_PROVIDER when none could be called).
BOOL AskFirstProvider(OPENFILENAMEEX& record, const wchar_t* extension, size_t& used)
{
    used = NO_PROVIDER;
    for (size_t i = 0; i < ARRAYSIZE(PROVIDERS); ++i) {
        HMODULE library = LoadProviderLibrary(PROVIDERS[i]);
        if (!library)
            continue;
        FARPROC entry = GetProcAddress(library, PROVIDERS[i].entryPoint);
        if (!entry) {
            FreeLibrary(library);
            continue;
        }
        BOOL chosen = CallProvider(PROVIDERS[i], entry, record, extension);
        FreeLibrary(library);
        used = i;
        return chosen;
    }
    return FALSE;
}

// Where the system's dialog fails (Smartphone 2003), advises installing a provider and
// offers the default file \My Documents\Varnolt<extension> instead; true when accepted.
bool OfferDefaultFile(HWND owner, wchar_t (&file)[MAX_PATH_CHARS], const wchar_t* extension, const wchar_t* title)
{
    if (FAILED(StringCchPrintfW(file, MAX_PATH_CHARS, L"\\My Documents\\%s%s", L"Varnolt", extension)))
        return false;
    wchar_t format[MESSAGE_CHARS] = {};
    wchar_t message[MESSAGE_CHARS] = {};
    LoadProgramString(IDS_BROWSE_ADVICE, format);
    StringCchPrintfW(message, MESSAGE_CHARS, format, file);
    return outwardCalls.messageBox(owner, message, title, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// Stores the folder of 'file' (up to and with its last backslash) as BrowseFile.
void RememberFolder(HKEY settings, const wchar_t* file)
{
    wchar_t folder[MAX_PATH_CHARS];
    const wchar_t* last = wcsrchr(file, L'\\');
    if (!settings || !last || CopyText(folder, file) != ERROR_SUCCESS)
        return;
    folder[last - file + 1] = 0;
    auto bytes = static_cast<DWORD>((wcslen(folder) + 1) * sizeof(wchar_t));
    (void)SetRegistryValue({HKEY_CURRENT_USER, SETTINGS_KEY, settings}, BROWSE_FOLDER_VALUE, REG_SZ, folder, bytes);
}

} // namespace

size_t AppendPathComponent(wchar_t (&path)[MAX_PATH_CHARS], const wchar_t* name)
{
    size_t length = wcslen(path);
    bool separator = length == 0 || path[length - 1] != L'\\';
    if (length + separator + wcslen(name) >= MAX_PATH_CHARS)
        return 0;
    if (separator)
        path[length++] = L'\\';
    StringCchCopyW(path + length, MAX_PATH_CHARS - length, name);
    return wcslen(path);
}

DWORD BrowseForFile(HWND owner, int control, UINT filterId)
{
    return BrowseForFileOnPlatform(owner, control, filterId, platformFlags);
}

DWORD BrowseForFileOnPlatform(HWND owner, int control, UINT filterId, DWORD platform)
{
    wchar_t file[MAX_PATH_CHARS] = {};
    wchar_t initialFolder[MAX_PATH_CHARS] = {};
    wchar_t filter[FILTER_CHARS] = {};
    wchar_t extension[MAX_PATH_CHARS] = {};
    wchar_t title[TITLE_CHARS] = {};
    GetDlgItemTextW(owner, control, file, MAX_PATH_CHARS);
    HKEY settings = OpenOrCreateKey(HKEY_CURRENT_USER, SETTINGS_KEY);
    LoadProgramString(IDS_BROWSE_TITLE, title);

    OPENFILENAMEEX record = {};
    record.base.hwndOwner = owner;
    record.base.hInstance = instanceHandle;
    record.base.lpstrFilter = LoadFilter(filterId, filter, extension) ? filter : nullptr;
    record.base.lpstrFile = file;
    record.base.nMaxFile = MAX_PATH_CHARS;
    record.base.lpstrInitialDir = ReadStringValue(settings, BROWSE_FOLDER_VALUE, initialFolder) ? initialFolder : ROOT_FOLDER;
    record.base.lpstrTitle = title;
    record.base.Flags = DIALOG_FLAGS;
    record.dwSortOrder = SORT_BY_NAME;
    record.ExFlags = EXTENDED_FLAGS;

    size_t used = NO_PROVIDER;
    DWORD chosen = static_cast<DWORD>(AskFirstProvider(record, extension, used));
    file[MAX_PATH_CHARS - 1] = 0;       // whatever the provider left there
    if (!chosen && used == SYSTEM_DIALOG && !(platform & (PLATFORM_POCKET_PC | PLATFORM_CE5)))
        chosen = OfferDefaultFile(owner, file, extension, title) ? 1 : 0;
    if (chosen) {
        SetFocus(GetDlgItem(owner, control));
        SetDlgItemTextW(owner, control, file);
        RememberFolder(settings, file);
    }
    if (settings)
        RegCloseKey(settings);
    return chosen;
}
