#pragma once

#include <windows.h>
#include <objbase.h>

#include "base/Com.h"

// Number of the simulator's COM objects alive, for leak checks in tests.
extern volatile LONG g_liveObjects;

// A simulator COM object, counted while it lives.
template <class Interface> class SimObject : public ComObject<Interface>
{
protected:
    SimObject() { InterlockedIncrement(&g_liveObjects); }
    ~SimObject() override { InterlockedDecrement(&g_liveObjects); }
};

// The simulator's one lock; held only briefly and never while calling out
// to the program's event sinks.
class SimLock
{
public:
    SimLock();
    ~SimLock();
    SimLock(const SimLock&) = delete;
    SimLock& operator=(const SimLock&) = delete;
};
