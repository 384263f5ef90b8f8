#include "sensors/ReportInterval.h"

#include "base/Com.h"

#include <new>

#include <portabledevicetypes.h>
#include <sensors.h>
#include <sensorsapi.h>

namespace {

// The platform's value set (PortableDeviceTypes.dll).
const CLSID kPortableDeviceValuesClass = {
    0x0c15d503, 0xd017, 0x47ce, {0x90, 0x16, 0x7b, 0x3f, 0x97, 0x87, 0x21, 0xcc}};

// An operation of IPortableDeviceValues that the set below does not serve.
#define NOT_SERVED(signature)                                                                      \
    HRESULT STDMETHODCALLTYPE signature override                                                   \
    {                                                                                              \
        return E_NOTIMPL;                                                                          \
    }

// A value set that holds one unsigned integer: what SetProperties is handed
// where the platform's value set class is not registered. Only reading and
// that one value are served.
class OneValueSet final : public ComObject<IPortableDeviceValues>
{
public:
    OneValueSet(const PROPERTYKEY& key, ULONG value) : key_(key), value_(value) {}

    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override
    {
        if (!count) {
            return E_POINTER;
        }
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY* key,
                                    PROPVARIANT* value) override
    {
        if (index != 0) {
            return E_INVALIDARG;
        }
        if (key) {
            *key = key_;
        }
        return value ? Copy(value) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override
    {
        if (!value) {
            return E_POINTER;
        }
        return IsThisKey(key) ? Copy(value) : HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    HRESULT STDMETHODCALLTYPE GetUnsignedIntegerValue(REFPROPERTYKEY key, ULONG* value) override
    {
        if (!value) {
            return E_POINTER;
        }
        if (!IsThisKey(key)) {
            return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        }
        *value = value_;
        return S_OK;
    }

    // The set is only read.
    NOT_SERVED(SetValue(REFPROPERTYKEY, const PROPVARIANT*))
    NOT_SERVED(SetStringValue(REFPROPERTYKEY, LPCWSTR))
    NOT_SERVED(GetStringValue(REFPROPERTYKEY, LPWSTR*))
    NOT_SERVED(SetUnsignedIntegerValue(REFPROPERTYKEY, const ULONG))
    NOT_SERVED(SetSignedIntegerValue(REFPROPERTYKEY, const LONG))
    NOT_SERVED(GetSignedIntegerValue(REFPROPERTYKEY, LONG*))
    NOT_SERVED(SetUnsignedLargeIntegerValue(REFPROPERTYKEY, const ULONGLONG))
    NOT_SERVED(GetUnsignedLargeIntegerValue(REFPROPERTYKEY, ULONGLONG*))
    NOT_SERVED(SetSignedLargeIntegerValue(REFPROPERTYKEY, const LONGLONG))
    NOT_SERVED(GetSignedLargeIntegerValue(REFPROPERTYKEY, LONGLONG*))
    NOT_SERVED(SetFloatValue(REFPROPERTYKEY, const FLOAT))
    NOT_SERVED(GetFloatValue(REFPROPERTYKEY, FLOAT*))
    NOT_SERVED(SetErrorValue(REFPROPERTYKEY, const HRESULT))
    NOT_SERVED(GetErrorValue(REFPROPERTYKEY, HRESULT*))
    NOT_SERVED(SetKeyValue(REFPROPERTYKEY, REFPROPERTYKEY))
    NOT_SERVED(GetKeyValue(REFPROPERTYKEY, PROPERTYKEY*))
    NOT_SERVED(SetBoolValue(REFPROPERTYKEY, const BOOL))
    NOT_SERVED(GetBoolValue(REFPROPERTYKEY, BOOL*))
    NOT_SERVED(SetIUnknownValue(REFPROPERTYKEY, IUnknown*))
    NOT_SERVED(GetIUnknownValue(REFPROPERTYKEY, IUnknown**))
    NOT_SERVED(SetGuidValue(REFPROPERTYKEY, REFGUID))
    NOT_SERVED(GetGuidValue(REFPROPERTYKEY, GUID*))
    NOT_SERVED(SetBufferValue(REFPROPERTYKEY, BYTE*, DWORD))
    NOT_SERVED(GetBufferValue(REFPROPERTYKEY, BYTE**, DWORD*))
    NOT_SERVED(SetIPortableDeviceValuesValue(REFPROPERTYKEY, IPortableDeviceValues*))
    NOT_SERVED(GetIPortableDeviceValuesValue(REFPROPERTYKEY, IPortableDeviceValues**))
    NOT_SERVED(SetIPortableDevicePropVariantCollectionValue(REFPROPERTYKEY,
                                                            IPortableDevicePropVariantCollection*))
    NOT_SERVED(GetIPortableDevicePropVariantCollectionValue(REFPROPERTYKEY,
                                                            IPortableDevicePropVariantCollection**))
    NOT_SERVED(SetIPortableDeviceKeyCollectionValue(REFPROPERTYKEY, IPortableDeviceKeyCollection*))
    NOT_SERVED(GetIPortableDeviceKeyCollectionValue(REFPROPERTYKEY, IPortableDeviceKeyCollection**))
    NOT_SERVED(SetIPortableDeviceValuesCollectionValue(REFPROPERTYKEY,
                                                       IPortableDeviceValuesCollection*))
    NOT_SERVED(GetIPortableDeviceValuesCollectionValue(REFPROPERTYKEY,
                                                       IPortableDeviceValuesCollection**))
    NOT_SERVED(RemoveValue(REFPROPERTYKEY))
    NOT_SERVED(CopyValuesFromPropertyStore(IPropertyStore*))
    NOT_SERVED(CopyValuesToPropertyStore(IPropertyStore*))
    NOT_SERVED(Clear())

private:
    ~OneValueSet() override = default;

    bool IsThisKey(const PROPERTYKEY& key) const
    {
        return IsEqualGUID(key.fmtid, key_.fmtid) && key.pid == key_.pid;
    }
    HRESULT Copy(PROPVARIANT* value) const
    {
        PropVariantInit(value);
        value->vt = VT_UI4;
        value->ulVal = value_;
        return S_OK;
    }

    PROPERTYKEY key_;
    ULONG value_;
};

#undef NOT_SERVED

// The platform's value set when it is there, else the program's own.
ComPtr<IPortableDeviceValues> MakeIntervalRequest(ULONG ms)
{
    ComPtr<IPortableDeviceValues> values = CreateByClassId<IPortableDeviceValues>(
        kPortableDeviceValuesClass, __uuidof(IPortableDeviceValues));
    if (values &&
        SUCCEEDED(values->SetUnsignedIntegerValue(SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL, ms))) {
        return values;
    }
    values.Reset(new (std::nothrow) OneValueSet(SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL, ms));
    return values;
}

// A property the sensor states as VT_UI4; 1, or 0 with value untouched.
int ReadUnsignedProperty(ISensor* sensor, const PROPERTYKEY& key, ULONG& value)
{
    PROPVARIANT stated;
    PropVariantInit(&stated);
    if (!sensor || FAILED(sensor->GetProperty(key, &stated))) {
        return 0;
    }
    const bool usable = stated.vt == VT_UI4;
    if (usable) {
        value = stated.ulVal;
    }
    PropVariantClear(&stated);
    return usable;
}

} // namespace

int ReadReportIntervals(ISensor* sensor, ReportIntervals& intervals)
{
    ReportIntervals read;
    read.hasCurrent =
        ReadUnsignedProperty(sensor, SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL, read.currentMs) != 0;
    read.hasMinimum =
        ReadUnsignedProperty(sensor, SENSOR_PROPERTY_MIN_REPORT_INTERVAL, read.minimumMs) != 0;
    intervals = read;
    return read.hasCurrent;
}

int ParseIntervalText(const wchar_t* text, ULONG& ms)
{
    if (!text) {
        return 0;
    }
    while (*text == L' ' || *text == L'\t') {
        ++text;
    }
    unsigned long long value = 0;
    int digits = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text, ++digits) {
        value = value * 10 + static_cast<unsigned>(*text - L'0');
        if (value > 0xFFFFFFFFull) {
            return 0;
        }
    }
    while (*text == L' ' || *text == L'\t') {
        ++text;
    }
    if (!digits || *text) {
        return 0;
    }
    ms = static_cast<ULONG>(value);
    return 1;
}

bool IntervalTaken(const IntervalOutcome& outcome)
{
    if (FAILED(outcome.call)) {
        return false;
    }
    return outcome.keyAnswered ? SUCCEEDED(outcome.key) : outcome.call == S_OK;
}

int RequestReportInterval(ISensor* sensor, ULONG ms, IntervalOutcome& outcome)
{
    outcome = IntervalOutcome();
    ComPtr<IPortableDeviceValues> request = MakeIntervalRequest(ms);
    if (!sensor || !request) {
        return 0;
    }
    ComPtr<IPortableDeviceValues> results;
    outcome.call = sensor->SetProperties(request.Get(), results.Put());
    HRESULT keyResult = E_FAIL;
    if (results &&
        SUCCEEDED(results->GetErrorValue(SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL, &keyResult))) {
        outcome.keyAnswered = true;
        outcome.key = keyResult;
    }
    outcome.readBack = ReadUnsignedProperty(sensor, SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL,
                                            outcome.acceptedMs) != 0;
    return IntervalTaken(outcome);
}

void DescribeIntervalOutcome(ULONG requestedMs, const IntervalOutcome& outcome, WideString& text)
{
    if (!IntervalTaken(outcome)) {
        const HRESULT why = outcome.keyAnswered && FAILED(outcome.key) ? outcome.key : outcome.call;
        const auto code = static_cast<unsigned long>(why);
        Format(text, L"The sensor refused the interval (error 0x%08lX).", code);
    } else if (!outcome.readBack) {
        text.Assign(L"Interval sent; the sensor does not say which it uses.");
    } else if (requestedMs == 0) {
        Format(text, L"The sensor uses its default interval: %lu ms.", outcome.acceptedMs);
    } else if (outcome.acceptedMs == requestedMs) {
        Format(text, L"The sensor now reports every %lu ms.", outcome.acceptedMs);
    } else {
        Format(text, L"The sensor chose %lu ms instead of %lu ms.", outcome.acceptedMs,
               requestedMs);
    }
}

void IntervalText(bool stated, ULONG ms, WideString& text)
{
    if (stated) {
        Format(text, L"%lu ms", ms);
    } else {
        text.Assign(L"Not stated");
    }
}
