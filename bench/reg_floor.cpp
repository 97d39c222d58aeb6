// The .reg import floor: the same registry calls an import makes, read from a ready-made
// list (written by bench/bench.py next to the .reg file) so that no text is parsed.
// Each record: op (1 open/create key, 2 set value, 3 delete value, 4 delete tree), root
// (0 HKCU, 1 HKLM), key (u16 count + UTF-16), name (u16 count, 0xFFFF for the default
// value), type (u32), data (u32 count + bytes).
#include <windows.h>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct Reader {
    const BYTE* position;
    const BYTE* end;
    bool Take(void* out, size_t bytes)
    {
        if (static_cast<size_t>(end - position) < bytes)
            return false;
        memcpy(out, position, bytes);
        position += bytes;
        return true;
    }
    // A counted UTF-16 text copied into 'text' with its NUL; false when it does not fit.
    bool TakeText(std::vector<wchar_t>& text, bool& isDefault)
    {
        WORD count = 0;
        if (!Take(&count, sizeof count))
            return false;
        isDefault = count == 0xFFFF;
        text.assign(isDefault ? 1 : count + 1, 0);
        return isDefault || Take(text.data(), count * sizeof(wchar_t));
    }
};

std::vector<BYTE> ReadAll(const wchar_t* path)
{
    std::vector<BYTE> bytes;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    DWORD size = GetFileSize(file, nullptr);
    bytes.resize(size);
    DWORD read = 0;
    if (!ReadFile(file, bytes.data(), size, &read, nullptr) || read != size)
        bytes.clear();
    CloseHandle(file);
    return bytes;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return ERROR_INVALID_PARAMETER;
    std::vector<BYTE> list = ReadAll(argv[1]);
    if (list.empty())
        return ERROR_FILE_NOT_FOUND;
    Reader reader{list.data(), list.data() + list.size()};
    HKEY current = nullptr;
    std::vector<wchar_t> key, name;
    std::vector<BYTE> data;
    int failures = 0;
    for (;;) {
        BYTE op = 0, root = 0;
        DWORD type = 0, dataBytes = 0;
        bool unused, isDefault;
        if (!reader.Take(&op, 1))
            break;
        if (!reader.Take(&root, 1) || !reader.TakeText(key, unused) || !reader.TakeText(name, isDefault) ||
            !reader.Take(&type, 4) || !reader.Take(&dataBytes, 4))
            return ERROR_INVALID_DATA;
        data.resize(dataBytes);
        if (dataBytes && !reader.Take(data.data(), dataBytes))
            return ERROR_INVALID_DATA;
        HKEY rootKey = root ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        LSTATUS status = ERROR_SUCCESS;
        switch (op) {
        case 1:
            if (current)
                RegCloseKey(current);
            current = nullptr;
            status = RegCreateKeyExW(rootKey, key.data(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &current, nullptr);
            break;
        case 2:
            status = RegSetValueExW(current, isDefault ? nullptr : name.data(), 0, type, data.data(), dataBytes);
            break;
        case 3:
            status = RegDeleteValueW(current, isDefault ? nullptr : name.data());
            break;
        case 4:
            if (current)
                RegCloseKey(current);
            current = nullptr;
            status = RegDeleteTreeW(rootKey, key.data());
            break;
        }
        failures += status != ERROR_SUCCESS && op != 3 && op != 4;
    }
    if (current)
        RegCloseKey(current);
    return failures ? ERROR_GEN_FAILURE : 0;
}
