#pragma once

#include "base/LockedList.h"
#include "base/WideString.h"

#include <windows.h>
#include <oleauto.h>
#include <propkeydef.h>
#include <wtypes.h>

// One reported value of a sensor: its data-type key, the key's display name,
// the value and the value's display text. Owned by the sensor's field list.
class SensorField : public ListNode
{
public:
    SensorField() { VariantInit(&value); }
    ~SensorField() override { VariantClear(&value); }

    SensorField* Next() const { return static_cast<SensorField*>(next); }

    PROPERTYKEY key = {};
    WideString name;
    VARIANT value;
    WideString valueText;
};
