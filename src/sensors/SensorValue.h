#pragma once

#include "base/WideString.h"

#include <windows.h>
#include <oleauto.h>
#include <propidl.h>

// The display text of a value: 4- and 8-byte reals with six decimals, a
// string as it is, an empty value as the empty text, a boolean as "True" or
// "False", a byte array as hexadecimal bytes ("01 04 07"), anything else as
// the platform's variant-to-text conversion gives it. 1, or 0 when the value
// has no text (the text is then left untouched).
int FormatSensorValue(const VARIANT& value, WideString& text);

// Bytes as two upper-case hexadecimal digits each, separated by single
// spaces; no bytes give the empty text. 1, or 0 with the text untouched.
int FormatHexBytes(const BYTE* bytes, size_t count, WideString& text);

// Converts a reported value into an automation value with the platform's
// PropVariantToVariant, or on Wine (whose propsys only has a stub that ends
// the process) with ConvertPropVariant. 1, or 0 with the target left empty.
// The target must be empty on entry.
int ConvertReportedValue(const PROPVARIANT& source, VARIANT& target);

// The program's own conversion of the value types sensors report: scalars
// are copied, VT_LPWSTR, VT_LPSTR and VT_CLSID become VT_BSTR, VT_FILETIME
// becomes VT_DATE, and vectors of those become safe arrays. 1, or 0 with the
// target left empty for any other type. The target must be empty on entry.
int ConvertPropVariant(const PROPVARIANT& source, VARIANT& target);
