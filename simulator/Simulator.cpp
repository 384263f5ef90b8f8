#include "Simulator.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <new>

volatile LONG g_liveObjects = 0;

namespace {

// How long a control call waits for the program's sink before giving up.
const DWORD eventWaitMs = 30000;
// The clock looks at the timeline at least this often.
const DWORD idleTickMs = 100;

CRITICAL_SECTION lockSection;
// Initialised before anything else can run: the first user is DllMain.
struct LockInit
{
    LockInit() { InitializeCriticalSection(&lockSection); }
} lockInit;

// A piece of work handed to the event thread.
struct Task
{
    std::function<int()> work;
    HANDLE done = nullptr;
    int result = 0;
    ~Task()
    {
        if (done) {
            CloseHandle(done);
        }
    }
};

// Everything below is guarded by SimLock. It is never destroyed: threads may
// still run while the process ends.
struct World
{
    std::vector<ComPtr<SimSensor>> sensors;
    std::vector<SimManager*> managers;
    bool started = false;
    bool timelineRunning = false;
    unsigned long long timelineMs = 0;
    ULONGLONG lastTick = 0;
    unsigned stormRate = 0;
    ULONGLONG stormStart = 0;
    unsigned long long stormRounds = 0;
    std::deque<std::shared_ptr<Task>> tasks;
    HANDLE taskReady = nullptr;
    HANDLE clockWake = nullptr;
    DWORD eventThreadId = 0;
    DWORD clockThreadId = 0;
};

World& TheWorld()
{
    static World* world = new World;
    return *world;
}

volatile LONG deliveredEvents = 0;
volatile LONG permissionRequests = 0;
HWND volatile lastPermissionParent = nullptr;

void CountDelivery()
{
    InterlockedIncrement(&deliveredEvents);
}

void WakeClock()
{
    if (TheWorld().clockWake) {
        SetEvent(TheWorld().clockWake);
    }
}

// Brings the timeline clock up to now. Call under SimLock.
void AdvanceTimelineClock(World& world)
{
    ULONGLONG now = GetTickCount64();
    if (world.timelineRunning) {
        world.timelineMs += now - world.lastTick;
    }
    world.lastTick = now;
}

ComPtr<SimSensor> FindLocked(World& world, const GUID& id)
{
    for (ComPtr<SimSensor>& sensor : world.sensors) {
        if (IsEqualGUID(sensor->Id(), id)) {
            return ComPtr<SimSensor>::Share(sensor.Get());
        }
    }
    return ComPtr<SimSensor>();
}

// Starts a sensor's timeline at timeline time `atMs`. Call under SimLock.
void ScheduleUpdates(SimSensor* sensor, unsigned long long atMs)
{
    sensor->nextUpdateMs = atMs + sensor->intervalMs;
}

// --- The clock thread: timeline and storm -------------------------------

struct DueStep
{
    ComPtr<SimSensor> sensor;
    TimelineAction action;
};

void CollectSensorSteps(SimSensor* sensor, unsigned long long nowMs, std::vector<DueStep>* due)
{
    const SensorDefinition& definition = sensor->Definition();
    auto add = [&](ActionKind kind) {
        DueStep step{ComPtr<SimSensor>::Share(sensor), TimelineAction()};
        step.action.kind = kind;
        due->push_back(std::move(step));
    };
    if (!sensor->present && !sensor->arrived && definition.arriveAfterMs &&
        nowMs >= definition.arriveAfterMs) {
        sensor->arrived = true;
        add(ActionKind::Enter);
    }
    if (sensor->present && definition.intervalMs && nowMs >= sensor->nextUpdateMs) {
        // A clock that fell behind skips updates rather than bursting.
        sensor->nextUpdateMs = std::max(sensor->nextUpdateMs + sensor->intervalMs, nowMs + 1);
        add(ActionKind::Data);
    }
    for (size_t i = 0; i < definition.actions.size(); ++i) {
        if (!sensor->actionsDone[i] && nowMs >= definition.actions[i].atMs) {
            sensor->actionsDone[i] = true;
            due->push_back(DueStep{ComPtr<SimSensor>::Share(sensor), definition.actions[i]});
        }
    }
}

// Milliseconds until the sensor's next timeline step, or idleTickMs.
unsigned long long NextStepIn(const SimSensor* sensor, unsigned long long nowMs)
{
    const SensorDefinition& definition = sensor->Definition();
    unsigned long long next = nowMs + idleTickMs;
    if (!sensor->arrived && definition.arriveAfterMs) {
        next = std::min<unsigned long long>(next, definition.arriveAfterMs);
    }
    if (sensor->present && definition.intervalMs) {
        next = std::min(next, sensor->nextUpdateMs);
    }
    for (size_t i = 0; i < definition.actions.size(); ++i) {
        if (!sensor->actionsDone[i]) {
            next = std::min<unsigned long long>(next, definition.actions[i].atMs);
        }
    }
    return next > nowMs ? next - nowMs : 0;
}

void RunStep(const DueStep& step)
{
    SimSensor* sensor = step.sensor.Get();
    const TimelineAction& action = step.action;
    switch (action.kind) {
    case ActionKind::Data:
        SimDeliverDataUpdated(sensor);
        break;
    case ActionKind::Event:
        SimDeliverEvent(sensor, action.eventId);
        break;
    case ActionKind::State:
        SimDeliverStateChanged(sensor, action.state);
        break;
    case ActionKind::Fail:
    case ActionKind::Recover: {
        SimLock lock;
        sensor->dataFailure = action.kind == ActionKind::Fail ? action.hr : S_OK;
        break;
    }
    case ActionKind::Leave:
        SimDeliverLeave(sensor, true);
        break;
    case ActionKind::Enter: {
        World& world = TheWorld();
        {
            SimLock lock;
            if (!sensor->present) {
                sensor->present = true;
                ScheduleUpdates(sensor, world.timelineMs);
            }
        }
        SimDeliverEnter(sensor);
        break;
    }
    }
}

// Sensors that the storm feeds: present and subscribed.
std::vector<ComPtr<SimSensor>> StormTargets(World& world)
{
    std::vector<ComPtr<SimSensor>> targets;
    for (ComPtr<SimSensor>& sensor : world.sensors) {
        if (sensor->present && sensor->sink) {
            targets.push_back(ComPtr<SimSensor>::Share(sensor.Get()));
        }
    }
    return targets;
}

// One pass of the clock: collects what is due under the lock, raises it
// outside. Answers how long to sleep.
DWORD ClockPass()
{
    World& world = TheWorld();
    std::vector<DueStep> due;
    unsigned long long stormRounds = 0;
    std::vector<ComPtr<SimSensor>> stormTargets;
    DWORD sleepMs = INFINITE;
    {
        SimLock lock;
        AdvanceTimelineClock(world);
        if (world.timelineRunning) {
            unsigned long long nextIn = idleTickMs;
            for (ComPtr<SimSensor>& sensor : world.sensors) {
                CollectSensorSteps(sensor.Get(), world.timelineMs, &due);
                nextIn = std::min(nextIn, NextStepIn(sensor.Get(), world.timelineMs));
            }
            sleepMs = static_cast<DWORD>(nextIn);
        }
        if (world.stormRate) {
            unsigned long long owed = (world.lastTick - world.stormStart) * world.stormRate / 1000;
            // More than a second behind: drop the backlog instead of bursting.
            if (owed > world.stormRounds + world.stormRate) {
                world.stormRounds = owed - world.stormRate;
            }
            stormRounds = owed - std::min(owed, world.stormRounds);
            world.stormRounds += stormRounds;
            stormTargets = StormTargets(world);
            sleepMs = std::min<DWORD>(sleepMs, 1);
        }
    }
    for (const DueStep& step : due) {
        RunStep(step);
    }
    for (unsigned long long round = 0; round < stormRounds; ++round) {
        for (ComPtr<SimSensor>& sensor : stormTargets) {
            SimDeliverDataUpdated(sensor.Get());
        }
    }
    return due.empty() ? sleepMs : 0;
}

DWORD WINAPI ClockThread(void*)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (;;) {
        DWORD sleepMs = ClockPass();
        if (sleepMs) {
            WaitForSingleObject(TheWorld().clockWake, sleepMs);
        }
    }
}

