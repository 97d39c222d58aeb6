#include "platform/device_info.h"
#include "ui/ui.h"

namespace {

constexpr size_t PLATFORM_TYPE_CHARS = 80;
constexpr int SMALL_DESKTOP_WIDTH = 640;        // design pixels: a work area below either is a phone's
constexpr int SMALL_DESKTOP_HEIGHT = 440;       // 480 less a task bar

struct DensityCache {
    bool isRead;
    int value;
};

DensityCache densityX = {false, 0};
DensityCache densityY = {false, 0};

int ReadDensityOnce(DensityCache& cache, int capability)
{
    if (!cache.isRead) {
        cache.isRead = true;
        cache.value = QueryScreenCaps(capability);
    }
    return cache.value;
}

// Read once, before the program's entry: which device family and system version this is.
DWORD DetectPlatform()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version))
        version.dwMajorVersion = version.dwMinorVersion = 0;
#pragma GCC diagnostic pop
    wchar_t type[PLATFORM_TYPE_CHARS] = {};
    if (!QueryPlatformType(type, sizeof type))
        type[0] = 0;
    return ComposePlatformFlags(version.dwMajorVersion, version.dwMinorVersion, type);
}

} // namespace

const DWORD platformFlags = DetectPlatform();

DWORD ComposePlatformFlags(DWORD major, DWORD minor, const wchar_t* platformType)
{
    DWORD flags = (major & 0xFF) | (minor & 0xFF) << 8;
    if (_wcsicmp(platformType, L"PocketPC") == 0)
        flags |= PLATFORM_POCKET_PC;
    if (major >= 5)
        flags |= PLATFORM_CE5;
    if (major >= 5 && minor >= 2)
        flags |= PLATFORM_CE52;
    return flags;
}

// One capability of the screen, or -1 when there is no screen to ask.
int QueryScreenCaps(int capability)
{
    HDC screen = GetDC(nullptr);
    if (!screen)
        return -1;
    int value = GetDeviceCaps(screen, capability);
    ReleaseDC(nullptr, screen);
    return value;
}

int ScreenDpiX()
{
    return ReadDensityOnce(densityX, LOGPIXELSX);
}

int ScreenDpiY()
{
    return ReadDensityOnce(densityY, LOGPIXELSY);
}

int ScalePixels(int designLength, int pixelsPerInch)
{
    return (pixelsPerInch * designLength + 48) / 96;
}

bool IsHandheldType(const wchar_t* platformType)
{
    return _wcsicmp(platformType, L"PocketPC") == 0 || _wcsicmp(platformType, L"SmartPhone") == 0;
}

bool IsHandheldPlatform()
{
    static int handheld = -1;           // not read yet
    if (handheld < 0) {
        wchar_t type[PLATFORM_TYPE_CHARS] = {};
        handheld = QueryPlatformType(type, sizeof type) && IsHandheldType(type);
    }
    return handheld != 0;
}

bool IsPhoneSizedArea(int width, int height, int dpiX, int dpiY)
{
    return width < ScalePixels(SMALL_DESKTOP_WIDTH, dpiX) || height < ScalePixels(SMALL_DESKTOP_HEIGHT, dpiY);
}
