// What a registry key and a folder hold, as sorted lines that compare equal when every key,
// value (type and data), folder and file (attributes, size, last write time, content) is
// the same. Used to check that an undo brings back exactly what was there before a run.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace test {

using Snapshot = std::vector<std::wstring>;

// Everything below 'root\path' ('path' itself included); empty when the key is not there.
Snapshot SnapshotKey(HKEY root, const std::wstring& path);
// The same for a key already open.
Snapshot SnapshotOpenKey(HKEY key);
// Everything below 'folder' (not the folder itself), names relative to it; 'skipped' names
// a first-level entry left out (the journal's own folder inside the one compared).
Snapshot SnapshotFolder(const std::wstring& folder, const std::wstring& skipped = L"");
// The first line where two snapshots differ, for a failure message; empty when equal.
std::wstring FirstDifference(const Snapshot& before, const Snapshot& after);

} // namespace test
