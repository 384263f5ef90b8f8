#include "system/SystemInfo.h"

#include "base/DynamicLibrary.h"

LANGID GetLanguageId(int user, int ui)
{
    if (ui != 1) {
        return user == 1 ? GetUserDefaultLangID() : GetSystemDefaultLangID();
    }
    using UiLanguageFunction = LANGID(WINAPI*)();
    DynamicLibrary kernel32(L"kernel32.dll");
    auto uiLanguage = kernel32.Symbol<UiLanguageFunction>(user == 1 ? "GetUserDefaultUILanguage"
                                                                    : "GetSystemDefaultUILanguage");
    return uiLanguage ? uiLanguage() : MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL);
}

bool IsWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
