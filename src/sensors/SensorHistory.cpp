#include "sensors/SensorHistory.h"

#include "sensors/SensorField.h"
#include "sensors/SensorList.h"

#include <algorithm>
#include <limits>

namespace {

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();
constexpr size_t kNotFound = static_cast<size_t>(-1);
// The first size of a ring; it doubles from there up to its limit.
constexpr size_t kFirstRows = 256;

long long FileTimeTicks(const FILETIME& time)
{
    return static_cast<long long>((static_cast<unsigned long long>(time.dwHighDateTime) << 32) |
                                  time.dwLowDateTime);
}

} // namespace

int NumericValue(const VARIANT& variant, double& value)
{
    switch (variant.vt) {
    case VT_I1:
        value = variant.cVal;
        return 1;
    case VT_UI1:
        value = variant.bVal;
        return 1;
    case VT_I2:
        value = variant.iVal;
        return 1;
    case VT_UI2:
        value = variant.uiVal;
        return 1;
    case VT_I4:
        value = variant.lVal;
        return 1;
    case VT_UI4:
        value = variant.ulVal;
        return 1;
    case VT_INT:
        value = variant.intVal;
        return 1;
    case VT_UINT:
        value = variant.uintVal;
        return 1;
    case VT_I8:
        value = static_cast<double>(variant.llVal);
        return 1;
    case VT_UI8:
        value = static_cast<double>(variant.ullVal);
        return 1;
    case VT_R4:
        value = variant.fltVal;
        return 1;
    case VT_R8:
        value = variant.dblVal;
        return 1;
    case VT_BOOL:
        value = variant.boolVal ? 1.0 : 0.0;
        return 1;
    default:
        return 0;
    }
}

long long ReportFileTime(ISensorDataReport* report)
{
    SYSTEMTIME utc = {};
    FILETIME file = {};
    ReportUtcTime(report, utc);
    if (SystemTimeToFileTime(&utc, &file)) {
        return FileTimeTicks(file);
    }
    GetSystemTimeAsFileTime(&file);
    return FileTimeTicks(file);
}

void HistoryRing::Append(long long time, const HistoryValue* values, size_t count, size_t maxRows,
                         size_t& growBytes)
{
    ++appended_;
    if (count_ && time < NewestTime()) {
        time = NewestTime();
    }
    rowFields_.clear();
    for (size_t index = 0; index < count; ++index) {
        size_t field = FieldIndex(values[index].name, index);
        if (field == kNotFound) {
            field = AddField(values[index], growBytes);
        }
        rowFields_.push_back(field);
        if (field != kNotFound) {
            fields_[field].newestText.assign(values[index].text ? values[index].text : L"");
        }
    }
    if (count_ == capacity_ && !Grow(maxRows, growBytes) && capacity_ == 0) {
        return;
    }
    size_t slot;
    if (count_ < capacity_) {
        slot = Physical(count_++);
    } else {
        slot = first_;
        first_ = (first_ + 1) % capacity_;
    }
    times_[slot] = time;
    for (std::vector<double>& column : columns_) {
        column[slot] = kNoValue;
    }
    for (size_t index = 0; index < rowFields_.size(); ++index) {
        const size_t field = rowFields_[index];
        if (field != kNotFound && fields_[field].numeric && values[index].numeric) {
            columns_[fields_[field].column][slot] = values[index].value;
        }
    }
}

// Reports mostly carry the same fields in the same order: the field at the
// value's own position is tried first.
size_t HistoryRing::FieldIndex(const wchar_t* name, size_t hint)
{
    if (!name) {
        name = L"";
    }
    if (hint < fields_.size() && fields_[hint].name == name) {
        return hint;
    }
    for (size_t index = 0; index < fields_.size(); ++index) {
        if (fields_[index].name == name) {
            return index;
        }
    }
    return kNotFound;
}

// A numeric field whose column the budget cannot hold is kept by name only.
size_t HistoryRing::AddField(const HistoryValue& value, size_t& growBytes)
{
    if (fields_.size() >= kMaxFields) {
        return kNotFound;
    }
    Field field;
    field.name.assign(value.name ? value.name : L"");
    const size_t columnBytes = capacity_ * sizeof(double);
    if (value.numeric && columnBytes <= growBytes) {
        field.numeric = true;
        field.column = columns_.size();
        columns_.emplace_back(capacity_, kNoValue);
        growBytes -= columnBytes;
        bytes_ += columnBytes;
    }
    fields_.push_back(std::move(field));
    return fields_.size() - 1;
}

size_t HistoryRing::NextCapacity(size_t maxRows) const
{
    return std::min(maxRows, std::max(kFirstRows, capacity_ * 2));
}

size_t HistoryRing::BytesToGrow(size_t maxRows) const
{
    const size_t rows = NextCapacity(maxRows);
    return count_ < capacity_ || rows <= capacity_ ? 0 : (rows - capacity_) * RowBytes();
}

bool HistoryRing::Grow(size_t maxRows, size_t& growBytes)
{
    const size_t rows = std::min(NextCapacity(maxRows), capacity_ + growBytes / RowBytes());
    if (rows <= capacity_) {
        return false;
    }
    const size_t added = (rows - capacity_) * RowBytes();
    Reallocate(rows);
    growBytes -= added;
    return true;
}

void HistoryRing::Shrink(size_t rows)
{
    if (rows < capacity_) {
        Reallocate(rows);
    }
}

