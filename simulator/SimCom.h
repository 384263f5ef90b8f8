#pragma once

#include <windows.h>
#include <objbase.h>

// Number of the simulator's COM objects alive, for leak checks in tests.
extern volatile LONG g_liveObjects;

// Reference counting and QueryInterface for an object with one interface.
template <class Interface> class ComObject : public Interface
{
public:
    ComObject() { InterlockedIncrement(&g_liveObjects); }
    virtual ~ComObject() { InterlockedDecrement(&g_liveObjects); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(Interface))) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return static_cast<ULONG>(InterlockedIncrement(&references_));
    }

    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG count = InterlockedDecrement(&references_);
        if (count == 0) {
            delete this;
        }
        return static_cast<ULONG>(count);
    }

private:
    volatile LONG references_ = 1;
};

// Holds one reference to a COM interface.
template <class Interface> class Ref
{
public:
    Ref() = default;
    // Takes over a reference the caller owns.
    explicit Ref(Interface* owned) : pointer_(owned) {}
    ~Ref() { Reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : pointer_(other.Detach()) {}
    Ref& operator=(Ref&& other) noexcept
    {
        if (this != &other) {
            Reset(other.Detach());
        }
        return *this;
    }

    // Adds a reference of its own to a borrowed pointer.
    static Ref Share(Interface* borrowed)
    {
        if (borrowed) {
            borrowed->AddRef();
        }
        return Ref(borrowed);
    }

    void Reset(Interface* owned = nullptr)
    {
        Interface* old = pointer_;
        pointer_ = owned;
        if (old) {
            old->Release();
        }
    }
    Interface* Detach()
    {
        Interface* pointer = pointer_;
        pointer_ = nullptr;
        return pointer;
    }
    Interface* Get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

private:
    Interface* pointer_ = nullptr;
};

// The simulator's one lock; held only briefly and never while calling out
// to the program's event sinks.
class SimLock
{
public:
    SimLock();
    ~SimLock();
    SimLock(const SimLock&) = delete;
    SimLock& operator=(const SimLock&) = delete;
};
