#include "support/snapshot.h"
#include <algorithm>
#include <cwchar>

namespace test {
namespace {

constexpr DWORD COMPARED_ATTRIBUTES = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

std::wstring Hex(const BYTE* data, size_t size)
{
    std::wstring text;
    wchar_t pair[4];
    for (size_t i = 0; i < size; ++i) {
        swprintf(pair, 4, L"%02x", data[i]);
        text += pair;
    }
    return text;
}

void AddKey(HKEY key, const std::wstring& relative, Snapshot& lines)
{
    lines.push_back(L"key " + relative);
    DWORD subkeys = 0, maxSubkey = 0, values = 0, maxName = 0, maxData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values, &maxName, &maxData,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        lines.push_back(L"unreadable " + relative);
        return;
    }
    std::vector<wchar_t> name(std::max(maxName, maxSubkey) + 2);
    std::vector<BYTE> data(maxData + 2);
    for (DWORD i = 0; i < values; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size) == ERROR_SUCCESS)
            lines.push_back(L"value " + relative + L" [" + std::wstring(name.data(), nameLength) + L"] " +
                            std::to_wstring(type) + L" " + Hex(data.data(), size));
    }
    for (DWORD i = 0; i < subkeys; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            continue;
        std::wstring child(name.data(), nameLength);
        HKEY subkey;
        if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &subkey) != ERROR_SUCCESS) {
            lines.push_back(L"unreadable " + relative + L"\\" + child);
            continue;
        }
        AddKey(subkey, relative + L"\\" + child, lines);
        RegCloseKey(subkey);
    }
}

unsigned long long HashFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    unsigned long long hash = 14695981039346656037ull;
    BYTE chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read)
        for (DWORD i = 0; i < read; ++i)
            hash = (hash ^ chunk[i]) * 1099511628211ull;
    CloseHandle(file);
    return hash;
}

void AddFolder(const std::wstring& folder, const std::wstring& relative, const std::wstring& skipped, Snapshot& lines)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L".." || (relative.empty() && !skipped.empty() && _wcsicmp(name.c_str(), skipped.c_str()) == 0))
            continue;
        std::wstring path = folder + L"\\" + name, shown = relative.empty() ? name : relative + L"\\" + name;
        std::wstring attributes = std::to_wstring(found.dwFileAttributes & COMPARED_ATTRIBUTES);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            lines.push_back(L"folder " + shown + L" " + attributes);
            AddFolder(path, shown, skipped, lines);
            continue;
        }
        unsigned long long size = (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        unsigned long long time = (static_cast<unsigned long long>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                                  found.ftLastWriteTime.dwLowDateTime;
        lines.push_back(L"file " + shown + L" " + attributes + L" " + std::to_wstring(size) + L" " +
                        std::to_wstring(time) + L" " + std::to_wstring(HashFile(path)));
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

} // namespace

Snapshot SnapshotOpenKey(HKEY key)
{
    Snapshot lines;
    AddKey(key, L"", lines);
    std::sort(lines.begin(), lines.end());
    return lines;
}

Snapshot SnapshotKey(HKEY root, const std::wstring& path)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    Snapshot lines = SnapshotOpenKey(key);
    RegCloseKey(key);
    return lines;
}

Snapshot SnapshotFolder(const std::wstring& folder, const std::wstring& skipped)
{
    Snapshot lines;
    AddFolder(folder, L"", skipped, lines);
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::wstring FirstDifference(const Snapshot& before, const Snapshot& after)
{
    for (size_t i = 0; i < before.size() || i < after.size(); ++i) {
        const std::wstring* a = i < before.size() ? &before[i] : nullptr;
        const std::wstring* b = i < after.size() ? &after[i] : nullptr;
        if (!a || !b || *a != *b)
            return L"before: " + (a ? *a : L"(nothing)") + L"  after: " + (b ? *b : L"(nothing)");
    }
    return L"";
}

} // namespace test
