#include <doctest.h>

#include "base/WideString.h"
#include "crash/ProcessorInfo.h"

TEST_CASE("processors are described by index")
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const unsigned count = system.dwNumberOfProcessors;
    REQUIRE(count >= 1);

    ProcessorInfo processors;
    WideString name;
    WideString vendor;
    WideString identifier;
    DWORD megahertz = 0xFFFFFFFF;
    CHECK(processors.Get(count - 1, &name, &vendor, &identifier, &megahertz) == 1);
    CHECK(!vendor.IsEmpty());
    CHECK(!identifier.IsEmpty());
    CHECK(megahertz != 0xFFFFFFFF);

    name.Assign(L"unchanged");
    megahertz = 7;
    CHECK(processors.Get(count, &name, nullptr, nullptr, &megahertz) == 0);
    CHECK(name.Compare(L"unchanged") == 0);
    CHECK(megahertz == 7);
}

namespace {

// The record of information class 0 (SystemBasicInformation). Its size
// depends on the pointer size: 44 bytes in a 32-bit process, 64 in a 64-bit
// one, and the class accepts only that exact size.
struct BasicInformation
{
    ULONG reserved;
    ULONG timerResolution;
    ULONG pageSize;
    ULONG physicalPages;
    ULONG lowestPhysicalPage;
    ULONG highestPhysicalPage;
    ULONG allocationGranularity;
    ULONG_PTR minimumUserAddress;
    ULONG_PTR maximumUserAddress;
    ULONG_PTR activeProcessors;
    CCHAR processorCount;
};
static_assert(sizeof(BasicInformation) == (sizeof(void*) == 4 ? 44 : 64),
              "the record as the system lays it out");

} // namespace

TEST_CASE("system information query")
{
    SystemInfoQuery query;
    SYSTEM_INFO system;
    GetSystemInfo(&system);

    BasicInformation basic = {};
    ULONG returned = 0;
    REQUIRE(query.Query(0, &basic, sizeof(basic), &returned) == 0);
    CHECK(returned == sizeof(basic));
    CHECK(basic.pageSize == system.dwPageSize);
    CHECK(basic.allocationGranularity == system.dwAllocationGranularity);
    CHECK(static_cast<DWORD>(basic.processorCount) == system.dwNumberOfProcessors);

    BYTE larger[sizeof(BasicInformation) + 16] = {};
    CHECK(query.Query(0, larger, sizeof(larger), &returned) != 0);
    CHECK(query.Query(0, &basic, 4, &returned) != 0);
}
