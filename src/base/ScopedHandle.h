#pragma once

#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>
#include <utility>

// Move-only owner of one system object. Traits give the object type, the
// empty value, the validity test and the release call.
template <typename Traits> class ScopedObject
{
public:
    using Type = typename Traits::Type;

    ScopedObject() = default;
    explicit ScopedObject(Type object) : object_(object) {}
    ~ScopedObject() { Reset(); }
    ScopedObject(const ScopedObject&) = delete;
    ScopedObject& operator=(const ScopedObject&) = delete;
    ScopedObject(ScopedObject&& other) noexcept : object_(other.Detach()) {}
    ScopedObject& operator=(ScopedObject&& other) noexcept
    {
        if (this != &other) {
            Reset(other.Detach());
        }
        return *this;
    }

    bool IsValid() const { return Traits::IsValid(object_); }
    explicit operator bool() const { return IsValid(); }
    Type Get() const { return object_; }

    // Releases the current object and takes over the given one.
    void Reset(Type object = Traits::Empty())
    {
        if (object == object_) {
            return;
        }
        Type old = object_;
        object_ = object;
        if (Traits::IsValid(old)) {
            Traits::Close(old);
        }
    }
    // For out-parameters: releases the current object first.
    Type* Receive()
    {
        Reset();
        return &object_;
    }
    // Gives up ownership without releasing.
    Type Detach()
    {
        Type object = object_;
        object_ = Traits::Empty();
        return object;
    }

private:
    Type object_ = Traits::Empty();
};

// Kernel objects: files, events, threads, processes, mappings. Both null and
// INVALID_HANDLE_VALUE mean "none", since the creating calls disagree.
struct KernelHandleTraits
{
    using Type = HANDLE;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type handle) { return handle && handle != INVALID_HANDLE_VALUE; }
    static void Close(Type handle) { CloseHandle(handle); }
};
using ScopedHandle = ScopedObject<KernelHandleTraits>;

template <typename GdiType> struct GdiObjectTraits
{
    using Type = GdiType;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type object) { return object != nullptr; }
    static void Close(Type object) { DeleteObject(object); }
};
template <typename GdiType> using ScopedGdiObject = ScopedObject<GdiObjectTraits<GdiType>>;
using ScopedFont = ScopedGdiObject<HFONT>;
using ScopedBitmap = ScopedGdiObject<HBITMAP>;
using ScopedBrush = ScopedGdiObject<HBRUSH>;
using ScopedPen = ScopedGdiObject<HPEN>;
using ScopedRegion = ScopedGdiObject<HRGN>;

// A device context made with CreateCompatibleDC or CreateDC (not GetDC).
struct CreatedDcTraits
{
    using Type = HDC;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type dc) { return dc != nullptr; }
    static void Close(Type dc) { DeleteDC(dc); }
};
using ScopedCreatedDc = ScopedObject<CreatedDcTraits>;

// A window's device context (GetDC) for as long as the object lives.
class WindowDc
{
public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc()
    {
        if (dc_) {
            ReleaseDC(window_, dc_);
        }
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// The screen's device context (GetDC of no window).
class ScreenDc : public WindowDc
{
public:
    ScreenDc() : WindowDc(nullptr) {}
};

// Puts a device context back into the state it had when the object was
// made (SaveDC / RestoreDC), so selected fonts, colours and modes set while
// drawing do not outlive the drawing.
class SavedDcState
{
public:
    explicit SavedDcState(HDC dc) : dc_(dc), saved_(dc ? SaveDC(dc) : 0) {}
    ~SavedDcState()
    {
        if (saved_) {
            RestoreDC(dc_, saved_);
        }
    }
    SavedDcState(const SavedDcState&) = delete;
    SavedDcState& operator=(const SavedDcState&) = delete;

private:
    HDC dc_;
    int saved_;
};

// An icon made with CreateIcon*, CopyIcon, ExtractIcon or LoadImage without
// LR_SHARED (shared icons must not be destroyed).
struct IconTraits
{
    using Type = HICON;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type icon) { return icon != nullptr; }
    static void Close(Type icon) { DestroyIcon(icon); }
};
using ScopedIcon = ScopedObject<IconTraits>;

struct RegistryKeyTraits
{
    using Type = HKEY;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type key) { return key != nullptr; }
    static void Close(Type key) { RegCloseKey(key); }
};
using ScopedRegistryKey = ScopedObject<RegistryKeyTraits>;

