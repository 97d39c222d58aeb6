// What the handheld tells about itself that the desktop does not.
#pragma once
#include <windows.h>

// device_info.cpp
// The platform type text ("PocketPC", "SmartPhone") that the handheld answers to
// SystemParametersInfoW(SPI_GETPLATFORMTYPE). The desktop has no such query: the text is
// the environment variable VARNOLT_PLATFORM_TYPE, so the program can be run as on either
// device family; FALSE with an empty text when it is not set or does not fit.
BOOL QueryPlatformType(wchar_t* text, UINT bytes);
