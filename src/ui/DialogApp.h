#pragma once

#include <windows.h>
#include <commctrl.h>

#include "base/DynamicLibrary.h"
#include "base/ScopedHandle.h"
#include "base/WideString.h"

// Run option: when the system's message font is "Segoe UI", show the dialog
// in "MS Shell Dlg 2" instead (handed to the template loader).
constexpr DWORD DIALOG_PREFER_SHELL_FONT = 0x4;

// Base of the framework's dialog windows. Run shows a dialog resource
// modally and routes its messages to the virtual operations below; a
// derived class overrides what it needs. The value an operation answers for
// a message is the dialog procedure's return value (1 = handled); a message
// whose result travels in DWLP_MSGRESULT sets it with SetMessageResult.
class DialogApp
{
public:
    DialogApp() = default;
    // Ends a still existing window with 0.
    virtual ~DialogApp();
    DialogApp(const DialogApp&) = delete;
    DialogApp& operator=(const DialogApp&) = delete;

    // 0 ends the dialog with -1; 2 means the focus was placed here.
    virtual int OnInitDialog();
    // Asked before the dialog ends with the given result; 0 keeps it open.
    virtual int CanClose(INT_PTR result);
    // Control id is the low word of wParam. Cancel and close end the dialog.
    virtual INT_PTR OnCommand(int id, WPARAM wParam, LPARAM lParam);
    // The close box: ends the dialog with 0.
    virtual INT_PTR OnClose();
    // Every message not routed elsewhere; the base keeps the minimum size.
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Forwards WM_DESTROY to OnMessage.
    virtual INT_PTR OnDestroy();
    // The window moved to a monitor of another DPI (WM_DPICHANGED). The
    // first is called once the dialog's font, icons and minimum size are
    // made for newDpi and before the window takes its new rectangle, the
    // second once it has it: a derived dialog rescales its own pixel sizes
    // in the first and whatever depends on its controls' new sizes in the
    // second.
    virtual void OnDpiChanging(int oldDpi, int newDpi);
    virtual void OnDpiChanged(int oldDpi, int newDpi);

    // Shows dialog resource dialogId modally; answers the dialog's result.
    INT_PTR Run(HINSTANCE instance, int dialogId, DWORD options, HWND parent);
    // Ends the dialog with the result once CanClose agrees.
    void EndWindow(INT_PTR result);

    HWND Window() const { return window_; }
    HINSTANCE Instance() const { return instance_; }
    // The DPI the window's pixel sizes are made for: its monitor's.
    int Dpi() const { return dpi_; }
    DWORD Options() const { return options_; }
    int MinimumWidth() const { return minimumWidth_; }
    int MinimumHeight() const { return minimumHeight_; }
    void SetMessageResult(LRESULT result);

    // Window operations used while a dialog initialises (defined with the
    // anchored layout and window placement code).
    void SetIcon(UINT iconId);
    int SetText(const wchar_t* text);
    HWND Control(int id) const;
    int SetCheck(int id, int state);
    int IsChecked(int id) const;
    void SetMinimumSize(int width, int height, int inDialogUnits);
    int SavePlacement(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                      const RECT* rectangle, DWORD flags);
    int RestorePlacement(HKEY root, const wchar_t* subkey, const wchar_t* valueName, DWORD flags);
    // Declares the process per-monitor DPI-aware (version 2, else version
    // 1) where the system knows it, else system DPI-aware; 1 when the
    // process is aware (also when its manifest made it so already), else 0.
    static int MakeDpiAware();

protected:
    HWND window_ = nullptr;
    HINSTANCE instance_ = nullptr;
    // Smallest outer window size in pixels; -1 = no limit.
    int minimumWidth_ = -1;
    int minimumHeight_ = -1;
    DWORD options_ = 0;
    ScopedIcon smallIcon_;
    ScopedIcon largeIcon_;
    UINT iconId_ = 0;
    int dpi_ = 96;
    // The minimum client size asked for, in pixels at minimumDpi_; the
    // outer minimum follows the window's DPI.
    SIZE minimumClient_ = {};
    bool minimumIsOuter_ = false; // given in pixels: the outer size itself
    int minimumDpi_ = 0;
    // The dialog font made for a DPI other than the one the dialog was
    // created at; null until the first change.
    ScopedFont dpiFont_;
    DynamicLibrary commonControls_;
    BOOL(WINAPI* initCommonControlsEx_)(const INITCOMMONCONTROLSEX*) = nullptr;

private:
    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    INT_PTR Route(UINT message, WPARAM wParam, LPARAM lParam);
    void HandleDpiChange(int newDpi, const RECT* suggested);
    void RescaleDialogFont(int oldDpi, int newDpi);
    void UpdateMinimumSize();
    void InitCommonControlsOnce();
};

// Raises a proposed window size to the minimum (-1 = no limit); a change
// that carries SWP_NOSIZE is left alone.
void ApplyMinimumSize(WINDOWPOS& position, int minimumWidth, int minimumHeight);
