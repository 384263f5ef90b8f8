#pragma once

#include <windows.h>

// user 1: the user's, else the system's; ui 1: the user-interface language,
// else the locale's. 9 (English) where the UI-language function is missing.
LANGID GetLanguageId(int user, int ui);

// True when the process runs under Wine.
bool IsWine();
