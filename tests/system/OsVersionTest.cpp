#include <doctest.h>

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "system/OsVersion.h"
#include "system/Wow64.h"

namespace {

OSVERSIONINFOW MakeVersion(DWORD platform, DWORD major, DWORD minor,
                           const wchar_t* servicePack = L"")
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwPlatformId = platform;
    version.dwMajorVersion = major;
    version.dwMinorVersion = minor;
    lstrcpynW(version.szCSDVersion, servicePack, 128);
    return version;
}

OSVERSIONINFOW Nt(DWORD major, DWORD minor, const wchar_t* servicePack = L"")
{
    return MakeVersion(2, major, minor, servicePack);
}

OSVERSIONINFOW Dos(DWORD minor, const wchar_t* servicePack = L"")
{
    return MakeVersion(1, 4, minor, servicePack);
}

// The description as a narrow text, which test failures can print.
std::string Describe(DWORD kernel, DWORD detail = 0)
{
    wchar_t buffer[OS_DESCRIPTION_CAPACITY];
    const wchar_t* text = DescribeOs(kernel, detail, buffer);
    return std::string(text, text + wcslen(text));
}

} // namespace

TEST_CASE("kernel and detail words of every known version, and their descriptions")
{
    // Without a version, the words are given and only described.
    struct Row
    {
        std::optional<OSVERSIONINFOW> version;
        DWORD kernel;
        DWORD detail;
        const char* name;
    };
    const Row rows[] = {
        {MakeVersion(0, 3, 10), 0x4, 0, "Windows 3.1"},
        {Dos(0, L" A"), 0x12, 0, "Windows 95"},
        {Dos(0, L" B"), 0x402, 0, "Windows 95 OSR2"},
        {Dos(10), 0x22, 0, "Windows 98"},
        {Dos(10, L" A "), 0x802, 0, "Windows 98 SE"},
        {Dos(90), 0x42, 0, "Windows ME"},
        {Dos(50), 0x2, 0, "unknown dos kernel 0x2"},
        {MakeVersion(1, 5, 0), 0x2, 0, "unknown dos kernel 0x2"},
        {Nt(4, 0, L"Service Pack 6"), 0x81, 0, "Windows NT4"},
        {Nt(5, 0), 0x101, 0, "Windows 2000"},
        {Nt(5, 1, L"Service Pack 1"), 0x201, 0x2, "Windows XP"},
        {Nt(5, 1, L"Service Pack 3"), 0x201, 0x8, "Windows XP"},
        {Nt(5, 2), 0x1001, 0, "Windows Server 2003"},
        {Nt(6, 0), 0x2001, 0, "Windows Vista"},
        {Nt(6, 1, L"Service Pack 1"), 0x4001, 0x2, "Windows 7"},
        {Nt(6, 2), 0x40001, 0, "Windows 8"},
        {Nt(6, 3), 0x1, 0, "unknown nt kernel 0x1"},
        {std::nullopt, OS_CE | OS_CE50, 0, "Windows CE 5.0"},
        {std::nullopt, OS_CE, 0, "unknown ce kernel 0x8"},
        {std::nullopt, 0, 0, "unknown 0x0"},
        {std::nullopt, 0x20000, 0, "unknown 0x20000"},
        // Unknown versions carry no suffixes.
        {std::nullopt, OS_NT, OS_DETAIL_SERVER | OS_DETAIL_ENTERPRISE, "unknown nt kernel 0x1"},
        {std::nullopt, 0x4001, OS_DETAIL_ENTERPRISE | OS_DETAIL_REMOTE_SESSION,
         "Windows 7 [Enterprise] [TerminalSession]"},
        {std::nullopt, 0x4001, OS_SP1 | OS_SP2 | OS_SP3 | OS_DETAIL_STARTER | OS_DETAIL_SERVER_R2,
         "Windows 7"},
        {std::nullopt, 0x1001, OS_DETAIL_SERVER | OS_DETAIL_ADVANCED_SERVER,
         "Windows Server 2003 [Server]"},
        {std::nullopt, 0x201, OS_DETAIL_PE_BUILDER | OS_DETAIL_MININT, "Windows XP [PE Builder]"},
        {std::nullopt, 0x2001, OS_DETAIL_MEDIA_CENTER | OS_DETAIL_MEDIA_CENTER_VISTA,
         "Windows Vista [MediaCenter Vista]"},
        {std::nullopt, 0x201, OS_DETAIL_MEDIA_CENTER | OS_DETAIL_TABLET_PC,
         "Windows XP [TabletPC] [MediaCenter]"},
        {std::nullopt, 0x101,
         OS_DETAIL_DOMAIN_CONTROLLER | OS_DETAIL_DATACENTER | OS_DETAIL_FUNDAMENTALS,
         "Windows 2000 [Datacenter] [Domain Controller] [Fundamentals for Legacy PCs]"},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        if (row.version) {
            const OsVersionCode code = OsKernelFor(*row.version);
            CHECK(OsKernelWord(code) == row.kernel);
            CHECK(OsDetailWord(code) == row.detail);
        }
        CHECK(Describe(row.kernel, row.detail) == row.name);
    }
    CHECK(OsKernelFor(MakeVersion(3, 6, 1)) == 0);
    // More than one service-pack text may occur.
    CHECK(OsDetailWord(OsKernelFor(Nt(5, 1, L"Service Pack 2, Service Pack 3"))) == 0xC);
    // Every suffix at once gives the longest text, which still fits.
    wchar_t buffer[OS_DESCRIPTION_CAPACITY + 1];
    buffer[OS_DESCRIPTION_CAPACITY] = L'#';
    DWORD widest = 0xFFFFFFFF &
                   ~(OS_DETAIL_SERVER | OS_DETAIL_MEDIA_CENTER_2004 | OS_DETAIL_MEDIA_CENTER_2005);
    CHECK(wcslen(DescribeOs(0x1001, widest, buffer)) == 254);
    CHECK(buffer[OS_DESCRIPTION_CAPACITY] == L'#');
}

