// The lines run in the console, newest first, kept across starts as the values "1" (the
// newest) to "50" of HKCU\Software\Varnolt\History. Up and Down in the command field walk
// through them.
#include "app/app.h"
#include "base/writers.h"
#include <cwchar>

namespace {

constexpr size_t HISTORY_LIMIT = 50;
constexpr size_t VALUE_NAME_CHARS = 8;
constexpr int TYPED_LINE = -1;              // the walk's place before the newest line
constexpr wchar_t HISTORY_KEY[] = L"Software\\Varnolt\\History";

struct History {
    wchar_t lines[HISTORY_LIMIT][MAX_PATH_CHARS];
    size_t count;
    size_t storedValues;        // the highest value number the key may hold
    int position;               // the line the field shows: TYPED_LINE or an index of 'lines'
    wchar_t typed[MAX_PATH_CHARS];
};

History history = {};
WNDPROC fieldProc = nullptr;

void NameValue(wchar_t (&name)[VALUE_NAME_CHARS], size_t index)
{
    StringCchPrintfW(name, VALUE_NAME_CHARS, L"%u", static_cast<unsigned>(index + 1));
}

// A stored line: a string that fits the field. False for anything else.
bool ReadStoredLine(HKEY key, const wchar_t* name, wchar_t (&line)[MAX_PATH_CHARS])
{
    DWORD type = 0;
    DWORD bytes = sizeof line - sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(line), &bytes) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    line[bytes / sizeof(wchar_t)] = 0;
    return line[0] != 0;
}

size_t FindLine(const wchar_t* line)
{
    for (size_t i = 0; i < history.count; ++i)
        if (wcscmp(history.lines[i], line) == 0)
            return i;
    return history.count;
}

// Writes every line under its number and deletes the numbers beyond them.
void StoreHistory()
{
    HKEY key = nullptr;
    if (CreateRegistryKey(HKEY_CURRENT_USER, HISTORY_KEY, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegistryKey target = {HKEY_CURRENT_USER, HISTORY_KEY, key};
    wchar_t name[VALUE_NAME_CHARS];
    for (size_t i = 0; i < history.count; ++i) {
        NameValue(name, i);
        auto bytes = static_cast<DWORD>((wcslen(history.lines[i]) + 1) * sizeof(wchar_t));
        (void)SetRegistryValue(target, name, REG_SZ, history.lines[i], bytes);
    }
    for (size_t i = history.count; i < history.storedValues; ++i) {
        NameValue(name, i);
        (void)DeleteRegistryValue(target, name);
    }
    history.storedValues = history.count;
    if (key)
        RegCloseKey(key);
}

// Up (one step older) and Down (one step newer); below the newest line the field gets back
// what was typed before the walk began.
void StepHistory(HWND field, int step)
{
    int target = history.position + step;
    if (target < TYPED_LINE || target >= static_cast<int>(history.count))
        return;
    if (history.position == TYPED_LINE)
        GetWindowTextW(field, history.typed, MAX_PATH_CHARS);
    history.position = target;
    SetWindowTextW(field, target == TYPED_LINE ? history.typed : history.lines[target]);
    int end = GetWindowTextLengthW(field);
    SendMessageW(field, EM_SETSEL, end, end);
}

LRESULT CALLBACK CommandFieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN && (wParam == VK_UP || wParam == VK_DOWN)) {
        StepHistory(field, wParam == VK_UP ? 1 : -1);
        return 0;
    }
    return CallWindowProcW(fieldProc, field, message, wParam, lParam);
}

} // namespace

void OpenConsoleHistory(HWND field)
{
    history.count = 0;
    history.storedValues = HISTORY_LIMIT;          // whatever the key holds beyond what was read goes at the next store
    history.position = TYPED_LINE;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, HISTORY_KEY, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        wchar_t name[VALUE_NAME_CHARS];
        for (size_t i = 0; i < HISTORY_LIMIT; ++i) {
            NameValue(name, i);
            wchar_t line[MAX_PATH_CHARS];
            if (ReadStoredLine(key, name, line) && FindLine(line) == history.count &&
                CopyText(history.lines[history.count], line) == ERROR_SUCCESS)
                ++history.count;
        }
        RegCloseKey(key);
    }
    auto previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CommandFieldProc)));
    if (previous && previous != CommandFieldProc)
        fieldProc = previous;
}

void RememberConsoleLine(const wchar_t* line)
{
    history.position = TYPED_LINE;
    if (!line[0])
        return;
    size_t found = FindLine(line);
    size_t moved = found < history.count ? found : (history.count < HISTORY_LIMIT ? history.count++ : HISTORY_LIMIT - 1);
    wmemmove(history.lines[1], history.lines[0], moved * MAX_PATH_CHARS);
    if (CopyText(history.lines[0], line) != ERROR_SUCCESS)
        history.lines[0][0] = 0;
    StoreHistory();
}

void ForgetHistoryWalk()
{
    history.position = TYPED_LINE;
}
