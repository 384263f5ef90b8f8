#include "update/ZipNames.h"

#include <windows.h>
#include <wchar.h>

#include "base/WideString.h"

namespace {

bool IsSeparator(wchar_t unit)
{
    return unit == L'/' || unit == L'\\';
}

bool IsReplacedCharacter(wchar_t unit, bool shortNamesOnly)
{
    if (unit < 0x20) {
        return true;
    }
    if (unit == L' ') {
        return shortNamesOnly;
    }
    return wcschr(L"\"*:<>?|", unit) != nullptr;
}

bool HasDrivePrefix(const wchar_t* name)
{
    const wchar_t letter = name[0];
    const bool isLetter = (letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z');
    return isLetter && name[1] == L':';
}

bool IsOnlyDotsAndSpaces(const wchar_t* component, unsigned length)
{
    for (unsigned i = 0; i < length; ++i) {
        if (component[i] != L'.' && component[i] != L' ') {
            return false;
        }
    }
    return true;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9, also with an extension or
// trailing spaces: Windows opens the device instead of a file.
bool IsDeviceName(const wchar_t* component, unsigned length)
{
    unsigned base = 0;
    while (base < length && component[base] != L'.') {
        ++base;
    }
    while (base > 0 && component[base - 1] == L' ') {
        --base;
    }
    wchar_t stem[5] = {};
    if (base < 3 || base > 4) {
        return false;
    }
    for (unsigned i = 0; i < base; ++i) {
        stem[i] = static_cast<wchar_t>(towupper(component[i]));
    }
    if (base == 3) {
        return wcscmp(stem, L"CON") == 0 || wcscmp(stem, L"PRN") == 0 ||
               wcscmp(stem, L"AUX") == 0 || wcscmp(stem, L"NUL") == 0;
    }
    const bool port = wcsncmp(stem, L"COM", 3) == 0 || wcsncmp(stem, L"LPT", 3) == 0;
    return port && stem[3] >= L'1' && stem[3] <= L'9';
}

// Appends one mapped component; 0 when the component is refused.
int AppendComponent(const wchar_t* component, unsigned length, bool shortNamesOnly,
                    WideString& path)
{
    if (IsOnlyDotsAndSpaces(component, length) || IsDeviceName(component, length)) {
        return 0;
    }
    if (!path.IsEmpty() && !path.Append(L'\\')) {
        return 0;
    }
    for (unsigned i = 0; i < length; ++i) {
        const wchar_t unit =
            IsReplacedCharacter(component[i], shortNamesOnly) ? L'_' : component[i];
        if (!path.Append(unit)) {
            return 0;
        }
    }
    return 1;
}

} // namespace

ZipNameKind MapZipEntryName(const wchar_t* name, bool shortNamesOnly, WideString& relative)
{
    if (!name || name[0] == L'\0' || IsSeparator(name[0]) || HasDrivePrefix(name)) {
        return ZIP_NAME_REFUSED;
    }
    WideString path;
    bool endsInDirectory = false;
    const wchar_t* component = name;
    while (*component) {
        const wchar_t* end = component;
        while (*end && !IsSeparator(*end)) {
            ++end;
        }
        const unsigned length = static_cast<unsigned>(end - component);
        const bool dot = length == 1 && component[0] == L'.';
        endsInDirectory = length == 0 || dot;
        if (length != 0 && !dot && !AppendComponent(component, length, shortNamesOnly, path)) {
            return ZIP_NAME_REFUSED;
        }
        component = *end ? end + 1 : end;
        if (*end && *component == L'\0') {
            endsInDirectory = true;
        }
    }
    if (!endsInDirectory && path.IsEmpty()) {
        return ZIP_NAME_REFUSED;
    }
    if (!relative.Assign(path)) {
        return ZIP_NAME_REFUSED;
    }
    return endsInDirectory ? ZIP_NAME_DIRECTORY : ZIP_NAME_FILE;
}

int IsPathInsideFolder(const wchar_t* fullPath, const wchar_t* fullFolder)
{
    size_t folderLength = wcslen(fullFolder);
    while (folderLength > 0 && fullFolder[folderLength - 1] == L'\\') {
        --folderLength;
    }
    if (folderLength == 0 || _wcsnicmp(fullPath, fullFolder, folderLength) != 0) {
        return 0;
    }
    const wchar_t next = fullPath[folderLength];
    return next == L'\0' || next == L'\\';
}
