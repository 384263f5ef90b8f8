#include <windows.h>

#include "app/AppProcess.h"
#include "app/SensorViewerApp.h"
#include "app/resource.h"

// The two process-wide objects. Within this file they are built in this
// order before the entry point runs and destroyed in reverse order after it
// returns: the process object outlives the application object.
static AppProcess gProcess(0);
static SensorViewerApp gApplication;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // Reaching the Sensor API takes about as long as the window's own start;
    // it happens beside it, and the first fill takes what it made.
    gApplication.Sensors().CreateManagerAhead();
    return static_cast<int>(gApplication.Run(instance, IDD_MAIN, 0, nullptr));
}
