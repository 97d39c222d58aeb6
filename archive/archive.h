// Archive extraction: tar and tar-gzip over zlib, RAR through the UnRAR library.
#pragma once
#include "base/base.h"

// targz.cpp
constexpr DWORD TAR_CANNOT_OPEN = 0xFFFFFFFF;              // -1
constexpr DWORD TAR_READ_FAILED = 0xFFFFFFFE;              // -2: a header or data block
constexpr DWORD TAR_LONG_NAME_READ_FAILED = 0xFFFFFFFC;    // -4: the data block of a long name
constexpr DWORD TAR_INVALID_NUMBER = 0xFFFFFFFF;
constexpr unsigned TAR_GZIP_BUFFER_BYTES = 32 * 1024;      // zlib inflates twice this much per refill

[[nodiscard]] DWORD ExtractTarGz(wchar_t* archive, wchar_t* destination);
DWORD ParseOctalField(const unsigned char* field, size_t length);
[[nodiscard]] DWORD BuildEntryPath(wchar_t (&path)[MAX_PATH_CHARS], const wchar_t* destination,
                                   const wchar_t* name, bool isFolder);

// rar.cpp
constexpr DWORD RAR_END_OF_ARCHIVE = 10;    // ERAR_END_ARCHIVE: every entry was extracted

[[nodiscard]] DWORD ExtractRar(wchar_t* archive, wchar_t* destination);
