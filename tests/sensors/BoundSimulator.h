#pragma once

// The simulator's control exports, bound once for the sensors' test
// program. COM stays initialised on the test thread and the simulator stays
// loaded, so no SensorList's clean-up unloads it under the control pointers.

#include <doctest.h>

#include "../../simulator/SensorSimControl.h"
#include "base/Com.h"

inline SensorSimControl& Simulator()
{
    static ComApartment apartment;
    static SensorSimControl control = {};
    static bool bound = false;
    if (!bound) {
        apartment.Init(1);
        REQUIRE(SensorSimOpen(&control) == 1);
        HMODULE pinned = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, SENSORSIM_MODULE_NAME, &pinned);
        bound = true;
    }
    return control;
}
