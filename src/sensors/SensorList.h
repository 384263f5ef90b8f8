#pragma once

#include "base/Com.h"
#include "base/LockedList.h"
#include "base/ScopedHandle.h"
#include "base/WideString.h"
#include "sensors/SensorField.h"

#include <windows.h>
#include <sensorsapi.h>

class SensorList;
class SensorEntry;

// Codes passed to the change callback.
enum SensorChangeCode
{
    SENSOR_CHANGE_DATA = 0,  // new data (fields re-read) or the sensor left
    SENSOR_CHANGE_ENTER = 1, // a sensor arrived; no entry yet
    SENSOR_CHANGE_EVENT = 3, // the sensor raised an event
    SENSOR_CHANGE_STATE = 4, // the sensor's state changed
};

// Called on the Sensor API's threads: must only do thread-safe work and must
// not wait for the list's thread (post a message, never send one), since
// Refresh waits for a running event to finish before it deletes its entry.
typedef void (*SensorChangeCallback)(int code, SensorEntry* entry, void* context);

// Called on the Sensor API's threads with every data report a sensor sends
// and the fields read from it, before they become the entry's fields; the
// same rules as for the change callback apply.
typedef void (*SensorReportObserver)(const SensorEntry& entry, ISensorDataReport* report,
                                     const LockedList& fields, void* context);

// An event sink that reports to an owner until it is detached.
//
// The owner pointer is read and used only under the sink's own lock, and
// Detach clears it under that lock. So once Detach returns, no event that
// is still delivered (the API may hold the sink longer than we do) reaches
// the owner, and an event already running has finished.
template <typename Interface, typename Owner> class DetachableSink : public ComObject<Interface>
{
public:
    void Detach()
    {
        ScopedLock lock(ownerLock_);
        owner_ = nullptr;
    }

protected:
    explicit DetachableSink(Owner* owner) : owner_(owner) { ownerLock_.Init(); }

    Owner* owner_;
    CriticalSection ownerLock_;
};

// Receives the sensor manager's arrival events for a SensorList.
class ManagerEventSink final : public DetachableSink<ISensorManagerEvents, SensorList>
{
public:
    explicit ManagerEventSink(SensorList* owner) : DetachableSink(owner) {}

    HRESULT STDMETHODCALLTYPE OnSensorEnter(ISensor* sensor, SensorState state) override;

private:
    ~ManagerEventSink() override = default;
};

// Receives one sensor's events for its SensorEntry; detached before the
// entry is deleted.
class SensorEventSink final : public DetachableSink<ISensorEvents, SensorEntry>
{
public:
    explicit SensorEventSink(SensorEntry* owner) : DetachableSink(owner) {}

    HRESULT STDMETHODCALLTYPE OnStateChanged(ISensor* sensor, SensorState state) override;
    HRESULT STDMETHODCALLTYPE OnDataUpdated(ISensor* sensor, ISensorDataReport* report) override;
    HRESULT STDMETHODCALLTYPE OnEvent(ISensor* sensor, REFGUID eventId,
                                      IPortableDeviceValues* values) override;
    HRESULT STDMETHODCALLTYPE OnLeave(REFSENSOR_ID id) override;

private:
    ~SensorEventSink() override = default;
    enum Action
    {
        NOTIFY_ONLY,
        READ_REPORT,
        NEW_STATE,
        MARK_LEFT,
    };
    void Notify(int code, Action action, ISensorDataReport* report, long state = 0);
};

// The report's own time stamp (UTC), or the time now when it has none.
void ReportUtcTime(ISensorDataReport* report, SYSTEMTIME& utc);

// Builds the field records of a data report into an empty list, in report
// order. 1, or 0 when the report's values cannot be had.
int BuildFields(ISensorDataReport* report, LockedList& fields);

// Appends a SensorField for every value of the set, in its order, named by
// the given function and with the value's display text. 1, or 0 when the
// set's count cannot be had.
typedef int (*KeyNamer)(const PROPERTYKEY& key, WideString& name);
int AppendNamedValues(IPortableDeviceValues* values, KeyNamer name, LockedList& fields);

// The state of a sensor whose state could not be read.
constexpr long kSensorStateUnknown = -1;

// One sensor: its friendly name, its data fields and its event subscription.
class SensorEntry : public ListNode
{
public:
    SensorEntry(SensorList* owner, ISensor* sensor);
    ~SensorEntry() override;

    SensorEntry* Next() const { return static_cast<SensorEntry*>(next); }
    SensorList* Owner() const { return owner_; }
    ISensor* Sensor() const { return sensor_.Get(); }
    const WideString& Name() const { return name_; }
    int SetName(const wchar_t* name) { return name_.Assign(name); }
    const GUID& Id() const { return id_; }
    // The SensorState value last read or reported, or kSensorStateUnknown.
    // Written on the event thread, so read at any time.
    long State() const { return InterlockedCompareExchange(&state_, 0, 0); }
    // Reads the sensor's id and state from the sensor.
    void ReadIdentity();