TEST_CASE("detail bits from edition facts: every suite bit, product type and fact")
{
    OSVERSIONINFOEXW extended = {};
    extended.wProductType = VER_NT_WORKSTATION;
    OsEditionFacts facts;
    facts.extended = &extended;

    // Each of the sixteen suite bits alone, on a workstation: these count,
    // the others not.
    const std::map<WORD, DWORD> counted = {
        {VER_SUITE_SMALLBUSINESS, OS_DETAIL_SERVER},
        {VER_SUITE_ENTERPRISE, OS_DETAIL_SERVER | OS_DETAIL_ENTERPRISE},
        {VER_SUITE_TERMINAL, OS_DETAIL_TERMINAL_SERVICES},
        {VER_SUITE_EMBEDDEDNT, OS_DETAIL_EMBEDDED},
        {VER_SUITE_DATACENTER, OS_DETAIL_DATACENTER},
        {VER_SUITE_PERSONAL, OS_DETAIL_HOME_EDITION},
        {VER_SUITE_STORAGE_SERVER, OS_DETAIL_STORAGE_SERVER},
        {VER_SUITE_WH_SERVER, OS_DETAIL_HOME_SERVER},
    };
    for (int bit = 0; bit < 16; ++bit) {
        CAPTURE(bit);
        extended.wSuiteMask = static_cast<WORD>(1u << bit);
        const auto found = counted.find(extended.wSuiteMask);
        CHECK(OsDetailBitsFor(facts) == (found == counted.end() ? 0 : found->second));
    }
    // Terminal services count only without the single-user flag.
    extended.wSuiteMask = VER_SUITE_TERMINAL | VER_SUITE_SINGLEUSERTS;
    CHECK(OsDetailBitsFor(facts) == 0);
    extended.wSuiteMask = 0xFFFF;
    CHECK(OsDetailBitsFor(facts) ==
          (OS_DETAIL_SERVER | OS_DETAIL_ENTERPRISE | OS_DETAIL_EMBEDDED | OS_DETAIL_DATACENTER |
           OS_DETAIL_HOME_EDITION | OS_DETAIL_STORAGE_SERVER | OS_DETAIL_HOME_SERVER));

    extended.wSuiteMask = 0;
    extended.wProductType = VER_NT_DOMAIN_CONTROLLER;
    CHECK(OsDetailBitsFor(facts) == OS_DETAIL_DOMAIN_CONTROLLER);
    extended.wProductType = VER_NT_SERVER;
    CHECK(OsDetailBitsFor(facts) == 0);

    const std::pair<const wchar_t*, DWORD> productTypeTexts[] = {
        {L"servernt", OS_DETAIL_SERVER}, {L"LANMANNT", OS_DETAIL_ADVANCED_SERVER}, {L"winnt", 0}};
    for (const auto& type : productTypeTexts) {
        facts.productType = type.first;
        CHECK(OsDetailBitsFor(facts) == type.second);
    }
    facts.productType = nullptr;

    // Without the extended record only the other facts count.
    facts.extended = nullptr;
    const std::pair<bool OsEditionFacts::*, DWORD> flags[] = {
        {&OsEditionFacts::miniNtKey, OS_DETAIL_MININT},
        {&OsEditionFacts::peBuilderKey, OS_DETAIL_PE_BUILDER},
        {&OsEditionFacts::fundamentalsInstalled, OS_DETAIL_FUNDAMENTALS},
        {&OsEditionFacts::starter, OS_DETAIL_STARTER},
        {&OsEditionFacts::serverR2, OS_DETAIL_SERVER_R2},
        {&OsEditionFacts::tabletPc, OS_DETAIL_TABLET_PC},
        {&OsEditionFacts::mediaCenter, OS_DETAIL_MEDIA_CENTER},
        {&OsEditionFacts::remoteSession, OS_DETAIL_REMOTE_SESSION},
    };
    for (const auto& flag : flags) {
        OsEditionFacts single;
        single.*flag.first = true;
        CHECK(OsDetailBitsFor(single) == flag.second);
    }

    const std::pair<const wchar_t*, DWORD> idents[] = {{L"2.7", OS_DETAIL_MEDIA_CENTER_2004},
                                                       {L"3.0", OS_DETAIL_MEDIA_CENTER_2005},
                                                       {L"4.1", OS_DETAIL_MEDIA_CENTER_2005_EX},
                                                       {L"5.0", OS_DETAIL_MEDIA_CENTER_VISTA},
                                                       {L"6.0", 0},
                                                       {L"x", 0},
                                                       {L"", 0}};
    for (const auto& ident : idents) {
        facts.mediaCenterIdent = ident.first;
        CHECK(OsDetailBitsFor(facts) == ident.second);
    }
}

