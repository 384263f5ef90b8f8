#include "system/MachineId.h"

#include "base/WideString.h"
#include "system/OsVersion.h"
#include "system/Registry.h"

#ifdef _MSC_VER
// GetVersionExW is deprecated, but the identifier digests exactly the
// version the system reports to this program.
#pragma warning(disable : 4996)
#endif

namespace {

// Every registry text is read into a buffer of this many characters.
constexpr DWORD kTextCapacity = 260;

const wchar_t kNtCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const wchar_t kDosCurrentVersion[] = L"Software\\Microsoft\\Windows\\CurrentVersion";

// A registry text in a fixed buffer; empty when the value cannot be read.
struct RegistryText
{
    wchar_t text[kTextCapacity] = {};

    int Read(RegistryKey& key, const wchar_t* name)
    {
        if (!key.ReadStringFixed(name, text, kTextCapacity)) {
            text[0] = L'\0';
            return 0;
        }
        return 1;
    }
};

bool RunsOnNt()
{
    return (OsKernelWord(GetOsKernel()) & OS_NT) != 0;
}

const wchar_t* CurrentVersionKey(bool nt)
{
    return nt ? kNtCurrentVersion : kDosCurrentVersion;
}

BYTE ProductIdDigest(bool nt)
{
    RegistryKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, CurrentVersionKey(nt))) {
        return 0;
    }
    RegistryText productId;
    productId.Read(key, L"ProductId");
    return TextByteSum(productId.text);
}

BYTE RunningOsVersionByte()
{
    OSVERSIONINFOW version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExW(&version)) {
        return 0;
    }
    return OsVersionByte(version.dwMajorVersion, version.dwMinorVersion);
}

BYTE SystemVolumeDigest()
{
    wchar_t root[MAX_PATH] = {};
    UINT length = GetWindowsDirectoryW(root, MAX_PATH);
    if (length < 3 || length >= MAX_PATH) {
        return 0;
    }
    root[3] = L'\0';
    DWORD serial = 0;
    UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    BOOL known = GetVolumeInformationW(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0);
    SetErrorMode(previousMode);
    return known ? VolumeSerialDigest(serial) : 0;
}

// Reads the six bytes of a binary address value; they stay zero when the
// value is missing or shorter.
void ReadAddress(RegistryKey& key, const wchar_t* name, BYTE* address)
{
    BYTE value[MACHINE_ADDRESS_SIZE] = {};
    DWORD size = sizeof(value);
    if (key.ReadBinary(name, value, size) && size == sizeof(value)) {
        CopyMemory(address, value, sizeof(value));
    }
}

// The first source whose key opens decides; an empty value there does not
// fall through to the next one.
BYTE NetworkDigest(bool nt)
{
    RegistryText text;
    BYTE address[MACHINE_ADDRESS_SIZE] = {};
    RegistryKey key;
    if (nt) {
        if (key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows Genuine Advantage")) {
            text.Read(key, L"MAC");
        } else if (key.Open(HKEY_LOCAL_MACHINE,
                            L"SOFTWARE\\Description\\Microsoft\\Rpc\\UuidTemporaryData")) {
            ReadAddress(key, L"NetworkAddress", address);
        } else if (key.Open(HKEY_LOCAL_MACHINE, kNtCurrentVersion)) {
            text.Read(key, L"ProductId");
        }
    } else {
        if (key.Open(HKEY_LOCAL_MACHINE,
                     L"System\\CurrentControlSet\\Services\\VxD\\DHCP\\DhcpInfo00")) {
            ReadAddress(key, L"HardwareAddress", address);
        } else if (key.Open(HKEY_LOCAL_MACHINE, kDosCurrentVersion)) {
            text.Read(key, L"ProductId");
        }
    }
    return NetworkAddressDigest(text.text, address);
}