// --- The event thread: control calls -------------------------------------

DWORD WINAPI EventThread(void*)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    World& world = TheWorld();
    for (;;) {
        WaitForSingleObject(world.taskReady, INFINITE);
        for (;;) {
            std::shared_ptr<Task> task;
            {
                SimLock lock;
                if (world.tasks.empty()) {
                    break;
                }
                task = world.tasks.front();
                world.tasks.pop_front();
            }
            task->result = task->work();
            SetEvent(task->done);
        }
    }
}

// Waits for done while letting sent messages through, so a sink that sends
// a message to the waiting thread does not dead-lock with it.
bool WaitPumpingSent(HANDLE done, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return false;
        }
        DWORD wait = MsgWaitForMultipleObjects(1, &done, FALSE, static_cast<DWORD>(deadline - now),
                                               QS_SENDMESSAGE);
        if (wait == WAIT_OBJECT_0) {
            return true;
        }
        if (wait != WAIT_OBJECT_0 + 1) {
            return false;
        }
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

int StartThread(LPTHREAD_START_ROUTINE routine, DWORD* threadId)
{
    HANDLE thread = CreateThread(nullptr, 0, routine, nullptr, 0, threadId);
    if (!thread) {
        return 0;
    }
    CloseHandle(thread);
    return 1;
}

