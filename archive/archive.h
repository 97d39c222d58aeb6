// Archive extraction: tar and tar-gzip over zlib, RAR through the UnRAR library.
#pragma once
#include <windows.h>

// targz.cpp
[[nodiscard]] DWORD ExtractTarGz(wchar_t* archive, wchar_t* destination);

// rar.cpp
[[nodiscard]] DWORD ExtractRar(wchar_t* archive, wchar_t* destination);
