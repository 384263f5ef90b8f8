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
// for the error when it has one. For a writer that was still held up by
// its target when the recording stopped (kRecordingUnfinished), that the
// last values may be missing.
int RecordingFailureText(const wchar_t* path, DWORD error, bool starting, WideString& text);

// Adds a separator and "Record Values…" (or, while recording, "Stop
// Recording") with the given command to a context menu.
void AppendRecordingItems(HMENU menu, UINT command, bool recording);

// Asks for the recording's file with the common Save dialog, proposing a
// name made from the current time. 1 with the chosen path; 0 when the
// user cancelled (path unchanged).
int AskRecordingPath(HWND owner, WideString& path);

// Asks for a recording to open with the common Open dialog. 1 with the
// chosen path; 0 when the user cancelled (path unchanged).
int AskOpenRecordingPath(HWND owner, WideString& path);

// Asks where to save a chart's picture (PNG) with the common Save dialog.
int AskImagePath(HWND owner, WideString& path);
