#pragma once

#include "base/WideString.h"

// What the main window tells the reporter: where reports go and what is
// sent with them.
struct CrashSettings
{
    int iconId = 0;
    WideString host; // empty: no report is offered
    WideString path;
    WideString product; // the program's "InternalName" unless configured
    WideString extra;
};