TEST_CASE("the at-least test on every kind of system")
{
    const OsVersionCode xpWithSp2 = MakeOsVersionCode(OS_WINXP, OS_SP2);
    struct Row
    {
        OSVERSIONINFOW version;
        OsVersionCode wanted;
        int satisfied;
    };
    const Row rows[] = {
        {Nt(5, 1, L"Service Pack 3"), OS_VISTA, 0},
        {Nt(6, 1, L"Service Pack 1"), OS_VISTA, 1},
        {Nt(6, 0), OS_WIN7, 0},
        {Nt(6, 3), OS_WIN7, 1},
        {Nt(10, 0), OS_WIN8, 1},
        {Nt(5, 1, L"Service Pack 1"), xpWithSp2, 0},
        {Nt(5, 1, L"Service Pack 2"), xpWithSp2, 1},
        {Nt(6, 0), xpWithSp2, 1},
        {Nt(5, 1), MakeOsVersionCode(OS_WINXP, OS_SP1), 0},
        // Later service packs count too.
        {Nt(5, 0, L"Service Pack 4"), MakeOsVersionCode(OS_WIN2000, OS_SP3), 1},
        // The NT bit alone accepts any NT system, and no DOS bits do.
        {Nt(4, 0), OS_NT, 1},
        {Nt(4, 0), OS_DOS | OS_WIN98, 0},
        // An NT older than every listed version is none of them.
        {Nt(3, 51), OS_WIN8, 0},
        {Nt(3, 51), OS_NT4, 0},
        // DOS-based versions other than 4.x, Win32s and unknown platforms.
        {MakeVersion(1, 3, 95), OS_WIN95, 0},
        {MakeVersion(0, 3, 10), OS_WIN31, 1},
        {MakeVersion(0, 3, 10), OS_DOS | OS_NT, 0},
        {MakeVersion(3, 6, 0), OS_NT | OS_CE, 0},
    };
    for (const Row& row : rows) {
        CAPTURE(row.version.dwPlatformId);
        CAPTURE(row.version.dwMajorVersion);
        CAPTURE(row.version.dwMinorVersion);
        CHECK(OsSatisfies(row.version, row.wanted) == row.satisfied);
    }

    // Each DOS-based 4.x version against each DOS bit: the bits it satisfies.
    const std::pair<OSVERSIONINFOW, DWORD> dosVersions[] = {
        {Dos(0), OS_WIN95},
        {Dos(0, L" B"), OS_WIN95 | OS_WIN95_OSR2},
        {Dos(10), OS_WIN95 | OS_WIN98},
        {Dos(10, L" A"), OS_WIN95 | OS_WIN98 | OS_WIN98_SE},
        {Dos(90), OS_WIN95 | OS_WIN98 | OS_WINME | OS_WIN95_OSR2 | OS_WIN98_SE},
    };
    for (const auto& [version, satisfied] : dosVersions) {
        CAPTURE(version.dwMinorVersion);
        CHECK(OsSatisfies(version, OS_DOS) == 1);
        CHECK(OsSatisfies(version, OS_NT | OS_WIN7) == 0);
        for (DWORD bit : {OS_WIN95, OS_WIN98, OS_WINME, OS_WIN95_OSR2, OS_WIN98_SE}) {
            CAPTURE(bit);
            CHECK(OsSatisfies(version, bit) == ((satisfied & bit) ? 1 : 0));
        }
    }
}

