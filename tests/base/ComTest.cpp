#include <doctest.h>

#include "base/Com.h"
#include "base/DynamicLibrary.h"
#include "base/ScopedHandle.h"

#include "BoundedThread.h"

namespace {

bool Found(FARPROC entry)
{
    return entry != nullptr;
}

// Runs the body on a fresh thread so that its COM state starts clean.
template <typename Body> void OnNewThread(Body body)
{
    BoundedThread thread(body);
    REQUIRE(thread.Started());
}

// S_OK when the thread had no COM, S_FALSE when it still had.
HRESULT ProbeApartment()
{
    HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(result))
        CoUninitialize();
    return result;
}

} // namespace

TEST_CASE("a COM apartment balances and leaves a thread of the other model alone")
{
    OnNewThread([] {
        ComApartment apartment;
        CHECK(apartment.Init(0) == 1);
        CHECK(apartment.Init(0) == 0);
        CHECK(ProbeApartment() == S_FALSE);
        apartment.Uninit();
        CHECK(ProbeApartment() == S_OK);
    });
    OnNewThread([] {
        REQUIRE(CoInitializeEx(nullptr, COINIT_MULTITHREADED) == S_OK);
        {
            ComApartment apartment;
            CHECK(apartment.Init(0) == 0);
            apartment.Uninit();
        }
        // Still in the multithreaded apartment: nothing was undone.
        CHECK(CoInitializeEx(nullptr, COINIT_MULTITHREADED) == S_FALSE);
        CoUninitialize();
        CoUninitialize();
    });
}

TEST_CASE("creating COM objects by identifier")
{
    OnNewThread([] {
        ComApartment apartment;
        REQUIRE(apartment.Init(1));
        HRESULT result = S_OK;
        CHECK_FALSE(CreateByProgId<IUnknown>(L"Tessel.NoSuchClass.1", IID_IUnknown, &result));
        CHECK(result == CO_E_CLASSSTRING);
        result = S_OK;
        CHECK_FALSE(CreateByProgId<IUnknown>("Tessel.NoSuchClass.1", IID_IUnknown, &result, 1));
        CHECK(result == CO_E_CLASSSTRING);

        for (int run = 0; run <= 1; ++run) {
            ComPtr<IDispatch> document =
                CreateByProgId<IDispatch>("Msxml2.DOMDocument.6.0", IID_IDispatch, &result, run);
            CHECK(document);
            CHECK(SUCCEEDED(result));
        }
    });
}

TEST_CASE("a scoped handle closes what it owns")
{
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD flags = 0;
    {
        ScopedHandle event(raw);
        ScopedHandle moved(std::move(event));
        CHECK_FALSE(event.IsValid());
        CHECK(moved.Get() == raw);
    }
    CHECK_FALSE(GetHandleInformation(raw, &flags));
    CHECK_FALSE(ScopedHandle(INVALID_HANDLE_VALUE).IsValid());
}

TEST_CASE("a missing library loads as nothing")
{
    DynamicLibrary empty;
    CHECK_FALSE(Found(empty.Symbol("GetTickCount")));

    UINT mode = SetErrorMode(0);
    SetErrorMode(mode);
    DynamicLibrary missing;
    CHECK(missing.Load(L"tessel-no-such-library.dll") == 0);
    CHECK_FALSE(Found(missing.Symbol("Anything")));
    CHECK(SetErrorMode(mode) == mode);

    DynamicLibrary library(L"msimg32.dll");
    REQUIRE(library.Handle() != nullptr);
    CHECK(Found(library.Symbol("AlphaBlend")));
    CHECK_FALSE(Found(library.Symbol("NoSuchExport")));
    REQUIRE(library.Load(L"kernel32.dll"));
    CHECK(GetModuleHandleW(L"msimg32.dll") == nullptr);
    using TickFunction = DWORD(WINAPI*)();
    auto tick = library.Symbol<TickFunction>("GetTickCount");
    REQUIRE(static_cast<bool>(tick));
    CHECK(tick() != 0);
}
