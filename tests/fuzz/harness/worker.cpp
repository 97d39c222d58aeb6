// Runs fuzz inputs inside this process with their side effects fenced in:
// - the predefined registry roots are redirected into a throw-away key;
// - every file change the program reports to the change observer is refused (and
//   reported) outside the sandbox folder, and the outward calls that would open something
//   through the shell or show a message box are replaced by ones that refuse (and report);
// - scripts run in a language of the harness's own: the shipped keyword table with every
//   command that acts on the machine replaced by a recorder (REGX runs for real, as the
//   registry is fenced; FILE and LINK read their arguments but touch no file);
// - texts end right before a no-access page, so a read past their end faults;
// - DLGX item lists go to the pure reader, whose items must stay inside the list; real
//   dialogs open only where asked for and windows can be made, and the worker answers them.
//   The lists lie on read-only pages, so a write into one faults;
// - scripts run with the journal on (kept in the sandbox): each run is undone, and the
//   fenced key and folder must then be what they were before the input.
#include "fuzz/harness/fuzz.h"
#include "app/app.h"
#include "archive/archive.h"
#include "commands/commands.h"
#include "base/changes.h"
#include "base/file_writer.h"
#include "base/outward_calls.h"
#include "html/html.h"
#include "html/html_document.h"
#include "journal/journal.h"
#include "platform/platform.h"
#include "registry/registry.h"
#include "support/snapshot.h"
#include "ui/ui.h"
#include <shellapi.h>
#include <cstdlib>
#include <cstring>

