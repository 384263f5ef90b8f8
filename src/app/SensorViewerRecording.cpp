// The main window's recording commands: "Record Values…", Ctrl+R, "Stop
// Recording", and the end of a recording whose file failed.

#include "app/RecordingCommands.h"
#include "app/RecordingWindow.h"
#include "app/SensorViewerApp.h"
#include "app/resource.h"

void SensorViewerApp::ToggleRecording()
{
    if (IsRecording()) {
        StopRecording();
        return;
    }
    WideString path;
    if (AskRecordingPath(Window(), path)) {
        StartRecording(path.Data());
    }
}

int SensorViewerApp::StartRecording(const wchar_t* path)
{
    DWORD error = 0;
    if (IsRecording() || !recordingPath_.Assign(path)) {
        return 0;
    }
    if (!recorder_.Start(path, Window(), WM_RECORDING_FAILED, &error)) {
        ShowRecordingFailure(error, true);
        return 0;
    }
    ShowTitle();
    return 1;
}

void SensorViewerApp::StopRecording()
{
    if (!IsRecording()) {
        return;
    }
    const DWORD error = recorder_.Stop();
    ShowTitle();
    if (error) {
        ShowRecordingFailure(error, false);
    }
}

// A failure of an earlier recording was already told when it was stopped.
void SensorViewerApp::OnRecordingFailed(LPARAM recording)
{
    if (recording == recorder_.RecordingNumber()) {
        StopRecording();
    }
}

void SensorViewerApp::ShowRecordingFailure(DWORD error, bool starting)
{
    WideString text;
    if (RecordingFailureText(recordingPath_.Data(), error, starting, text)) {
        MessageBoxW(Window(), text.Data(), L"Record Values", MB_OK | MB_ICONWARNING);
    }
}

void SensorViewerApp::ShowTitle()
{
    const wchar_t* title = versionInfo_.VersionTitle(L"Tessel");
    WideString recording;
    if (IsRecording() && RecordingTitle(title, recordingPath_.Data(), recording)) {
        title = recording.Data();
    }
    SetText(title);
}

void SensorViewerApp::OpenRecording()
{
    WideString path;
    if (recordingWindow_ || !AskOpenRecordingPath(Window(), path)) {
        return;
    }
    RecordingWindow window(path.Data());
    recordingWindow_ = &window;
    window.Run(Instance(), IDD_RECORDING, 0, Window());
    recordingWindow_ = nullptr;
}
