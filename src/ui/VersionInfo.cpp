#include "ui/VersionInfo.h"

#include "system/ModuleVersion.h"

int FormatVersionTitle(WideString& title, const wchar_t* name, unsigned major, unsigned minor)
{
    return Format(title, L"%s [%u.%02u]", name ? name : L"", major, minor);
}

const wchar_t* VersionInfo::VersionTitle(const wchar_t* name, HMODULE module)
{
    unsigned major = 1;
    unsigned minor = 1;
    wchar_t path[MAX_PATH];
    if (ModuleFileName(module, path)) {
        ReadFileVersion(path, major, minor);
    }
    FormatVersionTitle(title_, name, major, minor);
    return title_.Data();
}
