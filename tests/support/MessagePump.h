#pragma once

#include <windows.h>

// Dispatches this thread's messages for about the given time.
void PumpMessagesFor(DWORD milliseconds);