namespace fuzz {
namespace {

WorkerProgress* activeProgress = nullptr;
wchar_t sandbox[MAX_PATH];          // "...\vfuzz-<pid>\" with its final backslash
bool fenceBroken = false;
bool undoMissed = false;
constexpr wchar_t JOURNAL_FOLDER[] = L"journal";     // in the sandbox: LOCALAPPDATA of the worker

// --- the write fence ---

void ReportBreach(const wchar_t* what, const wchar_t* path)
{
    fenceBroken = true;
    if (activeProgress && !activeProgress->breach[0]) {
        wchar_t entry[MAX_PATH];
        StringCchPrintfW(entry, MAX_PATH, L"%s %s", what, path ? path : L"");
        StringCchCopyW(activeProgress->breach, MAX_PATH, entry);
    }
}

bool IsInsideSandbox(const wchar_t* path)
{
    wchar_t full[MAX_PATH];
    DWORD length = path ? GetFullPathNameW(path, MAX_PATH, full, nullptr) : 0;
    if (length == 0 || length >= MAX_PATH)
        return false;
    return _wcsnicmp(full, sandbox, wcslen(sandbox)) == 0;
}

bool IsAllowedWrite(const wchar_t* what, const wchar_t* path)
{
    if (IsInsideSandbox(path))
        return true;
    ReportBreach(what, path);
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
}

// The file writer reports every file it is about to change, with its full path, to the
// change observer: the fence refuses each one outside the sandbox. Registry changes go
// on, as the registry is fenced; an action on the machine (a program started, keys sent,
// power) is refused wherever it would act.
bool IsRegistryChange(ChangeKind kind)
{
    return kind == ChangeKind::CreateKey || kind == ChangeKind::SetValue || kind == ChangeKind::DeleteValue ||
           kind == ChangeKind::DeleteKeyTree;
}

bool IsAction(ChangeKind kind)
{
    for (ChangeKind action : {ChangeKind::StartProgram, ChangeKind::EndProgram, ChangeKind::SendInput,
                              ChangeKind::PowerAction, ChangeKind::RegisterLibrary, ChangeKind::PlaySound,
                              ChangeKind::DisplayOrientation})
        if (kind == action)
            return true;
    return false;
}

// Any other kind changes the file 'path' names (and a hard link's target, in 'name').
DWORD RefuseOutsideSandbox(void*, const Change& change)
{
    if (IsRegistryChange(change.kind))
        return ERROR_SUCCESS;
    if (IsAction(change.kind)) {
        ReportBreach(L"action on", change.path);
        return ERROR_ACCESS_DENIED;
    }
    bool allowed = IsAllowedWrite(L"file change", change.path) &&
                   (change.kind != ChangeKind::CreateHardLink || IsAllowedWrite(L"link to", change.name));
    return allowed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

const ChangeObserver WRITE_FENCE = {RefuseOutsideSandbox, nullptr, nullptr, nullptr};

// Nothing in a fuzz run may open a file or program through the shell or show a message
// box. The device entries are left as the program starts: they refuse and do nothing.
BOOL RefuseShellExecute(SHELLEXECUTEINFOW* request)
{
    ReportBreach(L"shell execute", request ? request->lpFile : nullptr);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

int RefuseMessageBox(HWND, const wchar_t* text, const wchar_t*, UINT)
{
    ReportBreach(L"message box", text);
    return 0;
}

void InstallWriteFence()
{
    SetChangeObserver(&WRITE_FENCE);
    outwardCalls.shellExecute = RefuseShellExecute;
    outwardCalls.messageBox = RefuseMessageBox;
}

// --- the sandbox folder ---

void RemoveTreeContents(const wchar_t* folder)
{
    wchar_t pattern[MAX_PATH];
    if (FAILED(StringCchPrintfW(pattern, MAX_PATH, L"%s\\*", folder)))
        return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!wcscmp(found.cFileName, L".") || !wcscmp(found.cFileName, L".."))
            continue;
        wchar_t path[MAX_PATH];
        if (FAILED(StringCchPrintfW(path, MAX_PATH, L"%s\\%s", folder, found.cFileName)))
            continue;
        SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTreeContents(path);
            RemoveDirectoryW(path);
        } else {
            DeleteFileW(path);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

struct SandboxPaths {
    wchar_t archive[MAX_PATH];
    wchar_t destination[MAX_PATH];      // four levels below the sandbox, so that climbing out
    wchar_t workFolder[MAX_PATH];       // of it by a few ".." still lands inside
};
SandboxPaths paths;

bool PrepareSandbox()
{
    wchar_t temp[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH)
        return false;
    if (FAILED(StringCchPrintfW(sandbox, MAX_PATH, L"%svfuzz-%lu\\", temp, GetCurrentProcessId())))
        return false;
    StringCchPrintfW(paths.archive, MAX_PATH, L"%sinput.tgz", sandbox);
    StringCchPrintfW(paths.destination, MAX_PATH, L"%sa\\b\\c\\dest", sandbox);
    StringCchPrintfW(paths.workFolder, MAX_PATH, L"%sa\\b\\c\\work", sandbox);
    CreateDirectoryW(sandbox, nullptr);
    wchar_t folder[MAX_PATH];
    StringCchPrintfW(folder, MAX_PATH, L"%s%s", sandbox, JOURNAL_FOLDER);
    CreateDirectoryW(folder, nullptr);
    SetEnvironmentVariableW(L"LOCALAPPDATA", folder);
    const wchar_t* const LEVELS[] = {L"a", L"a\\b", L"a\\b\\c", L"a\\b\\c\\dest", L"a\\b\\c\\work"};
    for (const wchar_t* level : LEVELS) {
        StringCchPrintfW(folder, MAX_PATH, L"%s%s", sandbox, level);
        CreateDirectoryW(folder, nullptr);
    }
    return SetCurrentDirectoryW(paths.workFolder) != FALSE;
}

// Everything in the sandbox outside the destination is a way out that the write fence
// let through (a relative climb); it is reported and removed.
void CheckSandboxFolder(const wchar_t* folder, int depth)
{
    wchar_t pattern[MAX_PATH];
    StringCchPrintfW(pattern, MAX_PATH, L"%s*", folder);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!wcscmp(found.cFileName, L".") || !wcscmp(found.cFileName, L".."))
            continue;
        wchar_t path[MAX_PATH];
        StringCchPrintfW(path, MAX_PATH, L"%s%s", folder, found.cFileName);
        bool expected = !_wcsicmp(path, paths.archive) || !_wcsicmp(path, paths.destination) ||
                        (depth == 0 && !_wcsicmp(found.cFileName, JOURNAL_FOLDER)) ||
                        !_wcsicmp(path, paths.workFolder) || (depth < 3 && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                                              found.cFileName[0] == L"abc"[depth] && !found.cFileName[1]);
        if (!expected)
            ReportBreach(L"left outside the destination:", path);
        else if (depth < 3 && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            StringCchCatW(path, MAX_PATH, L"\\");
            CheckSandboxFolder(path, depth + 1);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// --- the registry fence ---

const HKEY FENCED_ROOTS[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT, HKEY_USERS};
HKEY fenceKeys[ARRAYSIZE(FENCED_ROOTS)];
wchar_t fencePath[MAX_PATH];

bool RaiseRegistryFence()
{
    StringCchPrintfW(fencePath, MAX_PATH, L"Software\\VarnoltFuzz\\%lu", GetCurrentProcessId());
    for (size_t i = 0; i < ARRAYSIZE(FENCED_ROOTS); ++i) {
        wchar_t path[MAX_PATH];
        StringCchPrintfW(path, MAX_PATH, L"%s\\%zu", fencePath, i);
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &fenceKeys[i], nullptr))
            return false;
    }
    for (size_t i = 0; i < ARRAYSIZE(FENCED_ROOTS); ++i)
        if (RegOverridePredefKey(FENCED_ROOTS[i], fenceKeys[i]) != ERROR_SUCCESS)
            return false;
    return true;
}

void EmptyRegistryFence()
{
    for (HKEY key : fenceKeys)
        if (key)
            RegDeleteTreeW(key, nullptr);
}

void LowerRegistryFence()
{
    for (size_t i = 0; i < ARRAYSIZE(FENCED_ROOTS); ++i) {
        RegOverridePredefKey(FENCED_ROOTS[i], nullptr);
        if (fenceKeys[i])
            RegCloseKey(fenceKeys[i]);
        fenceKeys[i] = nullptr;
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, fencePath);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\VarnoltFuzz");     // only when no other worker uses it
}

// --- undo of every journaled input ---

void ReportUndoMiss(const std::wstring& what)
{
    undoMissed = true;
    if (activeProgress && !activeProgress->breach[0])
        StringCchCopyW(activeProgress->breach, MAX_PATH, what.c_str());
}

// The platform's own libraries keep what they look up under Software\Microsoft of the
// (fenced) roots (the shell its folders, for %W and the like): no change of the script's.
// That key is made before each input, as on any machine, and what is in it not compared.
void MakePlatformsKeys()
{
    for (HKEY key : fenceKeys) {
        HKEY made;
        if (RegCreateKeyExW(key, L"Software\\Microsoft", 0, nullptr, 0, KEY_READ, nullptr, &made, nullptr) == 0)
            RegCloseKey(made);
    }
}

bool IsPlatformsOwn(const std::wstring& line)
{
    constexpr wchar_t OWN[] = L"\\Software\\Microsoft";
    constexpr size_t OWN_CHARS = ARRAYSIZE(OWN) - 1;
    size_t path = line.find(L' ') + 1;
    if (line.compare(path, OWN_CHARS, OWN) != 0)
        return false;
    wchar_t next = path + OWN_CHARS < line.size() ? line[path + OWN_CHARS] : L' ';
    return next == L'\\' || next == L' ';
}

// What the fence holds: the four keys standing for the roots, and the sandbox's work area.
test::Snapshot FenceSnapshot()
{
    test::Snapshot lines;
    for (HKEY key : fenceKeys) {
        test::Snapshot keyLines = test::SnapshotOpenKey(key);
        lines.push_back(L"root");
        for (const auto& line : keyLines)
            if (!IsPlatformsOwn(line))
                lines.push_back(line);
    }
    std::wstring folder = sandbox;
    folder.pop_back();                  // its final backslash
    test::Snapshot files = test::SnapshotFolder(folder, JOURNAL_FOLDER);
    lines.insert(lines.end(), files.begin(), files.end());
    return lines;
}

// Runs 'body' as a journaled run, reports it and undoes it (without a journal of the
// undo's own); the fence must then be what it was. A run that passes goes.
template <typename Body>
void RunAndUndo(Body body)
{
    MakePlatformsKeys();
    test::Snapshot before = FenceSnapshot();
    BeginJournaledRun(L"fuzz input");
    body();
    wchar_t run[RUN_NAME_CHARS];
    EndJournaledRun(run);
    wchar_t folder[MAX_PATH_CHARS];
    DWORD result = ERROR_SUCCESS;
    if (*run && FindRun(run, folder) == ERROR_SUCCESS) {
        RunDocument document{};
        result = ReportRun(folder, document);
        if (result == ERROR_SUCCESS)
            result = UndoRun(folder, false, false, document);
        ReleaseRunDocument(document);
    }
    std::wstring difference = test::FirstDifference(before, FenceSnapshot());
    if (result != ERROR_SUCCESS || !difference.empty()) {
        wchar_t code[16];
        StringCchPrintfW(code, ARRAYSIZE(code), L"%08lX ", result);
        ReportUndoMiss(code + difference);
        return;
    }
    if (*run)
        (void)DeleteTreeUnobserved(folder);
}

// --- texts that end at a no-access page ---

struct GuardedText {
    void* block;
    wchar_t* text;
};

GuardedText PlaceBeforeGuardPage(const std::string& bytes)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    size_t units = bytes.size() / sizeof(wchar_t) + 1;
    size_t dataBytes = (units * sizeof(wchar_t) + system.dwPageSize - 1) / system.dwPageSize * system.dwPageSize;
    auto* block = static_cast<BYTE*>(VirtualAlloc(nullptr, dataBytes + system.dwPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!block)
        return {nullptr, nullptr};
    DWORD old;
    VirtualProtect(block + dataBytes, system.dwPageSize, PAGE_NOACCESS, &old);
    auto* text = reinterpret_cast<wchar_t*>(block + dataBytes) - units;
    memcpy(text, bytes.data(), (units - 1) * sizeof(wchar_t));
    text[units - 1] = 0;
    return {block, text};
}

// The text's pages become read-only: a reader that writes into it faults.
void MakeReadOnly(const GuardedText& text)
{
    auto* end = reinterpret_cast<BYTE*>(text.text + wcslen(text.text) + 1);
    DWORD old;
    VirtualProtect(text.block, static_cast<SIZE_T>(end - static_cast<BYTE*>(text.block)), PAGE_READONLY, &old);
}

// --- the targets ---

LONG64 recordedCommands = 0;

bool IsKeyword(const wchar_t* line, const wchar_t* keyword)
{
    return _wcsnicmp(line, keyword, 4) == 0;
}

// Stands in for every command that acts on the machine, and for lines without keyword.
// REGX runs, as the registry is fenced; FILE and LINK read and cut their arguments as for
// real but touch no file; the rest are only counted, with their argument text read to its end.
DWORD RecordCommand(const wchar_t* line, const wchar_t* args, ScriptContext&)
{
    ++recordedCommands;
    if (IsKeyword(line, L"REGX"))
        return RegistryCommand(args);
    if (IsKeyword(line, L"FILE"))
        return static_cast<DWORD>(ReadFileRequest(args).kind);
    if (IsKeyword(line, L"LINK")) {
        ShortcutRequest request;
        char bytes[SHORTCUT_BYTES];
        DWORD count = 0;
        DWORD result = ReadShortcutRequest(args, request);
        return result ? result : ComposeShortcutFile(request, bytes, count);
    }
    return static_cast<DWORD>(wcslen(args) & 3);
}

// The keywords that only move through the script or set its variables run as shipped.
bool ActsOnTheMachine(const wchar_t* keyword)
{
    for (const wchar_t* own : {L"BATC", L"IFEX", L"ELSE", L"CALL", L"GOTO", L"PROC", L"ENDP", L"EVAL"})
        if (!wcscmp(keyword, own))
            return false;
    return true;
}

KeywordEntry fuzzKeywords[64];
ScriptLanguage fuzzLanguage;

const ScriptLanguage* FuzzLanguage()
{
    if (fuzzLanguage.keywords)
        return &fuzzLanguage;
    fuzzLanguage = VARNOLT_LANGUAGE;
    fuzzLanguage.keywordCount = VARNOLT_LANGUAGE.keywordCount < ARRAYSIZE(fuzzKeywords) ? VARNOLT_LANGUAGE.keywordCount
                                                                                          : ARRAYSIZE(fuzzKeywords);
    for (size_t i = 0; i < fuzzLanguage.keywordCount; ++i) {
        fuzzKeywords[i] = VARNOLT_LANGUAGE.keywords[i];
        if (ActsOnTheMachine(fuzzKeywords[i].name))
            fuzzKeywords[i].handler = RecordCommand;
    }
    fuzzLanguage.keywords = fuzzKeywords;
    fuzzLanguage.noKeyword = RecordCommand;
    return &fuzzLanguage;
}

void RunScriptInput(const std::string& bytes)
{
    GuardedText script = PlaceBeforeGuardPage(bytes);
    if (!script.block)
        return;
    ZeroMemory(ScriptVariables, sizeof ScriptVariables);
    const ScriptLanguage* previous = InstallScriptLanguage(FuzzLanguage());
    RunAndUndo([&] { (void)RunScript(script.text, L"C:\\fuzz\\input.vrs"); });
    InstallScriptLanguage(previous);
    VirtualFree(script.block, 0, MEM_RELEASE);
    EmptyRegistryFence();
}

void RunRegistryInput(const std::string& bytes)
{
    GuardedText text = PlaceBeforeGuardPage(bytes);
    if (!text.block)
        return;
    (void)ImportRegistryText(text.text, nullptr);
    VirtualFree(text.block, 0, MEM_RELEASE);
    EmptyRegistryFence();
}

// The configuration manager writes only to the registry, which is fenced.
void RunProvisioningInput(const std::string& bytes)
{
    GuardedText text = PlaceBeforeGuardPage(bytes);
    if (!text.block)
        return;
    wchar_t* output = nullptr;
    (void)DMProcessConfigXML(text.text, CFGFLAG_PROCESS, &output);
    delete[] output;
    VirtualFree(text.block, 0, MEM_RELEASE);
    EmptyRegistryFence();
}

void RunArchiveInput(const std::string& bytes)
{
    HANDLE file = CreateFileW(paths.archive, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    wchar_t archive[MAX_PATH_CHARS];
    wchar_t destination[MAX_PATH_CHARS];
    if (CopyText(archive, paths.archive) || CopyText(destination, paths.destination))
        return;
    (void)ExtractTarGz(archive, destination);
    CheckSandboxFolder(sandbox, 0);
    RemoveTreeContents(paths.destination);
}

// --- DLGX item lists ---

bool IsInside(TextPiece text, const wchar_t* list, size_t length)
{
    return text.start >= list && text.start + text.length <= list + length;
}

// An item read from outside its list is the reader's fault: the worker stops there as a crash.
void CheckDialogItems(const DialogItemList& items, const wchar_t* list, size_t length)
{
    bool sound = items.count >= 1 && items.count <= MAX_DIALOG_ITEMS && items.hideCancel == (list[0] == L'#');
    for (int i = 0; sound && i < items.count; ++i) {
        const DialogItem& item = items.items[i];
        sound = IsInside(item.text, list, length) &&
                (!item.registryText.start || IsInside(item.registryText, list, length)) &&
                (item.hasControl || item.mark == L'@');
    }
    if (!sound)
        __builtin_trap();
}

bool CanShowWindows()
{
    static int answer = -1;
    if (answer < 0) {
        HWND probe = GetEnvironmentVariableW(DIALOG_WINDOWS_VARIABLE, nullptr, 0)
                         ? CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr)
                         : nullptr;
        answer = probe != nullptr;
        if (probe)
            DestroyWindow(probe);
    }
    return answer == 1;
}

uint64_t dialogIndex = 0;

BOOL CALLBACK ClickButtons(HWND control, LPARAM)
{
    wchar_t className[8] = {};
    if (GetClassNameW(control, className, ARRAYSIZE(className)) && !_wcsicmp(className, L"BUTTON") &&
        GetWindowLongPtrW(control, GWLP_ID) % 3 == static_cast<LONG_PTR>(dialogIndex % 3))
        SendMessageW(control, BM_CLICK, 0, 0);
    return TRUE;
}

BOOL CALLBACK AnswerOpenDialog(HWND window, LPARAM)
{
    wchar_t className[8] = {};
    if (!GetClassNameW(window, className, ARRAYSIZE(className)) || wcscmp(className, L"#32770") || !IsWindowVisible(window))
        return TRUE;
    EnumChildWindows(window, ClickButtons, 0);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(dialogIndex % 2 ? IDCANCEL : IDOK, BN_CLICKED), 0);
    return FALSE;
}

// Runs inside the dialog's own message loop.
void CALLBACK AnswerDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    EnumThreadWindows(GetCurrentThreadId(), AnswerOpenDialog, 0);
}

// Opens the list as DLGX would, with the registry fenced, and answers it: some of its
// buttons clicked, then Done or Cancel.
void ShowAnsweredDialog(const std::string& bytes, uint64_t index)
{
    GuardedText list = PlaceBeforeGuardPage(bytes);
    if (!list.block)
        return;
    MakeReadOnly(list);
    dialogIndex = index;
    UINT_PTR timer = SetTimer(nullptr, 0, 0, AnswerDialog);
    (void)ShowScriptDialog(WholeText(L"fuzz"), list.text, RegistryCommand);
    KillTimer(nullptr, timer);
    VirtualFree(list.block, 0, MEM_RELEASE);
}

void RunDialogInput(const std::string& bytes, uint64_t index)
{
    GuardedText list = PlaceBeforeGuardPage(bytes);
    if (!list.block)
        return;
    MakeReadOnly(list);
    size_t length = wcslen(list.text);
    DialogItemList items;
    ReadDialogItems(list.text, items);
    CheckDialogItems(items, list.text, length);
    VirtualFree(list.block, 0, MEM_RELEASE);
    if (index % DIALOG_WINDOW_EVERY == 0 && CanShowWindows())
        ShowAnsweredDialog(bytes, index);
    EmptyRegistryFence();
}

// The page's parts without a window: parsed, measured, laid out at a narrow and a wide
// width, and its text read back whole and character by character.
void LayOutHtml(const wchar_t* text, DWORD length)
{
    HtmlDocument document = {};
    HtmlLayout layout = {};
    HtmlFonts fonts = {};
    if (ParseHtml(text, length, document) == ERROR_SUCCESS && MeasureHtmlDocument(document, fonts) == ERROR_SUCCESS) {
        for (int width : {1, 600}) {
            if (LayoutHtmlDocument(document, fonts, width, layout) != ERROR_SUCCESS)
                continue;
            DWORD shown = GetHtmlLayoutText(document, layout, nullptr, 0);
            auto* buffer = static_cast<wchar_t*>(malloc((static_cast<size_t>(shown) + 1) * sizeof(wchar_t)));
            if (buffer)
                GetHtmlLayoutText(document, layout, buffer, shown + 1);
            free(buffer);
            DWORD offset = 0;
            for (DWORD index = 0; index <= shown && index < 64; ++index)
                (void)FindFragmentOfChar(document, layout, index, offset);
            (void)FindBandAt(layout, layout.height / 2);
        }
    }
    FreeHtmlLayout(layout);
    ReleaseHtmlFonts(fonts);
    FreeHtmlDocument(document);
}

// The control itself where windows can be made: fed in two pieces, resized and painted.
// Its parent is never shown: a hidden window costs Wine nothing to take down.
void ShowHtmlInView(const wchar_t* text, size_t length)
{
    static HWND parent = CreateWindowExW(0, L"STATIC", L"fuzz", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
    if (!parent || !InitHTMLControl(GetModuleHandleW(nullptr)))
        return;
    HWND view = CreateWindowExW(0, HTML_VIEW_CLASS, nullptr, 0x50000002, 0, 0, 400, 300, parent, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    if (!view)
        return;
    std::wstring first(text, length / 2);
    SendMessageW(view, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(first.c_str()));
    SendMessageW(view, DTM_ADDTEXTW, length & 1, reinterpret_cast<LPARAM>(text + length / 2));
    SendMessageW(view, DTM_ENDOFSOURCE, 0, 0);
    MoveWindow(view, 0, 0, 37, 300, FALSE);
    SendMessageW(view, WM_KEYDOWN, VK_END, 0);
    SendMessageW(view, WM_PAINT, 0, 0);
    wchar_t shown[64];
    SendMessageW(view, WM_GETTEXT, ARRAYSIZE(shown), reinterpret_cast<LPARAM>(shown));
    DestroyWindow(view);
}

void RunHtmlInput(const std::string& bytes)
{
    GuardedText page = PlaceBeforeGuardPage(bytes);
    if (!page.block)
        return;
    size_t length = wcslen(page.text);
    LayOutHtml(page.text, static_cast<DWORD>(length));
    ShowHtmlInView(page.text, length);
    VirtualFree(page.block, 0, MEM_RELEASE);
}

// The harness's own failures on purpose, one of each kind.
void RunProbeInput(uint64_t index)
{
    if (index == PROBE_UNDO_MISS_INDEX) {
        RunAndUndo([] { RegSetValueExW(fenceKeys[0], L"unseen", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4); });
        EmptyRegistryFence();
    }
    if (index == PROBE_CRASH_INDEX)
        *static_cast<volatile int*>(nullptr) = 1;
    if (index == PROBE_HANG_INDEX)
        Sleep(INFINITE);
    if (index == PROBE_ESCAPE_INDEX) {         // a file made outside as the file writer makes one
        wchar_t outside[MAX_PATH];
        StringCchPrintfW(outside, MAX_PATH, L"%s..\\vfuzz-escape.txt", sandbox);
        if (ReportChangeBefore(Change{ChangeKind::CreateFile, nullptr, outside, nullptr, 0, nullptr, 0}) != ERROR_SUCCESS)
            return;
        HANDLE file = CreateFileW(outside, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
}

void RunOne(Target target, const std::string& bytes, uint64_t index)
{
    switch (target) {
    case Target::Script: RunScriptInput(bytes); break;
    case Target::Registry: RunRegistryInput(bytes); break;
    case Target::Archive: RunArchiveInput(bytes); break;
    case Target::Provisioning: RunProvisioningInput(bytes); break;
    case Target::Dialog: RunDialogInput(bytes, index); break;
    case Target::Html: RunHtmlInput(bytes); break;
    case Target::Probe: RunProbeInput(index); break;
    }
}

bool StartWorker(WorkerProgress& progress)
{
    activeProgress = &progress;
    SetEnvironmentVariableW(L"VARNOLT_TRACE", nullptr);
    if (!PrepareSandbox() || !RaiseRegistryFence())
        return false;
    InstallWriteFence();
    InstallConfigurationProcessor(VARNOLT_CONFIGURATION_PROCESSOR);
    return true;
}

void StopWorker()
{
    LowerRegistryFence();
    SetCurrentDirectoryW(L"C:\\");
    RemoveTreeContents(sandbox);
    RemoveDirectoryW(sandbox);
}

LONG WINAPI ExitOnCrash(EXCEPTION_POINTERS* exception)
{
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

// A crash ends the worker at once with the exception code as its exit code, instead of
// starting a debugger or showing a dialog; the campaign reads it from there.
void InstallCrashExit()
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(ExitOnCrash);
}

DWORD RunGenerated(Target target, uint64_t seed, uint64_t first, uint64_t count, WorkerProgress& progress)
{
    if (!StartWorker(progress))
        return ERROR_CANNOT_MAKE;
    for (uint64_t index = first; index < first + count && !fenceBroken && !undoMissed; ++index) {
        progress.index = static_cast<LONG64>(index);
        progress.started = progress.started + 1;
        RunOne(target, GenerateInput(target, seed, index), index);
        progress.finished = progress.started;
    }
    StopWorker();
    return fenceBroken ? WORKER_FENCE_BROKEN : undoMissed ? WORKER_UNDO_MISSED : WORKER_FINISHED;
}

DWORD RunSavedInput(Target target, const std::string& bytes, WorkerProgress& progress)
{
    if (!StartWorker(progress))
        return ERROR_CANNOT_MAKE;
    uint64_t index = target == Target::Probe && bytes.size() > 6 ? strtoull(bytes.c_str() + 6, nullptr, 10) : 0;
    progress.index = static_cast<LONG64>(index);
    progress.started = progress.started + 1;
    RunOne(target, bytes, index);
    progress.finished = progress.started;
    StopWorker();
    return fenceBroken ? WORKER_FENCE_BROKEN : undoMissed ? WORKER_UNDO_MISSED : WORKER_FINISHED;
}

} // namespace fuzz
