#include <doctest.h>

#include <windows.h>

#include <string>

#include "base/WideString.h"
#include "system/MachineId.h"

namespace {

std::wstring IdFor(BYTE purpose)
{
    WideString text(L"unchanged");
    REQUIRE(MachineId(purpose, text) == 1);
    return text.Data();
}

// Creates a machine key of the private prefix for one test and removes it
// again; a key that already existed is left alone and the test skipped.
class TemporaryMachineKey
{
    HKEY key_ = nullptr;
    DWORD disposition_ = 0;

public:
    explicit TemporaryMachineKey(const wchar_t* path)
        : path(path), created(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE,
                                              nullptr, &key_, &disposition_) == ERROR_SUCCESS &&
                              disposition_ == REG_CREATED_NEW_KEY)
    {
    }
    ~TemporaryMachineKey()
    {
        RegCloseKey(key_);
        if (created)
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, path);
    }
    void Set(const wchar_t* name, DWORD type, const void* data, size_t size)
    {
        REQUIRE(RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data),
                               static_cast<DWORD>(size)) == ERROR_SUCCESS);
    }
    void SetString(const wchar_t* name, const wchar_t* text)
    {
        Set(name, REG_SZ, text, (wcslen(text) + 1) * sizeof(wchar_t));
    }

    const wchar_t* const path;
    const bool created;
};

// One byte of the running machine's identifier text "0011-2233-4455-6677".
unsigned IdByte(int index)
{
    const std::wstring id = IdFor(MACHINE_ID_UPDATE);
    return static_cast<unsigned>(
        std::stoul(id.substr(index / 2 * 5 + index % 2 * 2, 2), nullptr, 16));
}
constexpr int kDiskByte = 4;
constexpr int kNetworkByte = 5;

} // namespace

TEST_CASE("identifier bytes, check byte and text form")
{
    MachineDigests digests;
    digests.productId = 0x2A;
    digests.osVersion = 0x16;
    digests.systemVolume = 0x33;
    digests.networkAddress = 0x44;
    digests.disks = 0x55;
    BYTE bytes[MACHINE_ID_SIZE];
    ComposeMachineId(digests, MACHINE_ID_UPDATE, bytes);
    CHECK(bytes[7] == 0xF5);
    WideString text;
    REQUIRE(FormatMachineId(bytes, text) == 1);
    CHECK(text.Compare(L"2A10-3316-5544-F504") == 0);

    // Every source failed.
    ComposeMachineId(MachineDigests(), MACHINE_ID_UPDATE, bytes);
    CHECK(bytes[7] == 0xEB);
    REQUIRE(FormatMachineId(bytes, text) == 1);
    CHECK(text.Compare(L"0010-0000-0000-EB04") == 0);
}

TEST_CASE("digests of texts, versions, serials and addresses")
{
    // Only the low byte of a character counts, and the sum wraps.
    CHECK(TextByteSum(L"\x0141\x01FF") == static_cast<BYTE>(0x41 + 0xFF));
    CHECK(TextByteSum(L"") == 0);
    CHECK(TextByteSum(nullptr) == 0);
    CHECK(TextByteXor(L"\x0130\x0031") == 0x01);

    CHECK(OsVersionByte(6, 1) == 0x16);
    CHECK(OsVersionByte(0x15, 0x12) == 0x25);

    const BYTE address[MACHINE_ADDRESS_SIZE] = {0x00, 0x1B, 0x21, 0x3A, 0x4F, 0x80};
    const BYTE addressXor = 0x00 ^ 0x1B ^ 0x21 ^ 0x3A ^ 0x4F ^ 0x80;
    CHECK(NetworkAddressDigest(L"", address) == addressXor);
    CHECK(NetworkAddressDigest(L"AB", address) == (L'A' ^ L'B'));
    const BYTE unread[MACHINE_ADDRESS_SIZE] = {};
    CHECK(NetworkAddressDigest(L"", unread) == 0);
}

TEST_CASE("the running machine's identifier is stable and differs only by purpose")
{
    const std::wstring update = IdFor(MACHINE_ID_UPDATE);
    CHECK(update == IdFor(MACHINE_ID_UPDATE));
    REQUIRE(update.size() == 19);
    CHECK(update.substr(2, 2) == L"10");
    CHECK(update.substr(17, 2) == L"04");

    const std::wstring report = IdFor(MACHINE_ID_REPORT);
    CHECK(report.substr(0, 15) == update.substr(0, 15));
    CHECK(report.substr(17, 2) == L"02");
    CHECK(report.substr(15, 2) != update.substr(15, 2));
}

TEST_CASE("the network source that opens decides, even when its value is empty")
{
    TemporaryMachineKey advantage(L"SOFTWARE\\Microsoft\\Windows Genuine Advantage");
    if (!advantage.created) {
        MESSAGE("the machine has its own Genuine Advantage key; left alone");
        return;
    }
    advantage.SetString(L"MAC", L"");
    CHECK(IdByte(kNetworkByte) == 0);

    advantage.SetString(L"MAC", L"00-1B-21");
    CHECK(IdByte(kNetworkByte) == TextByteXor(L"00-1B-21"));
}

TEST_CASE("enumerated disks are summed before the SCSI map is walked")
{
    TemporaryMachineKey disks(L"SYSTEM\\CurrentControlSet\\Services\\Disk\\Enum");
    if (!disks.created) {
        MESSAGE("the machine has its own disk enumeration; left alone");
        return;
    }
    const DWORD count = 3;
    disks.Set(L"Count", REG_DWORD, &count, sizeof(count));
    disks.SetString(L"0", L"IDE\\DiskA");
    // Value "1" is missing and counts for nothing; "2" still counts.
    disks.SetString(L"2", L"SCSI\\DiskB");
    const BYTE expected =
        static_cast<BYTE>(TextByteSum(L"IDE\\DiskA") + TextByteSum(L"SCSI\\DiskB"));
    CHECK(IdByte(kDiskByte) == expected);
}