// Keeps the DLL loaded for good once its threads run.
void PinModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinModule), &module);
}

// Builds the sensors of a scenario; 0 if memory runs out.
int BuildSensors(const ScenarioDefinition& scenario, std::vector<ComPtr<SimSensor>>* sensors)
{
    std::vector<ComPtr<SimSensor>> built;
    for (const SensorDefinition& definition : scenario.sensors) {
        ComPtr<SimSensor> sensor;
        if (!SimSensor::Create(definition, &sensor)) {
            return 0;
        }
        sensor->present = definition.arriveAfterMs == 0;
        ScheduleUpdates(sensor.Get(), 0);
        built.push_back(std::move(sensor));
    }
    sensors->swap(built);
    return 1;
}

// Replaces the world's sensors; the old ones are released by the caller's
// vector after the lock is left.
void ReplaceSensors(std::vector<ComPtr<SimSensor>>* sensors, bool runTimeline)
{
    World& world = TheWorld();
    SimLock lock;
    for (ComPtr<SimSensor>& old : world.sensors) {
        old->present = false;
    }
    world.sensors.swap(*sensors);
    world.timelineMs = 0;
    world.lastTick = GetTickCount64();
    world.timelineRunning = runTimeline;
}

} // namespace

SimLock::SimLock()
{
    EnterCriticalSection(&lockSection);
}

SimLock::~SimLock()
{
    LeaveCriticalSection(&lockSection);
}

std::wstring SimDefaultScenarioPath()
{
    wchar_t buffer[MAX_PATH * 2];
    DWORD length = GetEnvironmentVariableW(L"TESSEL_SENSOR_SCENARIO", buffer, MAX_PATH * 2);
    if (length && length < MAX_PATH * 2) {
        return buffer;
    }
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&SimDefaultScenarioPath), &module);
    length = GetModuleFileNameW(module, buffer, MAX_PATH * 2);
    if (!length || length >= MAX_PATH * 2) {
        return std::wstring();
    }
    std::wstring path(buffer, length);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"SensorSim.ini";
}

int SimStart()
{
    World& world = TheWorld();
    {
        SimLock lock;
        if (world.started) {
            return 1;
        }
        world.taskReady = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        world.clockWake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!world.taskReady || !world.clockWake ||
            !StartThread(EventThread, &world.eventThreadId) ||
            !StartThread(ClockThread, &world.clockThreadId)) {
            return 0;
        }
        world.started = true;
        PinModule();
    }
    // Without a readable default scenario the world starts empty.
    SimLoadScenario(SimDefaultScenarioPath());
    return 1;
}

unsigned AcceptedIntervalMs(unsigned requestedMs, unsigned minimumMs, unsigned defaultMs)
{
    const unsigned wanted = requestedMs ? requestedMs : defaultMs;
    return std::max(wanted, minimumMs);
}

