#include "base/Com.h"

#include "base/DynamicLibrary.h"
#include "base/WideString.h"

#include <ole2.h>

namespace {

using CoInitializeExFunction = HRESULT(WINAPI*)(void*, DWORD);

// CoInitializeEx where the system has it; its answer is final unless it
// fails for a reason other than the thread's existing apartment model.
HRESULT InitialiseThread(int multithreaded)
{
    DynamicLibrary ole32(L"ole32.dll");
    auto initialiseEx = ole32.Symbol<CoInitializeExFunction>("CoInitializeEx");
    if (initialiseEx) {
        DWORD model = multithreaded ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED;
        HRESULT result = initialiseEx(nullptr, model | COINIT_DISABLE_OLE1DDE);
        if (SUCCEEDED(result) || result == RPC_E_CHANGED_MODE) {
            return result;
        }
    }
    return CoInitialize(nullptr);
}

void SetResult(HRESULT* out, HRESULT result)
{
    if (out) {
        *out = result;
    }
}

} // namespace

int ComApartment::Init(int multithreaded)
{
    if (initialised_) {
        return 0;
    }
    // A thread already in the other model is not ours to uninitialise.
    if (FAILED(InitialiseThread(multithreaded))) {
        return 0;
    }
    initialised_ = true;
    return 1;
}

void ComApartment::Uninit()
{
    if (initialised_) {
        CoUninitialize();
        initialised_ = false;
    }
}

void* CreateByClassId(REFCLSID classId, REFIID interfaceId, HRESULT* result, int run)
{
    void* object = nullptr;
    if (!run) {
        SetResult(result, CoCreateInstance(classId, nullptr, CLSCTX_ALL, interfaceId, &object));
        return object;
    }
    ComPtr<IUnknown> unknown;
    HRESULT created =
        CoCreateInstance(classId, nullptr, CLSCTX_ALL, IID_IUnknown, unknown.PutVoid());
    if (FAILED(created)) {
        SetResult(result, created);
        return nullptr;
    }
    HRESULT ran = OleRun(unknown.Get());
    if (FAILED(ran)) {
        SetResult(result, ran);
        return nullptr;
    }
    // A refused interface must not read as success, so its code wins.
    HRESULT queried = unknown->QueryInterface(interfaceId, &object);
    SetResult(result, FAILED(queried) ? queried : ran);
    return SUCCEEDED(queried) ? object : nullptr;
}

void* CreateByProgId(const wchar_t* progId, REFIID interfaceId, HRESULT* result, int run)
{
    CLSID classId;
    HRESULT found = CLSIDFromProgID(progId, &classId);
    if (FAILED(found)) {
        SetResult(result, found);
        return nullptr;
    }
    return CreateByClassId(classId, interfaceId, result, run);
}

void* CreateByProgId(const char* progId, REFIID interfaceId, HRESULT* result, int run)
{
    WideString wide;
    if (!progId || !wide.AssignNarrow(progId)) {
        SetResult(result, E_INVALIDARG);
        return nullptr;
    }
    return CreateByProgId(wide.Data(), interfaceId, result, run);
}
