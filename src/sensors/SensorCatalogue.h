#pragma once

#include "base/WideString.h"

#include <windows.h>
#include <propkeydef.h>
#include <wtypes.h>

// Keys of the sample clock sensor; not published by the Sensor API.
extern const PROPERTYKEY SAMPLE_SENSOR_DATA_TYPE_SECOND;
extern const PROPERTYKEY SAMPLE_SENSOR_DATA_TYPE_MINUTE;
extern const PROPERTYKEY SAMPLE_SENSOR_DATA_TYPE_HOUR;

struct DataTypeName
{
    const PROPERTYKEY* key;
    const wchar_t* name;
};

// The catalogue of known data types in search order.
const DataTypeName* DataTypeCatalogue(unsigned* count);

// The catalogue's constant name of the key, or null.
const wchar_t* FindDataTypeName(const PROPERTYKEY& key);

// Removes every occurrence of pattern from the text.
void EraseEvery(WideString& text, const wchar_t* pattern);

// Turns a constant name into display form: the data-type prefixes are
// removed (the sample prefix first, as it contains the other) and every
// underscore becomes a space.
void MakeDisplayName(WideString& name);

// The display name of a data-type key: the catalogue's name, or for an
// unknown key its format GUID and property id ("{...}.99"). 1 or 0.
int NameDataType(const PROPERTYKEY& key, WideString& name);
