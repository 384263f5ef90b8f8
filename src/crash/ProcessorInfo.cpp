#include "crash/ProcessorInfo.h"

#include "base/WideString.h"
#include "system/OsVersion.h"
#include "system/Registry.h"

namespace {

// The class that reports the processors' clock; its 32-bit clock in Hz sits
// at byte offset 4.
constexpr ULONG kProcessorClockClass = 43;
constexpr ULONG kProcessorClockLength = 15;

void ReadStringInto(RegistryKey& key, const wchar_t* name, WideString* target)
{
    if (target) {
        key.ReadString(name, *target);
    }
}

DWORD QueriedMegahertz(SystemInfoQuery& query)
{
    BYTE buffer[16] = {};
    ULONG returned = 0;
    if (query.Query(kProcessorClockClass, buffer, kProcessorClockLength, &returned) != 0) {
        return 0;
    }
    DWORD hertz = 0;
    CopyMemory(&hertz, buffer + 4, sizeof(hertz));
    return hertz / 1000000;
}

} // namespace

SystemInfoQuery::SystemInfoQuery() : ntdll_(L"ntdll.dll")
{
}

LONG SystemInfoQuery::Query(ULONG informationClass, void* buffer, ULONG length,
                            ULONG* returnedLength)
{
    if (!query_) {
        query_ = ntdll_.Symbol<QueryFunction>("NtQuerySystemInformation");
    }
    if (!query_) {
        return kMissingFunction;
    }
    return query_(informationClass, buffer, length, returnedLength);
}

ProcessorInfo::ProcessorInfo() : isNt_((OsKernelWord(GetOsKernel()) & OS_NT) != 0)
{
}

int ProcessorInfo::Get(unsigned index, WideString* name, WideString* vendor, WideString* identifier,
                       DWORD* megahertz)
{
    WideString path;
    Format(path, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\%u", index);
    RegistryKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, path.Data())) {
        return 0;
    }
    ReadStringInto(key, isNt_ ? L"ProcessorNameString" : L"Identifier", name);
    ReadStringInto(key, L"VendorIdentifier", vendor);
    if (isNt_) {
        ReadStringInto(key, L"Identifier", identifier);
    }
    if (megahertz) {
        DWORD registryValue = 0;
        key.ReadDword(L"~MHz", registryValue);
        DWORD queried = QueriedMegahertz(query_);
        *megahertz = queried ? queried : registryValue;
    }
    key.Close();
    return 1;
}