// Sum of the disk enumeration's device names; 0 with nothing read.
int EnumeratedDiskSum(BYTE& sum)
{
    RegistryKey key;
    DWORD count = 0;
    if (!key.Open(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\Disk\\Enum") ||
        !key.ReadDword(L"Count", count)) {
        return 0;
    }
    int anyRead = 0;
    BYTE total = 0;
    for (DWORD index = 0; index < count; ++index) {
        WideString valueName;
        Format(valueName, L"%u", index);
        RegistryText device;
        if (device.Read(key, valueName.Data())) {
            total = static_cast<BYTE>(total + TextByteSum(device.text));
            anyRead = 1;
        }
    }
    if (anyRead) {
        sum = total;
    }
    return anyRead;
}

// Sum of the identifiers of the SCSI logical units 0 found under ports,
// buses and targets 0 to 9; a bus ends at its first missing target.
BYTE ScsiDiskSum()
{
    BYTE total = 0;
    for (unsigned port = 0; port < 10; ++port) {
        for (unsigned bus = 0; bus < 10; ++bus) {
            for (unsigned target = 0; target < 10; ++target) {
                WideString path;
                Format(path,
                       L"HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %u\\Scsi Bus %u\\Target Id "
                       L"%u\\Logical Unit Id 0",
                       port, bus, target);
                RegistryKey key;
                if (!key.Open(HKEY_LOCAL_MACHINE, path.Data())) {
                    break;
                }
                RegistryText identifier;
                identifier.Read(key, L"Identifier");
                total = static_cast<BYTE>(total + TextByteSum(identifier.text));
            }
        }
    }
    return total;
}

BYTE DiskDigest(bool nt)
{
    if (!nt) {
        return 0;
    }
    BYTE sum = 0;
    return EnumeratedDiskSum(sum) ? sum : ScsiDiskSum();
}

} // namespace

BYTE TextByteSum(const wchar_t* text)
{
    unsigned sum = 0;
    for (; text && *text; ++text) {
        sum += static_cast<BYTE>(*text);
    }
    return static_cast<BYTE>(sum);
}

BYTE TextByteXor(const wchar_t* text)
{
    BYTE result = 0;
    for (; text && *text; ++text) {
        result ^= static_cast<BYTE>(*text);
    }
    return result;
}

BYTE OsVersionByte(DWORD major, DWORD minor)
{
    return static_cast<BYTE>(((minor & 15) << 4) | (major & 15));
}

BYTE VolumeSerialDigest(DWORD serial)
{
    return static_cast<BYTE>(serial ^ (serial >> 8) ^ (serial >> 16) ^ (serial >> 24));
}

BYTE NetworkAddressDigest(const wchar_t* text, const BYTE* address)
{
    if (text && *text) {
        return TextByteXor(text);
    }
    BYTE result = 0;
    for (unsigned i = 0; address && i < MACHINE_ADDRESS_SIZE; ++i) {
        result ^= address[i];
    }
    return result;
}

BYTE MachineIdCheckByte(const BYTE* bytes)
{
    BYTE check = 0;
    for (unsigned i = 0; i < MACHINE_ID_SIZE - 1; ++i) {
        check ^= static_cast<BYTE>(~bytes[i]);
    }
    return check;
}

void ComposeMachineId(const MachineDigests& digests, BYTE purpose, BYTE* bytes)
{
    bytes[0] = 0x10;
    bytes[1] = digests.productId;
    bytes[2] = digests.osVersion;
    bytes[3] = digests.systemVolume;
    bytes[4] = digests.networkAddress;
    bytes[5] = digests.disks;
    bytes[6] = purpose;
    bytes[7] = MachineIdCheckByte(bytes);
}

int FormatMachineId(const BYTE* bytes, WideString& text)
{
    unsigned words[4];
    for (unsigned i = 0; i < 4; ++i) {
        words[i] = bytes[2 * i] | (bytes[2 * i + 1] << 8);
    }
    WideString formatted;
    if (!Format(formatted, L"%04X-%04X-%04X-%04X", words[0], words[1], words[2], words[3])) {
        return 0;
    }
    return text.Assign(formatted);
}

int MachineId(BYTE purpose, WideString& text)
{
    const bool nt = RunsOnNt();
    MachineDigests digests;
    digests.productId = ProductIdDigest(nt);
    digests.osVersion = RunningOsVersionByte();
    digests.systemVolume = SystemVolumeDigest();
    digests.networkAddress = NetworkDigest(nt);
    digests.disks = DiskDigest(nt);
    BYTE bytes[MACHINE_ID_SIZE];
    ComposeMachineId(digests, purpose, bytes);
    return FormatMachineId(bytes, text);
}
