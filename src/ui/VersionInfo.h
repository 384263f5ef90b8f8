#pragma once

#include <windows.h>

#include "base/WideString.h"

// "%s [%u.%02u]".
int FormatVersionTitle(WideString& title, const wchar_t* name, unsigned major, unsigned minor);

// Holds the window title built from a product name and the module's
// version.
class VersionInfo
{
public:
    VersionInfo() = default;
    VersionInfo(const VersionInfo&) = delete;
    VersionInfo& operator=(const VersionInfo&) = delete;

    // "name [major.minor]" of the module (null = the application); the
    // text lives until the next call.
    const wchar_t* VersionTitle(const wchar_t* name, HMODULE module = nullptr);

private:
    WideString title_;
};