void SimFollowInterval(SimSensor* sensor)
{
    World& world = TheWorld();
    {
        SimLock lock;
        AdvanceTimelineClock(world);
        sensor->nextUpdateMs =
            std::min(sensor->nextUpdateMs, world.timelineMs + sensor->intervalMs);
    }
    WakeClock();
}

int SimLoadScenario(const std::wstring& path)
{
    try {
        ScenarioDefinition scenario;
        std::vector<ComPtr<SimSensor>> sensors;
        if (!ReadScenarioFile(path, &scenario) || !BuildSensors(scenario, &sensors)) {
            return 0;
        }
        ReplaceSensors(&sensors, scenario.timeline);
        WakeClock();
        return 1;
    } catch (...) {
        return 0;
    }
}

void SimReset()
{
    std::vector<ComPtr<SimSensor>> none;
    ReplaceSensors(&none, false);
    SimSetStorm(0);
    InterlockedExchange(&deliveredEvents, 0);
    InterlockedExchange(&permissionRequests, 0);
    lastPermissionParent = nullptr;
}

void SimSetTimeline(bool run)
{
    World& world = TheWorld();
    {
        SimLock lock;
        AdvanceTimelineClock(world);
        world.timelineRunning = run;
    }
    WakeClock();
}

void SimSetStorm(unsigned eventsPerSecond)
{
    World& world = TheWorld();
    {
        SimLock lock;
        world.stormRate = eventsPerSecond;
        world.stormStart = GetTickCount64();
        world.stormRounds = 0;
    }
    WakeClock();
}

void SimNotePermissionRequest(HWND parent)
{
    lastPermissionParent = parent;
    InterlockedIncrement(&permissionRequests);
}

LONG SimPermissionRequests(HWND* lastParent)
{
    if (lastParent) {
        *lastParent = lastPermissionParent;
    }
    return InterlockedCompareExchange(&permissionRequests, 0, 0);
}

LONG SimDeliveredEvents()
{
    return InterlockedCompareExchange(&deliveredEvents, 0, 0);
}

int SimAddSensor(const SensorDefinition& definition)
{
    World& world = TheWorld();
    ComPtr<SimSensor> sensor;
    if (!SimSensor::Create(definition, &sensor)) {
        return 0;
    }
    try {
        SimLock lock;
        if (FindLocked(world, definition.id)) {
            return 0;
        }
        sensor->present = true;
        sensor->arrived = true;
        ScheduleUpdates(sensor.Get(), world.timelineMs);
        world.sensors.push_back(std::move(sensor));
        return 1;
    } catch (...) {
        return 0;
    }
}

ComPtr<SimSensor> SimTakeSensor(const GUID& id)
{
    World& world = TheWorld();
    SimLock lock;
    for (auto entry = world.sensors.begin(); entry != world.sensors.end(); ++entry) {
        if (IsEqualGUID((*entry)->Id(), id)) {
            ComPtr<SimSensor> taken = std::move(*entry);
            world.sensors.erase(entry);
            taken->present = false;
            return taken;
        }
    }
    return ComPtr<SimSensor>();
}

ComPtr<SimSensor> SimFindSensor(const GUID& id)
{
    SimLock lock;
    return FindLocked(TheWorld(), id);
}

int SimCollectSensors(const GUID* category, const GUID* type, ComPtr<SimCollection>* found)
{
    ComPtr<SimCollection> collection(new (std::nothrow) SimCollection);
    if (!collection) {
        return 0;
    }
    SimLock lock;
    for (ComPtr<SimSensor>& sensor : TheWorld().sensors) {
        bool matches = sensor->present &&
                       (!category || IsEqualGUID(sensor->Category(), *category)) &&
                       (!type || IsEqualGUID(sensor->Type(), *type));
        if (matches && !collection->Append(sensor.Get())) {
            return 0;
        }
    }
    *found = std::move(collection);
    return 1;
}

void SimAddManager(SimManager* manager)
{
    try {
        SimLock lock;
        TheWorld().managers.push_back(manager);
    } catch (...) {
        // A manager that is not listed only misses arrival events.
    }
}

