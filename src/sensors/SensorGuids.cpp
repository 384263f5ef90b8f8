// The one place where the Sensor API's published identifiers and data-type
// keys are defined (the system headers only declare them), so the program
// needs no import library of the Sensor API.
#include <windows.h>
#include <ole2.h>
#include <propsys.h>
#include <portabledevicetypes.h>

#include <initguid.h>
#include <sensors.h>
#include <sensorsapi.h>
