#pragma once

class WideString;

// What an archive entry's name stands for once mapped under the target.
enum ZipNameKind
{
    ZIP_NAME_REFUSED = 0, // would leave the target folder or name a device
    ZIP_NAME_FILE = 1,
    ZIP_NAME_DIRECTORY = 2,
};

// Maps an entry name to a path relative to the target folder, with
// backslashes and no leading or trailing separator. Both slashes separate;
// empty and "." components are dropped. Names that are absolute, carry a
// drive or UNC prefix, climb with "..", consist of dots and spaces only or
// name a reserved device are refused. In every component the characters
// " * : < > ? | and control characters become underscores, and so do spaces
// when the volume keeps only short names. The path is left untouched when
// the name is refused.
ZipNameKind MapZipEntryName(const wchar_t* name, bool shortNamesOnly, WideString& relative);

// 1 when a path (after resolving "." and "..") lies inside the folder; both
// must be full paths. The folder may end with a backslash.
int IsPathInsideFolder(const wchar_t* fullPath, const wchar_t* fullFolder);
