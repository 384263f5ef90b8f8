#pragma once

#include "base/LockedList.h"
#include "base/WideString.h"

#include <windows.h>
#include <propkeydef.h>
#include <wtypes.h>

struct ISensor;

// What a sensor says about itself: its state, its type and category, and
// its properties, named and formatted the way data fields are.

// The display text of a SensorState value: "Ready", "Not available",
// "No data", "Initializing", "Access denied", "Error", or the number of a
// value the API does not publish. 1, or 0 with the text untouched.
int SensorStateText(long state, WideString& text);

// The display name of a property key: the Sensor API's constant without its
// SENSOR_PROPERTY_ prefix and with spaces for underscores ("SERIAL NUMBER"),
// or for an unknown key its format GUID and property id ("{...}.99").
int NamePropertyKey(const PROPERTYKEY& key, WideString& name);

// The display names of sensor types and categories ("LOCATION GPS",
// "LOCATION"), or the identifier in registry form when the API does not
// publish it.
int NameSensorType(const GUID& type, WideString& name);
int NameSensorCategory(const GUID& category, WideString& name);

// What a property's value text means, where the value is one of an
// enumeration's (the state, the connection type, the desired accuracy) or
// an identifier of a sensor type or category: "Access denied", "PC
// ATTACHED", "LOCATION GPS". 1, or 0 with meaning untouched for any other
// value.
int NamePropertyValue(const PROPERTYKEY& key, const wchar_t* valueText, WideString& meaning);
// The value text with its meaning beside it, "4 (Access denied)"; 0 and
// the text as it was when the value means nothing more.
int ExplainPropertyValue(const PROPERTYKEY& key, WideString& valueText);

// An identifier in registry form, "{XXXXXXXX-...}".
int GuidText(const GUID& id, WideString& text);

// Every property the sensor reports (ISensor::GetProperties with no key
// list), appended to an empty list as SensorField records in report order.
// 1, or 0 with the list left empty when the properties cannot be had.
int ReadSensorProperties(ISensor* sensor, LockedList& properties);