    // Replaces the fields with those of the report, or of the sensor's
    // current report when none is given; answers the first field or null.
    // The new fields are built aside and swapped in under the field list's
    // lock, so a walker holding that lock sees the old or the new list, whole.
    // The answer may be replaced by another thread at once: walk the fields
    // through a FieldWalk instead.
    SensorField* ReadFields(ISensorDataReport* report);
    // Makes fresh (built by BuildFields, emptied) the entry's fields; answers
    // the first field or null.
    SensorField* ReplaceFields(LockedList& fresh);

    // Set on the event thread once a data update was read into the fields;
    // taken (answered and cleared) by the thread that shows them.
    bool TakeNewData() { return InterlockedExchange(&newData_, 0) != 0; }
    // Set on the event thread when the sensor left; stays set.
    bool HasLeft() const { return left_ != 0; }

    // Registers a fresh event sink with the sensor and asks for its events.
    int Subscribe();
    // Detaches the sink (no event reaches this entry afterwards) and
    // unregisters it from the sensor.
    void Unsubscribe();

    // Holds the entry's field lock for one scope; a data update on a
    // notification thread waits until the walk is done. Hold no FieldWalk
    // across SensorList::Refresh.
    class FieldWalk
    {
    public:
        explicit FieldWalk(SensorEntry& entry) : fields_(entry.fields_), lock_(entry.fields_) {}
        SensorField* First() const { return static_cast<SensorField*>(fields_.First()); }

    private:
        LockedList& fields_;
        ScopedLock lock_;
    };

private:
    friend class SensorEventSink;

    LockedList fields_;
    mutable volatile LONG state_ = kSensorStateUnknown;
    GUID id_ = {};
    volatile LONG newData_ = 0;
    volatile LONG left_ = 0;
    SensorList* owner_;
    ComPtr<ISensor> sensor_;
    WideString name_;
    ComPtr<SensorEventSink> sink_;
};

// Every sensor of the Sensor API as a SensorEntry, with their events passed
// to one change callback. Entries are created and deleted only by Refresh,
// on the thread that owns the list; events arrive on the API's threads.
//
// Thread safety: an event runs under its sink's lock and reaches its entry
// only while the sink is attached; before Refresh deletes the entry of a
// sensor that left, it detaches its sink under that lock (waiting for a
// running event) and unregisters it. An event rewrites an entry's fields
// by swapping a fully built list in under the field list's lock, which
// walkers hold (FieldWalk). Locks are taken in the order entry list, sink,
// field list; events never take the entry list's lock.
class SensorList
{
public:
    SensorList();
    ~SensorList();
    SensorList(const SensorList&) = delete;
    SensorList& operator=(const SensorList&) = delete;

    // A null function silences all notifications.
    void SetChangeCallback(SensorChangeCallback callback, void* context);

    // Enumerates the sensors anew: a sensor still present keeps its entry
    // (fields, state and event subscription), a new one gets an entry, and
    // the entries of sensors that left are deleted. Answers the first entry
    // or null.
    SensorEntry* Refresh();
    SensorEntry* First() const { return static_cast<SensorEntry*>(entries_.First()); }

    // Starts creating the Sensor API's manager on a thread of its own, so
    // that its cost (loading the API and reaching its service) is paid
    // beside the window's start instead of after it. The next Refresh waits
    // for it, and creates the manager itself if this failed. A thread may
    // use an object made by another only within the multithreaded
    // apartment, so a list on another kind of thread makes nothing ahead.
    // Call it on the list's own thread; 1 when the creation started.
    int CreateManagerAhead();

    // Asks the user, in a window owned by parent, to let the program use
    // the entry's sensor (ISensorManager::RequestPermissions, modal). The
    // answer arrives as a state change. 1 when the request was made and
    // not refused.
    int RequestAccess(const SensorEntry& entry, HWND parent);

    // Passes an event to the change callback, if one is installed.
    void Notify(int code, SensorEntry* entry);

    // A null function stops the observation; once this returns, no call of
    // the previous observer is running.
    void SetReportObserver(SensorReportObserver observer, void* context);
    // Shows a data report to the observer, if one is installed.
    void ObserveReport(const SensorEntry& entry, ISensorDataReport* report,
                       const LockedList& fields);

    // Holds the entry list's lock for one scope (for example one tree
    // rebuild: Refresh, then walk the entries and, each through a
    // FieldWalk, their fields).
    class Walk
    {
    public:
        explicit Walk(SensorList& list) : lock_(list.entries_) {}

    private:
        ScopedLock lock_;
    };

private:
    static DWORD WINAPI CreateManagerEntry(void* list);
    void TakeManagerMadeAhead();
    int CreateManager();
    void RegisterManagerSink();
    void DeleteEntries();
    void AddSensor(ISensor* sensor, LockedList& entries);
    SensorEntry* TakeEntry(ISensor* sensor);

    LockedList entries_;
    ComApartment apartment_;
    CriticalSection callbackLock_;
    SensorChangeCallback callback_ = nullptr;
    void* context_ = nullptr;
    // Held while the observer runs, so that removing it waits for a call.
    CriticalSection observerLock_;
    SensorReportObserver observer_ = nullptr;
    void* observerContext_ = nullptr;
    ComPtr<ISensorManager> manager_;
    ComPtr<ManagerEventSink> managerSink_;
    // The thread of CreateManagerAhead and what it made: written by that
    // thread alone, read once it has ended.
    ScopedHandle aheadThread_;
    ComPtr<ISensorManager> aheadManager_;
};
