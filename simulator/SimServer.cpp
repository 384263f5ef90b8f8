// The COM server side: class factory, registration and unloading.
#include "Simulator.h"

#include <olectl.h>

#include <new>
#include <string>

namespace {

const wchar_t* const classKey = L"CLSID\\{77A1C827-FCD2-4689-8915-9D613CC5FA3E}";
const wchar_t* const classText = L"{77A1C827-FCD2-4689-8915-9D613CC5FA3E}";
const wchar_t* const progId = L"SensorsApi.SensorManager.1";
const wchar_t* const independentProgId = L"SensorsApi.SensorManager";

volatile LONG serverLocks = 0;

class ManagerFactory : public IClassFactory
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is a static object: it lives as long as the module.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        if (outer) {
            return CLASS_E_NOAGGREGATION;
        }
        if (!SimStart()) {
            return E_OUTOFMEMORY;
        }
        ComPtr<SimManager> manager(new (std::nothrow) SimManager);
        if (!manager) {
            return E_OUTOFMEMORY;
        }
        return manager->QueryInterface(iid, object);
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock) {
            InterlockedIncrement(&serverLocks);
        } else {
            InterlockedDecrement(&serverLocks);
        }
        return S_OK;
    }
};

ManagerFactory factory;

// The simulator replaces the Sensor API, so it must never be registered
// where the real one exists: only Wine's ntdll has this export.
bool RunningUnderWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

class RegKey
{
public:
    RegKey() = default;
    ~RegKey()
    {
        if (key_) {
            RegCloseKey(key_);
        }
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    bool Create(HKEY parent, const std::wstring& path)
    {
        return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key_,
                               nullptr) == ERROR_SUCCESS;
    }
    bool SetText(const wchar_t* name, const std::wstring& value)
    {
        DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
        return RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              bytes) == ERROR_SUCCESS;
    }

private:
    HKEY key_ = nullptr;
};

bool WriteKey(const std::wstring& path, const wchar_t* name, const std::wstring& value)
{
    RegKey key;
    return key.Create(HKEY_CLASSES_ROOT, path) && key.SetText(name, value);
}

std::wstring ModulePath()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ModulePath), &module);
    wchar_t buffer[MAX_PATH * 2];
    DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH * 2);
    return length && length < MAX_PATH * 2 ? std::wstring(buffer, length) : std::wstring();
}

void DeleteRegistration()
{
    RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, progId);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, independentProgId);
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, LPVOID* object)
{
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    if (!IsEqualCLSID(classId, CLSID_SensorManager)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return factory.QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow()
{
    // Once started, the simulator's threads keep the module pinned.
    return g_liveObjects || serverLocks ? S_FALSE : S_OK;
}

STDAPI DllRegisterServer()
{
    if (!RunningUnderWine()) {
        return SELFREG_E_CLASS;
    }
    try {
        std::wstring module = ModulePath();
        std::wstring server = std::wstring(classKey) + L"\\InprocServer32";
        bool written =
            !module.empty() && WriteKey(classKey, nullptr, L"Sensor Manager (simulated)") &&
            WriteKey(server, nullptr, module) && WriteKey(server, L"ThreadingModel", L"Both") &&
            WriteKey(std::wstring(classKey) + L"\\ProgID", nullptr, progId) &&
            WriteKey(std::wstring(classKey) + L"\\VersionIndependentProgID", nullptr,
                     independentProgId) &&
            WriteKey(std::wstring(progId) + L"\\CLSID", nullptr, classText) &&
            WriteKey(std::wstring(independentProgId) + L"\\CLSID", nullptr, classText) &&
            WriteKey(std::wstring(independentProgId) + L"\\CurVer", nullptr, progId);
        if (!written) {
            DeleteRegistration();
            return SELFREG_E_CLASS;
        }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDAPI DllUnregisterServer()
{
    if (!RunningUnderWine()) {
        return SELFREG_E_CLASS;
    }
    DeleteRegistration();
    return S_OK;
}