// Blocks from LocalAlloc, and from system calls that allocate with it
// (FormatMessage with FORMAT_MESSAGE_ALLOCATE_BUFFER, CommandLineToArgvW).
struct LocalMemoryTraits
{
    using Type = HLOCAL;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type block) { return block != nullptr; }
    static void Close(Type block) { LocalFree(block); }
};
using ScopedLocalMemory = ScopedObject<LocalMemoryTraits>;

// Blocks from GlobalAlloc, until a stream or the clipboard takes one over.
struct GlobalMemoryTraits
{
    using Type = HGLOBAL;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type block) { return block != nullptr; }
    static void Close(Type block) { GlobalFree(block); }
};
using ScopedGlobalMemory = ScopedObject<GlobalMemoryTraits>;

// Blocks from HeapAlloc on the process heap.
struct ProcessHeapMemoryTraits
{
    using Type = void*;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type block) { return block != nullptr; }
    static void Close(Type block) { HeapFree(GetProcessHeap(), 0, block); }
};
using ScopedHeapMemory = ScopedObject<ProcessHeapMemoryTraits>;

// A view of a file mapping (MapViewOfFile).
struct MappedViewTraits
{
    using Type = void*;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type view) { return view != nullptr; }
    static void Close(Type view) { UnmapViewOfFile(view); }
};
using ScopedMappedView = ScopedObject<MappedViewTraits>;

// An image list of the program's own making (not the system's shared one).
struct ImageListTraits
{
    using Type = HIMAGELIST;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type list) { return list != nullptr; }
    // comctl32 is not linked but loaded at run time; a list can exist only
    // while it is loaded, so looking it up loads nothing.
    static void Close(Type list)
    {
        using DestroyFunction = BOOL(WINAPI*)(HIMAGELIST);
        HMODULE controls = GetModuleHandleW(L"comctl32.dll");
        const auto destroy = reinterpret_cast<DestroyFunction>(reinterpret_cast<void*>(
            controls ? GetProcAddress(controls, "ImageList_Destroy") : nullptr));
        if (destroy) {
            destroy(list);
        }
    }
};
using ScopedImageList = ScopedObject<ImageListTraits>;

// An automation string (BSTR) of the program's own or received from a COM
// call: Receive() for out-parameters, freed with SysFreeString.
struct BstrTraits
{
    using Type = BSTR;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type text) { return text != nullptr; }
    static void Close(Type text) { SysFreeString(text); }
};
using ScopedBstr = ScopedObject<BstrTraits>;

// A copy of the text (null counts as empty); invalid when out of memory.
inline ScopedBstr MakeBstr(const wchar_t* text)
{
    return ScopedBstr(SysAllocString(text ? text : L""));
}

// A window of the program's own making (CreateWindowEx), destroyed with its
// owner; only the thread that made it may destroy it.
struct WindowTraits
{
    using Type = HWND;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type window) { return window != nullptr; }
    static void Close(Type window) { DestroyWindow(window); }
};
using ScopedWindow = ScopedObject<WindowTraits>;

// A menu made with CreateMenu or CreatePopupMenu and not given to a window.
struct MenuTraits
{
    using Type = HMENU;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type menu) { return menu != nullptr; }
    static void Close(Type menu) { DestroyMenu(menu); }
};
using ScopedMenu = ScopedObject<MenuTraits>;