TEST_CASE("the running system")
{
    // Judged against what the platform itself reports, so that the test holds
    // on Wine and on every Windows from 7 on, 32- or 64-bit.
    OSVERSIONINFOW reported = {};
    reported.dwOSVersionInfoSize = sizeof(reported);
    REQUIRE(GetVersionExW(&reported));
    const DWORD release = reported.dwMajorVersion * 100 + reported.dwMinorVersion;
    const bool windows7WithoutServicePack = release == 601 && reported.szCSDVersion[0] == 0;

    OsVersionCode kernel = GetOsKernel();
    CHECK((OsKernelWord(kernel) & OS_NT) != 0);
    OsVersionCode details = GetOsDetails();
    CHECK(OsKernelWord(details) == OsKernelWord(kernel));
    std::string running = Describe(OsKernelWord(details), OsDetailWord(details));
    CAPTURE(running);
    CHECK(running.rfind("Windows ", 0) == 0);
    CHECK(IsOsAtLeast(OS_VISTA) == 1);
    CHECK(IsOsAtLeast(OS_WIN7) == 1);
    CHECK(IsOsAtLeast(OS_WIN8) == (release >= 602 ? 1 : 0));
    CHECK(IsOsAtLeast(MakeOsVersionCode(OS_WIN7, OS_SP1)) == (windows7WithoutServicePack ? 0 : 1));

    // WOW64 runs a 32-bit program on a 64-bit system, and nothing else.
    SYSTEM_INFO native;
    GetNativeSystemInfo(&native);
    const bool nativeIs64Bit = native.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_INTEL;
    CHECK(IsWow64(nullptr) == (sizeof(void*) == 4 && nativeIs64Bit ? 1 : 0));
    CHECK(IsWow64(GetCurrentProcess()) == IsWow64(nullptr));

    DWORD controls = GetCommonControlsVersion();
    CHECK(controls >= 0x50050);
}
