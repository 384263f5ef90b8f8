#include <doctest.h>

#include "BoundSimulator.h"
#include "BoundedThread.h"
#include "sensors/SensorList.h"

#include <sensors.h>

namespace {

const int kFieldsPerSensor = 6;
const wchar_t* const kFieldTexts[kFieldsPerSensor][2] = {
    {L"LATITUDE_DEGREES", L"VT_R8, 47.6, sine, 0.01, 500"},
    {L"LONGITUDE_DEGREES", L"VT_R8, -122.3, walk, 0.001, -122.4, -122.2"},
    {L"ALTITUDE_SEALEVEL_METERS", L"VT_R4, 56, ramp, 1, 0, 1000"},
    {L"SATELLITES_IN_VIEW", L"VT_I4, 9"},
    {L"CITY", L"VT_LPWSTR, Seattle"},
    {L"TIMESTAMP", L"VT_FILETIME, now"},
};

GUID StressId(unsigned number)
{
    return {0x57E55000u + number, 0xABCD, 0x4000, {0x90, 0, 0, 0, 0, 0, 0, 0x02}};
}

// The sensor appears at once, its fields one by one: until all are set its
// reports fail, so that every report a reader gets is whole, as a real
// sensor's is.
int AddStressSensor(SensorSimControl& sim, unsigned number)
{
    const GUID id = StressId(number);
    if (!sim.AddSensor(&id, &SENSOR_CATEGORY_LOCATION, &SENSOR_TYPE_LOCATION_GPS, L"Stress",
                       SENSOR_STATE_READY) ||
        !sim.SetDataFailure(&id, E_FAIL)) {
        return 0;
    }
    for (const auto& field : kFieldTexts) {
        if (!sim.SetFieldText(&id, field[0], field[1]))
            return 0;
    }
    return sim.SetDataFailure(&id, S_OK);
}

void CountChange(int, SensorEntry*, void* context)
{
    InterlockedIncrement(static_cast<LONG*>(context));
}

// Every field seen in a walk must be whole, and so must the list: one whole
// report's fields, or none when the report could not be read (the sensor
// left, or was still being set up).
void CheckWalk(SensorEntry& entry, int& fieldLists)
{
    SensorEntry::FieldWalk walk(entry);
    int count = 0;
    for (SensorField* field = walk.First(); field; field = field->Next()) {
        ++count;
        if (field->name.IsEmpty() || field->valueText.IsEmpty())
            FAIL("a field was seen half-built");
    }
    if (count != 0 && count != kFieldsPerSensor)
        FAIL("a field list was seen half-built: " << count << " fields");
    fieldLists += count ? 1 : 0;
}

} // namespace

TEST_CASE("data storms, arrivals and departures while the list is refreshed and walked")
{
    SensorSimControl& sim = Simulator();
    REQUIRE(sim.Reset() == 1);
    for (unsigned number = 1; number <= 3; ++number)
        REQUIRE(AddStressSensor(sim, number) == 1);

    LONG changes = 0;
    SensorList list;
    list.SetChangeCallback(CountChange, &changes);
    REQUIRE(list.Refresh() != nullptr);
    REQUIRE(sim.SetStorm(1000) == 1);

    // One more sensor arrives and leaves over and over until told to stop.
    volatile LONG stop = 0;
    LONG rounds = 0;
    BoundedThread churn([&] {
        ComApartment churnApartment;
        churnApartment.Init(1);
        const GUID id = StressId(99);
        while (!InterlockedCompareExchange(&stop, 0, 0)) {
            if (AddStressSensor(sim, 99)) {
                sim.FireEnter(&id);
                Sleep(2);
                sim.RemoveSensor(&id);
                ++rounds;
            }
            Sleep(1);
        }
    });
    REQUIRE(churn.Started());
    // Also when a check fails below: the storm ends and the churn stops
    // before the thread is awaited.
    struct StopAll
    {
        SensorSimControl& sim;
        volatile LONG& stop;
        ~StopAll()
        {
            sim.SetStorm(0);
            InterlockedExchange(&stop, 1);
        }
    } stopAll{sim, stop};

    int walks = 0;
    int fieldLists = 0;
    const ULONGLONG end = GetTickCount64() + 3000;
    while (GetTickCount64() < end) {
        SensorList::Walk hold(list);
        list.Refresh();
        for (SensorEntry* entry = list.First(); entry; entry = entry->Next()) {
            // Half the walks read the current report, the others see only
            // what the notification threads wrote.
            if (walks % 2 == 0)
                entry->ReadFields(nullptr);
            CheckWalk(*entry, fieldLists);
        }
        ++walks;
    }

    sim.SetStorm(0);
    InterlockedExchange(&stop, 1);
    churn.Join();

    CHECK(walks > 0);
    CHECK(fieldLists > 0);
    CHECK(InterlockedCompareExchange(&changes, 0, 0) > 0);
    CHECK(sim.DeliveredEvents() > 0);
    CHECK(rounds > 0);
}
