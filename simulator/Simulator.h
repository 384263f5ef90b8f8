#pragma once

#include "SimObjects.h"

#include <functional>
#include <string>
#include <vector>

// The simulated world: its sensors, the managers that watch it, the
// timeline and the threads that raise events. Free functions over one
// process-wide state; all of them may be called from any thread.

// Starts the threads and loads the default scenario, once; 0 if the threads
// could not be started.
int SimStart();
// The scenario used when nobody names one.
std::wstring SimDefaultScenarioPath();

int SimLoadScenario(const std::wstring& path);
void SimReset();
void SimSetTimeline(bool run);
void SimSetStorm(unsigned eventsPerSecond);
LONG SimDeliveredEvents();

// Adds a present sensor; 0 if the id is taken or memory runs out.
int SimAddSensor(const SensorDefinition& definition);
// Takes the sensor out of the world; it answers no more data.
ComPtr<SimSensor> SimTakeSensor(const GUID& id);
// The sensor with this id, present or not, or null.
ComPtr<SimSensor> SimFindSensor(const GUID& id);
// Sensors to enumerate: present ones whose category (or type) matches.
int SimCollectSensors(const GUID* category, const GUID* type, ComPtr<SimCollection>* found);

void SimAddManager(SimManager* manager);
void SimRemoveManager(SimManager* manager);
// 1 if the sensor (or, with null, any manager) has an event sink.
int SimHasSink(const GUID* id);

// Raising events; each calls the sinks without holding the lock and answers
// how many were called.
int SimDeliverDataUpdated(SimSensor* sensor);
int SimDeliverEvent(SimSensor* sensor, const GUID& eventId);
int SimDeliverStateChanged(SimSensor* sensor, int state);
// With vanish the sensor stops answering data; without, only the event is raised.
int SimDeliverLeave(SimSensor* sensor, bool vanish);
int SimDeliverEnter(SimSensor* sensor);

// What a simulated driver makes of a requested report interval: 0 asks
// for its default, and anything shorter than its minimum is raised to it.
unsigned AcceptedIntervalMs(unsigned requestedMs, unsigned minimumMs, unsigned defaultMs);
// Brings the sensor's next periodic update forward to its (new) interval
// at the latest, so that a shorter interval takes effect at once.
void SimFollowInterval(SimSensor* sensor);

// Counts a RequestPermissions call and keeps its parent window.
void SimNotePermissionRequest(HWND parent);
LONG SimPermissionRequests(HWND* lastParent);

// Runs work on the simulator's event thread and waits for it (pumping sent
// messages meanwhile); runs it at once when called on a simulator thread.
// Answers work's result, or 0 if it did not finish in time.
int SimRunOnEventThread(const std::function<int()>& work);
