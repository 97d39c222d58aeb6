// Helpers of the registry tests: a key of the test's own and reading values back.
#pragma once
#include "base/changes.h"
#include <windows.h>
#include <map>
#include <string>
#include <vector>

namespace regtest {

// HKCU\Software\VarnoltTest-<pid>-<name>, removed with everything below it before and after.
class TestKey {
public:
    explicit TestKey(const wchar_t* name);
    ~TestKey();
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;
    const std::wstring& path() const { return path_; }                   // below HKCU
    std::wstring Script() const { return L"HKCU\\" + path_; }
    std::wstring Long() const { return L"HKEY_CURRENT_USER\\" + path_; }

private:
    std::wstring path_;
};

// A hive of the test's own, loaded at HKU\<name> from a file in 'folder' and unloaded
// afterwards: a loaded hive's root that a delete the guard lets through could only empty
// of the test's own data. It holds the value "v" and the key "sub".
class TestHive {
public:
    TestHive(const std::wstring& folder, const std::wstring& name);
    ~TestHive();
    TestHive(const TestHive&) = delete;
    TestHive& operator=(const TestHive&) = delete;
    bool loaded() const { return loaded_; }
    const std::wstring& name() const { return name_; }      // below HKU
    bool Intact() const;                                    // "v" and "sub" are still there

private:
    std::wstring name_;
    bool loaded_ = false;
};

// The run's change observer while it lives: each registry change it is asked about is
// recorded as "SetValue HKCU\<path>:<name>" (":@" for the default value) and answered
// with 'answer'; 'reported' counts the reports of changes that went on.
class ChangeRecorder {
public:
    explicit ChangeRecorder(DWORD answer = 0);
    ~ChangeRecorder();
    ChangeRecorder(const ChangeRecorder&) = delete;
    ChangeRecorder& operator=(const ChangeRecorder&) = delete;
    std::wstring Asked() const;             // the records, one per line
    std::vector<std::wstring> asked;
    size_t reported = 0;
    DWORD answer;

private:
    ChangeObserver observer_;
    const ChangeObserver* previous_;
};

// The current user's SID as text (HKU\<SID> is HKCU).
std::wstring CurrentUserSid();

struct StoredValue {
    bool exists;
    DWORD type;
    std::string bytes;
};

StoredValue ReadValue(HKEY root, const std::wstring& path, const wchar_t* name);
bool KeyExists(HKEY root, const std::wstring& path);
// Every key below a test key (as "\\sub\\") and every value (as "\\sub:name" -> type and bytes).
using RegistryDump = std::map<std::wstring, std::string>;
RegistryDump Dump(const TestKey& key);
void SetValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const std::string& bytes);
std::wstring WithKey(std::wstring text, const std::wstring& key);      // every "{K}" replaced
std::string TextBytes(const std::wstring& text);                       // UTF-16 with its terminator
// The decoded units in front of the registry text of a file: up to its header and the
// line break after it (what LOAD hands to the importer); 0 without a header.
size_t HeaderUnits(const std::wstring& path);

} // namespace regtest
