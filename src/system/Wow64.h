#pragma once

#include <windows.h>

// 1 when the process (the current one for null) runs under WOW64: a
// 32-bit program on 64-bit Windows.
int IsWow64(HANDLE process);