void HistoryRing::Reallocate(size_t rows)
{
    const size_t kept = std::min(count_, rows);
    const size_t skipped = count_ - kept;
    std::vector<long long> times(rows, 0);
    for (size_t index = 0; index < kept; ++index) {
        times[index] = times_[Physical(skipped + index)];
    }
    for (std::vector<double>& column : columns_) {
        std::vector<double> moved(rows, kNoValue);
        for (size_t index = 0; index < kept; ++index) {
            moved[index] = column[Physical(skipped + index)];
        }
        column.swap(moved);
    }
    times_.swap(times);
    capacity_ = rows;
    first_ = 0;
    count_ = kept;
    bytes_ = rows * RowBytes();
}

size_t HistoryRing::FirstAtOrAfter(long long time) const
{
    size_t low = 0;
    size_t high = count_;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (times_[Physical(middle)] < time) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

void HistoryRing::Read(long long from, long long to, HistorySnapshot& snapshot) const
{
    snapshot.fields.resize(fields_.size());
    snapshot.newestTime = NewestTime();
    snapshot.appended = appended_;
    snapshot.kept = count_;
    size_t begin = FirstAtOrAfter(from);
    size_t end = to < from ? begin : FirstAtOrAfter(to);
    // One row beyond either edge, and the rows at the end time itself.
    while (end < count_ && times_[Physical(end)] <= to) {
        ++end;
    }
    begin -= begin > 0 ? 1 : 0;
    end += end < count_ ? 1 : 0;
    for (size_t index = 0; index < fields_.size(); ++index) {
        const Field& field = fields_[index];
        HistoryField& out = snapshot.fields[index];
        out.name = field.name;
        out.numeric = field.numeric;
        out.newestText = field.newestText;
        out.samples.clear();
        if (!field.numeric) {
            continue;
        }
        out.samples.reserve(end - begin);
        const std::vector<double>& column = columns_[field.column];
        for (size_t row = begin; row < end; ++row) {
            const size_t at = Physical(row);
            out.samples.push_back(HistorySample{times_[at], column[at]});
        }
    }
}

SensorHistory::SensorHistory(size_t byteBudget, size_t rowsPerSensor)
    : byteBudget_(byteBudget), rowsPerSensor_(rowsPerSensor)
{
    lock_.Init();
}

SensorHistory::Sensor& SensorHistory::Find(const GUID& sensorId)
{
    for (Sensor& sensor : sensors_) {
        if (IsEqualGUID(sensor.id, sensorId)) {
            return sensor;
        }
    }
    if (sensors_.size() < kMaxSensors) {
        sensors_.push_back(Sensor{sensorId, HistoryRing()});
        return sensors_.back();
    }
    Sensor* quietest = &sensors_.front();
    for (Sensor& sensor : sensors_) {
        if (sensor.ring.NewestTime() < quietest->ring.NewestTime()) {
            quietest = &sensor;
        }
    }
    bytes_ -= quietest->ring.Bytes();
    quietest->id = sensorId;
    quietest->ring = HistoryRing();
    return *quietest;
}

void SensorHistory::Append(const GUID& sensorId, long long time, const HistoryValue* values,
                           size_t count)
{
    ScopedLock lock(lock_);
    HistoryRing& ring = Find(sensorId).ring;
    MakeRoomFor(ring);
    size_t growBytes = byteBudget_ > bytes_ ? byteBudget_ - bytes_ : 0;
    const size_t before = ring.Bytes();
    ring.Append(time, values, count, rowsPerSensor_, growBytes);
    bytes_ += ring.Bytes() - before;
}

void SensorHistory::MakeRoomFor(const HistoryRing& ring)
{
    const size_t needed = ring.BytesToGrow(rowsPerSensor_);
    while (needed && bytes_ + needed > byteBudget_) {
        Sensor* largest = nullptr;
        for (Sensor& sensor : sensors_) {
            if (&sensor.ring != &ring &&
                (!largest || sensor.ring.Bytes() > largest->ring.Bytes())) {
                largest = &sensor;
            }
        }
        if (!largest || largest->ring.Bytes() <= ring.Bytes() + needed) {
            return;
        }
        bytes_ -= largest->ring.Bytes();
        largest->ring.Shrink(largest->ring.Capacity() / 2);
        bytes_ += largest->ring.Bytes();
    }
}

void SensorHistory::AppendFields(const GUID& sensorId, long long time, const LockedList& fields)
{
    HistoryValue values[HistoryRing::kMaxFields];
    size_t count = 0;
    for (const ListNode* node = fields.First(); node && count < HistoryRing::kMaxFields;
         node = node->next) {
        const auto* field = static_cast<const SensorField*>(node);
        HistoryValue& value = values[count++];
        value.name = field->name.Data();
        value.text = field->valueText.Data();
        value.numeric = NumericValue(field->value.Get(), value.value) != 0;
    }
    Append(sensorId, time, values, count);
}

int SensorHistory::Read(const GUID& sensorId, long long from, long long to,
                        HistorySnapshot& snapshot) const
{
    ScopedLock lock(lock_);
    for (const Sensor& sensor : sensors_) {
        if (IsEqualGUID(sensor.id, sensorId)) {
            sensor.ring.Read(from, to, snapshot);
            return 1;
        }
    }
    return 0;
}

size_t SensorHistory::Bytes() const
{
    ScopedLock lock(lock_);
    return bytes_;
}
