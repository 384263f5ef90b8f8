#include <doctest.h>

#include "BoundSimulator.h"
#include "BoundedThread.h"
#include "sensors/SensorCatalogue.h"
#include "sensors/SensorList.h"

#include <sensors.h>
#include <string>
#include <utility>
#include <vector>

namespace {

GUID SensorId(unsigned number)
{
    return {0x5E750000u + number, 0x1234, 0x4321, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
}

// Change callbacks as they came: the code and the entry.
using Changes = std::vector<std::pair<int, SensorEntry*>>;

// Records every change callback; the simulator returns from a Fire call
// only after the sink (and so the callback) returned.
struct Recorder
{
    Recorder() { lock.Init(); }
    static void Callback(int code, SensorEntry* entry, void* context)
    {
        Recorder* self = static_cast<Recorder*>(context);
        ScopedLock hold(self->lock);
        self->records.push_back({code, entry});
    }
    Changes Take()
    {
        ScopedLock hold(lock);
        Changes taken;
        taken.swap(records);
        return taken;
    }
    CriticalSection lock;
    Changes records;
};

// The fields of a GPS that AddGps adds, in report order, as Fields gives them.
const std::string kGpsFields = "LATITUDE DEGREES=47.600000; LONGITUDE DEGREES=-122.250000; "
                               "CITY=Seattle; SECOND=42; "
                               "{0123ABCD-4567-89EF-0123-456789ABCDEF}.7=True";

struct SensorFixture
{
    SensorFixture() : sim(Simulator())
    {
        REQUIRE(sim.Reset() == 1);
        list.SetChangeCallback(Recorder::Callback, &recorder);
    }

    void AddGps(unsigned number, const wchar_t* name)
    {
        const GUID id = SensorId(number);
        REQUIRE(sim.AddSensor(&id, &SENSOR_CATEGORY_LOCATION, &SENSOR_TYPE_LOCATION_GPS, name,
                              SENSOR_STATE_READY) == 1);
        const wchar_t* const fields[][2] = {
            {L"LATITUDE_DEGREES", L"VT_R8, 47.6"},
            {L"LONGITUDE_DEGREES", L"VT_R8, -122.25"},
            {L"CITY", L"VT_LPWSTR, Seattle"},
            {L"SAMPLE_SENSOR_DATA_TYPE_SECOND", L"VT_UI4, 42"},
            {L"{0123ABCD-4567-89EF-0123-456789ABCDEF},7", L"VT_BOOL, true"}};
        for (const auto& field : fields)
            REQUIRE(sim.SetFieldText(&id, field[0], field[1]) == 1);
    }
    // The GPS number 1 as the list's only entry.
    SensorEntry& OnlyGps()
    {
        AddGps(1, L"GPS");
        SensorEntry* entry = list.Refresh();
        REQUIRE(entry != nullptr);
        return *entry;
    }

    const GUID id = SensorId(1);
    SensorSimControl& sim;
    Recorder recorder;
    SensorList list;
};

// An accelerometer named "Motion" as the simulator's only sensor; answers
// how many simulator objects live with it in place.
LONG OnlyMotionSensor(SensorSimControl& sim, const GUID& id)
{
    REQUIRE(sim.Reset() == 1);
    REQUIRE(sim.AddSensor(&id, &SENSOR_CATEGORY_MOTION, &SENSOR_TYPE_ACCELEROMETER_3D, L"Motion",
                          SENSOR_STATE_READY) == 1);
    return sim.LiveObjects();
}

// An ASCII text narrowed, so that failed checks can print it.
std::string Narrow(const WideString& text)
{
    return std::string(text.Data(), text.Data() + text.Length());
}

// The entry's fields as they stand: "name=value; ...".
std::string Fields(SensorEntry& entry)
{
    std::string text;
    SensorEntry::FieldWalk walk(entry);
    for (SensorField* field = walk.First(); field; field = field->Next())
        text += (text.empty() ? "" : "; ") + Narrow(field->name) + "=" + Narrow(field->valueText);
    return text;
}

// Every entry of the list with its fields read now, a line each.
std::string Listing(SensorList& list)
{
    std::string text;
    for (SensorEntry* entry = list.First(); entry; entry = entry->Next()) {
        // Reading answers the first of the fields read.
        const SensorField* read = entry->ReadFields(nullptr);
        CHECK(read == SensorEntry::FieldWalk(*entry).First());
        text += Narrow(entry->Name()) + ": " + Fields(*entry) + "\n";
    }
    return text;
}

} // namespace

TEST_CASE_FIXTURE(SensorFixture, "sensors are listed with their names and fields in report order")
{
    AddGps(1, L"Integrated GPS");
    const GUID nameless = SensorId(2);
    REQUIRE(sim.AddSensor(&nameless, &SENSOR_CATEGORY_LIGHT, &SENSOR_TYPE_AMBIENT_LIGHT, nullptr,
                          SENSOR_STATE_READY) == 1);
    REQUIRE(sim.SetFieldText(&nameless, L"LIGHT_LEVEL_LUX", L"VT_R4, 1.5") == 1);

    list.Refresh();
    SensorEntry* first = list.Refresh();
    REQUIRE(first == list.First());
    CHECK(Listing(list) == "Integrated GPS: " + kGpsFields + "\n: LIGHT LEVEL LUX=1.500000\n");

    // A report that cannot be read, or one without fields, leaves none.
    REQUIRE(sim.SetDataFailure(&id, E_FAIL) == 1);
    CHECK(first->ReadFields(nullptr) == nullptr);
    CHECK(Fields(*first).empty());
    REQUIRE(sim.SetDataFailure(&id, S_OK) == 1);
    REQUIRE(sim.ClearFields(&id) == 1);
    CHECK(first->ReadFields(nullptr) == nullptr);
}

TEST_CASE_FIXTURE(SensorFixture, "with no sensors the manager still reports arrivals")
{
    CHECK(list.Refresh() == nullptr);
    CHECK(list.First() == nullptr);
    CHECK(sim.HasSink(nullptr) == 1);

    AddGps(1, L"Late GPS");
    REQUIRE(sim.FireEnter(&id) == 1);
    CHECK(recorder.Take() == Changes{{SENSOR_CHANGE_ENTER, nullptr}});

    REQUIRE(list.Refresh() != nullptr);
    CHECK(Listing(list) == "Late GPS: " + kGpsFields + "\n");
}

TEST_CASE_FIXTURE(SensorFixture, "sensor events reach the callback with their codes")
{
    SensorEntry& entry = OnlyGps();
    CHECK(IsEqualGUID(entry.Id(), id));
    CHECK(entry.State() == SENSOR_STATE_READY);

    REQUIRE(sim.SetFieldText(&id, L"LATITUDE_DEGREES", L"VT_R8, 48.25") == 1);
    REQUIRE(sim.FireDataUpdated(&id) == 1);
    REQUIRE(sim.FireEvent(&id, nullptr) == 1);
    // A state change keeps the new state and reads the fields again: a
    // sensor that lost access reports nothing, one that is ready again does.
    REQUIRE(sim.FireStateChanged(&id, SENSOR_STATE_ACCESS_DENIED) == 1);
    CHECK(entry.State() == SENSOR_STATE_ACCESS_DENIED);
    CHECK(Fields(entry).empty());
    REQUIRE(sim.FireStateChanged(&id, SENSOR_STATE_READY) == 1);
    CHECK(entry.State() == SENSOR_STATE_READY);
    REQUIRE(sim.FireLeave(&id) == 1);

    CHECK(recorder.Take() == Changes{{SENSOR_CHANGE_DATA, &entry},
                                     {SENSOR_CHANGE_EVENT, &entry},
                                     {SENSOR_CHANGE_STATE, &entry},
                                     {SENSOR_CHANGE_STATE, &entry},
                                     {SENSOR_CHANGE_DATA, &entry}});
    // The data update re-read the fields before it was passed on.
    CHECK(Fields(entry).find("LATITUDE DEGREES=48.250000;") == 0);
}

TEST_CASE_FIXTURE(SensorFixture, "without a callback events are silently accepted")
{
    SensorEntry& entry = OnlyGps();
    list.SetChangeCallback(nullptr, nullptr);
    CHECK(sim.FireDataUpdated(&id) == 1);
    CHECK(sim.FireEnter(&id) == 1);
    CHECK(recorder.Take().empty());
    CHECK_FALSE(Fields(entry).empty());

    SensorEventSink* sink = new SensorEventSink(&entry);
    CHECK(sink->OnStateChanged(nullptr, SENSOR_STATE_READY) == S_OK);
    CHECK(sink->OnEvent(nullptr, SENSOR_EVENT_DATA_UPDATED, nullptr) == S_OK);
    CHECK(sink->OnLeave(id) == S_OK);
    void* object = &object;
    CHECK(sink->QueryInterface(IID_ISensorManagerEvents, &object) == E_NOINTERFACE);
    CHECK(object == nullptr);
    CHECK(sink->Release() == 0);
}

TEST_CASE("a deleted entry or list is unsubscribed and holds no simulator objects")
{
    SensorSimControl& sim = Simulator();
    const GUID id = SensorId(1);
    const LONG before = OnlyMotionSensor(sim, id);
    Recorder recorder;
    {
        SensorList list;
        list.SetChangeCallback(Recorder::Callback, &recorder);
        SensorEntry* entry = list.Refresh();
        REQUIRE(entry != nullptr);
        entry->ReadFields(nullptr);
        CHECK(sim.HasSink(&id) == 1);
        // A refresh replaces the entry; the old one's sink no longer fires.
        list.Refresh();
        CHECK(sim.FireStateChanged(&id, SENSOR_STATE_READY) == 1);
        CHECK(recorder.Take() == Changes{{SENSOR_CHANGE_STATE, list.First()}});
    }
    CHECK(sim.HasSink(&id) == 0);
    CHECK(sim.HasSink(nullptr) == 0);
    CHECK(sim.FireStateChanged(&id, SENSOR_STATE_READY) == 0);
    CHECK(recorder.Take().empty());
    CHECK(sim.LiveObjects() == before);
}

TEST_CASE("a manager made ahead on another thread serves the first refresh")
{
    SensorSimControl& sim = Simulator();
    const GUID id = SensorId(1);
    const LONG before = OnlyMotionSensor(sim, id);

    SUBCASE("its sensors are listed and their events arrive")
    {
        Recorder recorder;
        SensorList list;
        list.SetChangeCallback(Recorder::Callback, &recorder);
        REQUIRE(list.CreateManagerAhead() == 1);
        CHECK(list.CreateManagerAhead() == 0);
        SensorEntry* entry = list.Refresh();
        REQUIRE(entry != nullptr);
        CHECK(std::wstring(entry->Name().Data()) == L"Motion");
        CHECK(sim.HasSink(nullptr) == 1);
        REQUIRE(sim.FireStateChanged(&id, SENSOR_STATE_READY) == 1);
        CHECK(recorder.Take().size() == 1);
        CHECK(list.CreateManagerAhead() == 0);
    }
    SUBCASE("a list that never refreshes waits for it and lets it go")
    {
        SensorList list;
        REQUIRE(list.CreateManagerAhead() == 1);
    }
    SUBCASE("a list on a single-threaded apartment's thread makes none")
    {
        int answer = -1;
        BoundedThread thread([&answer] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            {
                SensorList list;
                answer = list.CreateManagerAhead();
            }
            CoUninitialize();
        });
        REQUIRE(thread.Started());
        thread.Join();
        CHECK(answer == 0);
    }
    CHECK(sim.LiveObjects() == before);
}
