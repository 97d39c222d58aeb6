// The two doors through which the program changes the machine. Every change goes through
// one of them, is checked against the guards there, and is reported to the run's observer
// (base/changes.h) before and after it is made.
#pragma once
#include "base/base.h"
#include "base/changes.h"

// registry_writer.cpp
// A key as the registry writer takes it: 'root' and 'path' name it ("" is the root itself)
// for the guards and the observer; 'open', when not nullptr, is that same key already
// open with at least KEY_SET_VALUE, so that many values written into one key open it once.
struct RegistryKey {
    HKEY root;
    const wchar_t* path;
    HKEY open;
};
// What a delete that would reach a root gives (E_INVALIDARG).
constexpr DWORD RESULT_REGISTRY_ROOT = 0x80070057;
// Opens the key, creating it and its missing parents, with 'access'; the caller closes it.
// '*key' is nullptr on failure, and when the observer made the key itself and there is no
// such key to open (a trial run): the writes into it then name it by root and path.
[[nodiscard]] DWORD CreateRegistryKey(HKEY root, const wchar_t* path, REGSAM access, HKEY* key);
// Stores a value ('name' nullptr or "": the default value). Without an open key the key is
// created (KEY_SET_VALUE) for the write and closed again.
[[nodiscard]] DWORD SetRegistryValue(const RegistryKey& key, const wchar_t* name, DWORD type, const void* data,
                                     DWORD size);
// Deletes a value. Without an open key the key is opened (never created) for it; a missing
// key gives the registry's error.
[[nodiscard]] DWORD DeleteRegistryValue(const RegistryKey& key, const wchar_t* name);
// Whether the key may be deleted with everything below it. Decided by the key itself, not
// by how it is written: a root, a loaded hive's root (HKU\<SID>, HKU\<SID>_Classes,
// HKLM\Software, ...) or the class data behind HKCR, by any name that reaches it, gives
// RESULT_REGISTRY_ROOT. A key that cannot be opened gives the registry's error (2 when it
// is not there); otherwise 0.
[[nodiscard]] DWORD CheckRegistryKeyDelete(HKEY root, const wchar_t* path);
// Deletes the key with everything below it once CheckRegistryKeyDelete allows it; its
// refusal (nothing is reported then), or the registry's result.
[[nodiscard]] DWORD DeleteRegistryTree(HKEY root, const wchar_t* path);