void SimRemoveManager(SimManager* manager)
{
    SimLock lock;
    std::vector<SimManager*>& managers = TheWorld().managers;
    managers.erase(std::remove(managers.begin(), managers.end(), manager), managers.end());
}

int SimHasSink(const GUID* id)
{
    SimLock lock;
    World& world = TheWorld();
    if (!id) {
        for (SimManager* manager : world.managers) {
            if (manager->sink) {
                return 1;
            }
        }
        return 0;
    }
    ComPtr<SimSensor> sensor = FindLocked(world, *id);
    return sensor && sensor->sink ? 1 : 0;
}

int SimDeliverDataUpdated(SimSensor* sensor)
{
    ComPtr<ISensorEvents> sink;
    ComPtr<ISensorDataReport> report;
    {
        SimLock lock;
        if (!sensor->present || !sensor->sink) {
            return 0;
        }
        ISensorDataReport* made = nullptr;
        if (FAILED(sensor->MakeReport(true, &made))) {
            // A sensor without readable data announces nothing new.
            return 0;
        }
        report.Reset(made);
        sink = ComPtr<ISensorEvents>::Share(sensor->sink.Get());
    }
    sink->OnDataUpdated(sensor, report.Get());
    CountDelivery();
    return 1;
}

int SimDeliverEvent(SimSensor* sensor, const GUID& eventId)
{
    ComPtr<PortableValues> values(new (std::nothrow) PortableValues);
    if (!values || FAILED(values->SetGuidValue(SENSOR_EVENT_PARAMETER_EVENT_ID, eventId))) {
        return 0;
    }
    ComPtr<ISensorEvents> sink;
    {
        SimLock lock;
        if (!sensor->present || !sensor->sink) {
            return 0;
        }
        sink = ComPtr<ISensorEvents>::Share(sensor->sink.Get());
    }
    sink->OnEvent(sensor, eventId, values.Get());
    CountDelivery();
    return 1;
}

int SimDeliverStateChanged(SimSensor* sensor, int state)
{
    ComPtr<ISensorEvents> sink;
    {
        SimLock lock;
        sensor->state = state;
        if (!sensor->present || !sensor->sink) {
            return 0;
        }
        sink = ComPtr<ISensorEvents>::Share(sensor->sink.Get());
    }
    sink->OnStateChanged(sensor, static_cast<SensorState>(state));
    CountDelivery();
    return 1;
}

int SimDeliverLeave(SimSensor* sensor, bool vanish)
{
    ComPtr<ISensorEvents> sink;
    {
        SimLock lock;
        if (vanish) {
            sensor->present = false;
        }
        sink = ComPtr<ISensorEvents>::Share(sensor->sink.Get());
    }
    if (!sink) {
        return 0;
    }
    sink->OnLeave(sensor->Id());
    CountDelivery();
    return 1;
}

int SimDeliverEnter(SimSensor* sensor)
{
    std::vector<ComPtr<ISensorManagerEvents>> sinks;
    SensorState state = SENSOR_STATE_READY;
    try {
        SimLock lock;
        if (!sensor->present) {
            return 0;
        }
        state = static_cast<SensorState>(sensor->state);
        for (SimManager* manager : TheWorld().managers) {
            if (manager->sink) {
                sinks.push_back(ComPtr<ISensorManagerEvents>::Share(manager->sink.Get()));
            }
        }
    } catch (...) {
        return 0;
    }
    for (ComPtr<ISensorManagerEvents>& sink : sinks) {
        sink->OnSensorEnter(sensor, state);
        CountDelivery();
    }
    return static_cast<int>(sinks.size());
}

int SimRunOnEventThread(const std::function<int()>& work)
{
    World& world = TheWorld();
    DWORD self = GetCurrentThreadId();
    if (self == world.eventThreadId || self == world.clockThreadId) {
        return work();
    }
    try {
        auto task = std::make_shared<Task>();
        task->work = work;
        task->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!task->done) {
            return 0;
        }
        {
            SimLock lock;
            world.tasks.push_back(task);
        }
        SetEvent(world.taskReady);
        return WaitPumpingSent(task->done, eventWaitMs) ? task->result : 0;
    } catch (...) {
        return 0;
    }
}
