#pragma once

#include "base/DynamicLibrary.h"

// shell32, reached at run time for the few calls that need it: folder
// paths, the system image list and starting programs. Imported, it was
// loaded, with shcore and shlwapi behind it, at every start, though none
// of those calls comes before the main window is shown. Loaded from the
// system folder at the first call and kept for the rest of the process,
// since the system image list lives in it. Not loaded where the library is
// missing.
const DynamicLibrary& Shell32();

// Symbol<decltype(&::Function)>("Function") of shell32; null where it is
// missing.
template <typename Function> Function Shell32Function(const char* name)
{
    return Shell32().Symbol<Function>(name);
}
