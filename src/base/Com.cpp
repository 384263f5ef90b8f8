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

void CreateObject(REFCLSID classId, REFIID interfaceId, void** object, HRESULT* result, int run)
{
    *object = nullptr;
    if (!run) {
        SetResult(result, CoCreateInstance(classId, nullptr, CLSCTX_ALL, interfaceId, object));
        return;
    }
    ComPtr<IUnknown> unknown;
    HRESULT created =
        CoCreateInstance(classId, nullptr, CLSCTX_ALL, IID_IUnknown, unknown.PutVoid());
    if (FAILED(created)) {
        SetResult(result, created);
        return;
    }
    HRESULT ran = OleRun(unknown.Get());
    if (FAILED(ran)) {
        SetResult(result, ran);
        return;
    }
    // A refused interface must not read as success, so its code wins.
    HRESULT queried = unknown->QueryInterface(interfaceId, object);
    if (FAILED(queried)) {
        *object = nullptr;
    }
    SetResult(result, FAILED(queried) ? queried : ran);
}

int FindClassId(const wchar_t* progId, CLSID& classId, HRESULT* result)
{
    HRESULT found = CLSIDFromProgID(progId, &classId);
    SetResult(result, found);
    return SUCCEEDED(found) ? 1 : 0;
}

int FindClassId(const char* progId, CLSID& classId, HRESULT* result)
{
    WideString wide;
    if (!progId || !wide.AssignNarrow(progId)) {
        SetResult(result, E_INVALIDARG);
        return 0;
    }
    return FindClassId(wide.Data(), classId, result);
}
