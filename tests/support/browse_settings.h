// What browsing for a file leaves in the registry, for the tests that browse: the folder
// last browsed to, and the key browsing opens (and so makes) when it looks for RFileShell.
#pragma once
#include <windows.h>
#include <string>

namespace test {

constexpr wchar_t BROWSE_SETTINGS_KEY[] = L"Software\\Varnolt";
constexpr wchar_t RESCO_KEY[] = L"SOFTWARE\\Apps\\Resco Explorer";

// The BrowseFile setting, "(none)" without one.
inline std::wstring BrowseFolderSetting()
{
    wchar_t folder[MAX_PATH] = {};
    DWORD bytes = sizeof folder - sizeof(wchar_t);
    bool found = RegGetValueW(HKEY_CURRENT_USER, BROWSE_SETTINGS_KEY, L"BrowseFile", RRF_RT_REG_SZ, nullptr, folder,
                              &bytes) == ERROR_SUCCESS;
    return found ? folder : L"(none)";
}

// Clears the setting for the test and puts both back as they were when the test ends.
class BrowseSettingsGuard {
public:
    BrowseSettingsGuard()
        : saved_(BrowseFolderSetting()), hadApps_(KeyExists(L"SOFTWARE\\Apps")), hadResco_(KeyExists(RESCO_KEY))
    {
        DWORD bytes = 0;
        hasInstallDir_ = RegGetValueW(HKEY_LOCAL_MACHINE, RESCO_KEY, L"InstallDir", RRF_RT_ANY, nullptr, nullptr,
                                      &bytes) == ERROR_SUCCESS;
        RegDeleteKeyValueW(HKEY_CURRENT_USER, BROWSE_SETTINGS_KEY, L"BrowseFile");
    }
    ~BrowseSettingsGuard()
    {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, BROWSE_SETTINGS_KEY, L"BrowseFile");
        if (saved_ != L"(none)")
            RegSetKeyValueW(HKEY_CURRENT_USER, BROWSE_SETTINGS_KEY, L"BrowseFile", REG_SZ, saved_.c_str(),
                            static_cast<DWORD>((saved_.size() + 1) * sizeof(wchar_t)));
        if (hasInstallDir_)
            return;
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, RESCO_KEY, L"InstallDir");
        if (!hadResco_) {
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, RESCO_KEY);
            if (!hadApps_)
                RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Apps");
        }
    }
    // An InstallDir of the machine's own, which a test must not replace. (The key alone
    // is what any browse leaves behind.)
    bool MachineHasInstallDir() const { return hasInstallDir_; }
    BrowseSettingsGuard(const BrowseSettingsGuard&) = delete;
    BrowseSettingsGuard& operator=(const BrowseSettingsGuard&) = delete;

private:
    static bool KeyExists(const wchar_t* path)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    std::wstring saved_;
    bool hadApps_;
    bool hadResco_;
    bool hasInstallDir_;
};

} // namespace test
