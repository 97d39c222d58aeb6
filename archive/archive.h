// Archive extraction: tar and tar-gzip over zlib, RAR through the UnRAR library.
#pragma once
#include "base/base.h"
#include <cstdint>

// targz.cpp
constexpr DWORD TAR_CANNOT_OPEN = 0xFFFFFFFF;              // -1
constexpr DWORD TAR_READ_FAILED = 0xFFFFFFFE;              // -2: a header or data block
constexpr DWORD TAR_LONG_NAME_READ_FAILED = 0xFFFFFFFC;    // -4: the data block of a long name
// What an extraction reports besides the platform's own create, write and name errors;
// the first problem met is the result, and extraction goes on wherever it can.
constexpr DWORD TAR_TRUNCATED = ERROR_HANDLE_EOF;           // the archive ends inside an entry
constexpr DWORD TAR_INVALID_SIZE = ERROR_INVALID_DATA;      // a size that is no number: extraction stops
constexpr DWORD TAR_DAMAGED_HEADER = ERROR_FILE_CORRUPT;    // a long name, pax record or sparse map: its entry is skipped
constexpr DWORD TAR_SPARSE_MAP_TOO_LARGE = ERROR_NOT_ENOUGH_MEMORY;
constexpr DWORD TAR_SYMBOLIC_LINK = ERROR_NOT_SUPPORTED;
constexpr DWORD TAR_NAME_COLLISION = ERROR_FILE_EXISTS;    // a name Windows resolves to a file of this run named otherwise
constexpr DWORD TAR_LINK_TARGET_MISSING = ERROR_NOT_FOUND;  // a hard link to no file of this run
constexpr uint64_t TAR_INVALID_NUMBER = ~0ull;              // no size reaches it: numbers stay below 2^63
constexpr size_t TAR_SPARSE_REGION_LIMIT = 8192;           // data regions of one sparse file
constexpr unsigned TAR_GZIP_BUFFER_BYTES = 32 * 1024;      // zlib inflates twice this much per refill

[[nodiscard]] DWORD ExtractTarGz(const wchar_t* archive, const wchar_t* destination);
uint64_t ParseNumberField(const unsigned char* field, size_t length);
[[nodiscard]] DWORD BuildEntryPath(wchar_t (&path)[MAX_PATH_CHARS], const wchar_t* destination,
                                   const wchar_t* name, bool isFolder);

// rar.cpp
constexpr DWORD RAR_END_OF_ARCHIVE = 10;    // ERAR_END_ARCHIVE: every entry was extracted

[[nodiscard]] DWORD ExtractRar(const wchar_t* archive, const wchar_t* destination);
