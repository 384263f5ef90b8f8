#pragma once

#include "base/WideString.h"

#include <windows.h>

// The texts and the save dialog of "Record Values…", kept apart from the
// main window so that the texts can be checked on their own.

// The main window's title while it records: "Tessel [1.00] - Recording to
// values.csv" (the file's name without its folder).
int RecordingTitle(const wchar_t* title, const wchar_t* path, WideString& text);

// The message when a recording cannot start (starting set) or stopped
// because the file could not be written: the file, and the system's text
// for the error when it has one.
int RecordingFailureText(const wchar_t* path, DWORD error, bool starting, WideString& text);

// Adds a separator and "Record Values…" (or, while recording, "Stop
// Recording") with the given command to a context menu.
void AppendRecordingItems(HMENU menu, UINT command, bool recording);

// Asks for the recording's file with the common Save dialog, proposing a
// name made from the current time. 1 with the chosen path; 0 when the
// user cancelled (path unchanged).
int AskRecordingPath(HWND owner, WideString& path);

// What the common Save dialog shows: its title, the file types (pairs of
// zero-terminated texts, ending with an empty one), the extension added to
// a name without one, and the proposed name.
struct SaveFileQuestion
{
    const wchar_t* title;
    const wchar_t* filter;
    const wchar_t* extension;
    const wchar_t* proposed;
};

// Asks with the common Save dialog (comdlg32 loaded only now, from the
// system folder). 1 with the chosen path; 0 when the user cancelled (path
// unchanged).
int AskSaveFile(HWND owner, const SaveFileQuestion& question, WideString& path);
