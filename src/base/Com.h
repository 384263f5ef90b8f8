#pragma once

#include <windows.h>
#include <objbase.h>
#include <utility>

// Initialises COM for the calling thread once and undoes exactly what it did.
// Init and Uninit must run on the same thread.
class ComApartment
{
public:
    ComApartment() = default;
    ~ComApartment() { Uninit(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    // 1 when this call initialised COM; 0 when this object already did, when
    // the thread lives in the other apartment model, or on failure.
    int Init(int multithreaded);
    void Uninit();
    bool IsInitialised() const { return initialised_; }

private:
    bool initialised_ = false;
};

// Owns one reference to a COM interface; releases it on destruction.
template <typename Interface> class ComPtr
{
public:
    ComPtr() = default;
    // Takes over a reference the caller already holds (no AddRef).
    explicit ComPtr(Interface* pointer) : pointer_(pointer) {}
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : pointer_(other.Detach()) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            Reset(other.Detach());
        }
        return *this;
    }

    // Adds a reference of its own to a borrowed pointer (which may be null).
    static ComPtr Share(Interface* borrowed)
    {
        if (borrowed) {
            borrowed->AddRef();
        }
        return ComPtr(borrowed);
    }

    Interface* Get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // For out-parameters: releases the current reference first.
    Interface** Put()
    {
        Reset();
        return &pointer_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    // Releases the current reference and takes over the given one.
    void Reset(Interface* pointer = nullptr)
    {
        Interface* old = pointer_;
        pointer_ = pointer;
        if (old) {
            old->Release();
        }
    }
    // Gives up ownership without releasing.
    Interface* Detach()
    {
        Interface* pointer = pointer_;
        pointer_ = nullptr;
        return pointer;
    }

private:
    Interface* pointer_ = nullptr;
};

// The untyped steps under the factories below. CreateObject leaves *object
// null on failure; FindClassId widens an 8-bit identifier first.
void CreateObject(REFCLSID classId, REFIID interfaceId, void** object, HRESULT* result, int run);
int FindClassId(const wchar_t* progId, CLSID& classId, HRESULT* result);
int FindClassId(const char* progId, CLSID& classId, HRESULT* result);

// Creates a COM object and answers the requested interface, or an empty
// pointer. The result code of the failing (or last) step goes to *result
// when given. With run set, the object is created for IUnknown, run with
// OleRun and then asked for the interface.
template <typename Interface>
ComPtr<Interface> CreateByClassId(REFCLSID classId, REFIID interfaceId, HRESULT* result = nullptr,
                                  int run = 0)
{
    ComPtr<Interface> object;
    CreateObject(classId, interfaceId, object.PutVoid(), result, run);
    return object;
}

// The same from a programmatic identifier (wide or 8-bit text).
template <typename Interface, typename Unit>
ComPtr<Interface> CreateByProgId(const Unit* progId, REFIID interfaceId, HRESULT* result = nullptr,
                                 int run = 0)
{
    CLSID classId;
    if (!FindClassId(progId, classId, result)) {
        return ComPtr<Interface>();
    }
    return CreateByClassId<Interface>(classId, interfaceId, result, run);
}

// Reference counting and QueryInterface for an object that implements one
// interface. It starts with one reference, owned by its creator, and deletes
// itself through its virtual destructor when the last one goes.
template <typename Interface> class ComObject : public Interface
{
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override
    {
        if (!object) {
            return E_POINTER;
        }
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, __uuidof(Interface))) {
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
        const LONG count = InterlockedDecrement(&references_);
        if (count == 0) {
            delete this;
        }
        return static_cast<ULONG>(count);
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    volatile LONG references_ = 1;
};
