#pragma once

#include "SimScenario.h"
#include "sensors/RecordingReader.h"

#include <memory>
#include <string>
#include <vector>

// A recording played back as live sensors: each recorded sensor is
// presented with its name, id and fields, and its reports are delivered in
// the file's order with their recorded spacing (divided by the speed).

struct ReplaySensor
{
    GUID id = {};
    // The data-type key of each recorded field.
    std::vector<PROPERTYKEY> keys;
};

// One report to deliver, atMs after the replay started.
struct ReplayStep
{
    uint16_t sensor = 0;
    uint32_t report = 0;
    unsigned long long atMs = 0;
};

struct ReplayPlan
{
    Recording recording;
    std::vector<ReplaySensor> sensors;
    std::vector<ReplayStep> steps;
    bool loop = false;
    // With loop, the replay starts again this long after it started.
    unsigned long long periodMs = 0;
};

// Reads the recording at path (relative to scenarioFolder) into a plan and
// adds its sensors to the scenario's. 0 when the file is no readable
// recording or the speed is not above 0.
int ReadReplay(const std::wstring& path, const std::wstring& scenarioFolder, bool loop,
               double speed, ScenarioDefinition* scenario);

// The data fields of one recorded report, as constant fields of the types
// whose text is the recorded one.
std::vector<FieldDefinition> ReplayFields(const ReplayPlan& plan, size_t sensor, size_t report);

// Where a replay stands; guarded by SimLock.
struct ReplayCursor
{
    std::shared_ptr<const ReplayPlan> plan;
    size_t next = 0;
    bool started = false;
    // Timeline time when the current round started, and when the first
    // replayed sensor got a sink.
    unsigned long long startMs = 0;
    unsigned long long firstSinkMs = 0;
    bool sinkSeen = false;
};

// How long the replay waits for the program's sinks once the first sensor
// has one: it starts when all have one, or after this.
constexpr unsigned long long kReplayWaitForSinksMs = 1000;

// The replay's steps due at timeline time nowMs (sinks tells how many of
// its sensors have a sink); answers the milliseconds until the next one is
// due, or the poll interval while it waits.
unsigned long long TakeDueReplaySteps(ReplayCursor& cursor, unsigned long long nowMs,
                                      size_t sensorsWithSinks, std::vector<ReplayStep>* due);
