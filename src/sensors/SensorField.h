#pragma once

#include "base/ComValue.h"
#include "base/LockedList.h"
#include "base/WideString.h"

#include <windows.h>
#include <propkeydef.h>
#include <wtypes.h>

// One reported value of a sensor: its data-type key, the key's display name,
// the value and the value's display text. Owned by the sensor's field list.
class SensorField : public ListNode
{
public:
    SensorField* Next() const { return static_cast<SensorField*>(next); }

    PROPERTYKEY key = {};
    WideString name;
    ScopedVariant value;
    WideString valueText;
};
