// Windows: the present devices of the setup class "Ports" (COM and printer ports), each with
// the "PortName" value of its hardware key and its friendly name, in the order of the device
// set. The configuration manager library is loaded for each listing, as it is only needed then.
#include "serial/port_discovery.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <vector>

namespace {

using OpenDevNodeKey = CONFIGRET(WINAPI*)(DEVINST, REGSAM, ULONG, REGDISPOSITION, PHKEY, ULONG);

// Owns a device information set.
class DeviceInfoSet {
public:
    explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
    ~DeviceInfoSet() {
        if (set_ != INVALID_HANDLE_VALUE)
            ::SetupDiDestroyDeviceInfoList(set_);
    }
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
    HDEVINFO get() const { return set_; }

private:
    HDEVINFO set_;
};

// Owns the configuration manager library and its one entry point used here.
class ConfigManager {
public:
    // From the system folder only: a cfgmgr32.dll beside the program or in the current
    // folder is never loaded.
    ConfigManager()
        : library_(::LoadLibraryExW(L"cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        if (library_ == nullptr)
            return;
        // Through void(*)(): a function pointer of any type may be cast to and from it.
        const auto entry = reinterpret_cast<void (*)()>(
            reinterpret_cast<void*>(::GetProcAddress(library_, "CM_Open_DevNode_Key")));
        openKey_ = reinterpret_cast<OpenDevNodeKey>(entry);
    }
    ~ConfigManager() {
        if (library_ != nullptr)
            ::FreeLibrary(library_);
    }
    ConfigManager(const ConfigManager&) = delete;
    ConfigManager& operator=(const ConfigManager&) = delete;
    OpenDevNodeKey openKey() const { return openKey_; }

private:
    HMODULE library_;
    OpenDevNodeKey openKey_ = nullptr;
};

// The first identifier registered for the class name "Ports", if any.
bool PortsClass(GUID& guid) {
    DWORD count = 0;
    ::SetupDiClassGuidsFromNameA("Ports", nullptr, 0, &count);
    if (count < 1)
        return false;
    std::vector<GUID> guids(count);
    if (!::SetupDiClassGuidsFromNameA("Ports", guids.data(), count, &count) || count < 1)
        return false;
    guid = guids[0];
    return true;
}

// The text value "PortName" of a device's hardware key, whatever its length.
std::optional<std::string> PortName(OpenDevNodeKey openKey, DEVINST device) {
    HKEY key = nullptr;
    if (openKey(device, KEY_QUERY_VALUE, 0, RegDisposition_OpenExisting, &key,
                CM_REGISTRY_HARDWARE) != CR_SUCCESS)
        return std::nullopt;
    std::optional<std::string> name;
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExA(key, "PortName", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        std::vector<char> text(size + 1, '\0');
        if (::RegQueryValueExA(key, "PortName", nullptr, &type,
                               reinterpret_cast<BYTE*>(text.data()), &size) == ERROR_SUCCESS)
            name = std::string(text.data()); // up to the first NUL, stored or added
    }
    ::RegCloseKey(key);
    return name;
}

// The device's friendly name in UTF-8; empty when it has none.
std::string FriendlyName(HDEVINFO set, SP_DEVINFO_DATA& device) {
    DWORD size = 0;
    ::SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr, nullptr, 0,
                                        &size);
    if (size == 0)
        return {};
    std::vector<wchar_t> wide(size / sizeof(wchar_t) + 1, L'\0');
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                             reinterpret_cast<BYTE*>(wide.data()), size, nullptr))
        return {};
    const int bytes =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return {};
    std::string text(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, text.data(), bytes, nullptr, nullptr);
    text.resize(static_cast<std::size_t>(bytes - 1)); // without the terminating NUL
    return text;
}

} // namespace

PortDeviceSet ListPortDevices() {
    PortDeviceSet result;
    GUID portsClass{};
    if (!PortsClass(portsClass)) {
        result.obtained = false;
        return result;
    }
    const DeviceInfoSet set(::SetupDiGetClassDevsA(&portsClass, nullptr, nullptr, DIGCF_PRESENT));
    if (set.get() == INVALID_HANDLE_VALUE) {
        result.obtained = false;
        return result;
    }
    const ConfigManager configManager;
    if (configManager.openKey() == nullptr)
        return result; // a set without a way to read port names lists nothing
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!::SetupDiEnumDeviceInfo(set.get(), index, &device))
            break;
        result.devices.push_back(PortDevice{PortName(configManager.openKey(), device.DevInst),
                                            FriendlyName(set.get(), device)});
    }
    return result;
}
