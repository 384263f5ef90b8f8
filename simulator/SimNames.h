#pragma once

#include <windows.h>
#include <wtypes.h>

#include <string>

// Names of the Sensor API's constants as scenario files may write them: with
// or without their prefix (SENSOR_DATA_TYPE_, SENSOR_PROPERTY_, SENSOR_CATEGORY_, SENSOR_TYPE_,
// SENSOR_EVENT_). Each lookup answers 1 and fills the output, or 0.
int LookupDataKey(const std::wstring& name, PROPERTYKEY* key);
int LookupPropertyKey(const std::wstring& name, PROPERTYKEY* key);
int LookupCategory(const std::wstring& name, GUID* category);
int LookupSensorType(const std::wstring& name, GUID* type);
int LookupEventId(const std::wstring& name, GUID* eventId);
