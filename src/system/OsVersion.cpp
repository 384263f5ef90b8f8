#include "system/OsVersion.h"

#include <wchar.h>

#include "base/DynamicLibrary.h"
#include "base/WideString.h"
#include "system/Registry.h"

#ifdef _MSC_VER
// GetVersionExW is deprecated, but this is exactly the caller that wants the
// version the system reports to this program.
#pragma warning(disable : 4996)
#endif

namespace {

constexpr DWORD kPlatformWin32s = 0;
constexpr DWORD kPlatformDos = 1;
constexpr DWORD kPlatformNt = 2;

DWORD PackVersion(DWORD major, DWORD minor)
{
    return (major << 16) | minor;
}

struct NtVersion
{
    DWORD version;
    DWORD kernel;
};

// Newest first: the at-least test walks down from the running version.
const NtVersion kNtVersions[] = {
    {PackVersion(6, 2), OS_WIN8 | OS_NT},  {PackVersion(6, 1), OS_WIN7 | OS_NT},
    {PackVersion(6, 0), OS_VISTA | OS_NT}, {PackVersion(5, 2), OS_WIN2003 | OS_NT},
    {PackVersion(5, 1), OS_WINXP | OS_NT}, {PackVersion(5, 0), OS_WIN2000 | OS_NT},
    {PackVersion(4, 0), OS_NT4 | OS_NT},
};

// The second character of the service-pack text (the first is a space)
// tells the second editions of Windows 95 and 98 apart.
wchar_t EditionLetter(const OSVERSIONINFOW& version)
{
    return version.szCSDVersion[1];
}

bool IsOsr2Letter(wchar_t letter)
{
    return letter == L'B' || letter == L'C';
}

DWORD DosKernelFor(const OSVERSIONINFOW& version)
{
    if (version.dwMajorVersion != 4) {
        return OS_DOS;
    }
    switch (version.dwMinorVersion) {
    case 0:
        return IsOsr2Letter(EditionLetter(version)) ? OS_WIN95_OSR2 | OS_DOS : OS_WIN95 | OS_DOS;
    case 10:
        return EditionLetter(version) == L'A' ? OS_WIN98_SE | OS_DOS : OS_WIN98 | OS_DOS;
    case 90:
        return OS_WINME | OS_DOS;
    default:
        return OS_DOS;
    }
}

bool Contains(const wchar_t* text, const wchar_t* part)
{
    return wcsstr(text, part) != nullptr;
}

DWORD ServicePackBits(const wchar_t* servicePackText)
{
    DWORD bits = 0;
    if (Contains(servicePackText, L"Service Pack 1")) {
        bits |= OS_SP1;
    }
    if (Contains(servicePackText, L"Service Pack 2")) {
        bits |= OS_SP2;
    }
    if (Contains(servicePackText, L"Service Pack 3")) {
        bits |= OS_SP3;
    }
    return bits;
}

// The service-pack number in a text such as "Service Pack 2"; 0 for none.
unsigned ServicePackNumber(const wchar_t* servicePackText)
{
    const wchar_t* found = wcsstr(servicePackText, L"Service Pack ");
    if (!found) {
        return 0;
    }
    return static_cast<unsigned>(wcstoul(found + 13, nullptr, 10));
}

// The smallest service pack the detail word of a mask asks for; 0 for none.
unsigned RequiredServicePack(DWORD detail)
{
    if (detail & OS_SP1) {
        return 1;
    }
    if (detail & OS_SP2) {
        return 2;
    }
    if (detail & OS_SP3) {
        return 3;
    }
    return 0;
}

DWORD SuiteAndProductBits(const OSVERSIONINFOEXW& extended)
{
    const WORD suite = extended.wSuiteMask;
    DWORD bits = 0;
    if (suite & (VER_SUITE_SMALLBUSINESS | VER_SUITE_ENTERPRISE)) {
        bits |= OS_DETAIL_SERVER;
    }
    if (suite & VER_SUITE_DATACENTER) {
        bits |= OS_DETAIL_DATACENTER;
    }
    if (suite & VER_SUITE_ENTERPRISE) {
        bits |= OS_DETAIL_ENTERPRISE;
    }
    if (suite & VER_SUITE_EMBEDDEDNT) {
        bits |= OS_DETAIL_EMBEDDED;
    }
    if (suite & VER_SUITE_PERSONAL) {
        bits |= OS_DETAIL_HOME_EDITION;
    }
    if (suite & VER_SUITE_STORAGE_SERVER) {
        bits |= OS_DETAIL_STORAGE_SERVER;
    }
    // With the single-user flag it is only Remote Desktop, not a terminal server.
    if ((suite & VER_SUITE_TERMINAL) && !(suite & VER_SUITE_SINGLEUSERTS)) {
        bits |= OS_DETAIL_TERMINAL_SERVICES;
    }
    if (suite & VER_SUITE_WH_SERVER) {
        bits |= OS_DETAIL_HOME_SERVER;
    }
    if (extended.wProductType == VER_NT_DOMAIN_CONTROLLER) {
        bits |= OS_DETAIL_DOMAIN_CONTROLLER;
    }
    return bits;
}

DWORD ProductTypeBits(const wchar_t* productType)
{
    if (!productType || lstrcmpiW(productType, L"WinNT") == 0) {
        return 0;
    }
    if (lstrcmpiW(productType, L"ServerNT") == 0) {
        return OS_DETAIL_SERVER;
    }
    if (lstrcmpiW(productType, L"LanmanNT") == 0) {
        return OS_DETAIL_ADVANCED_SERVER;
    }
    return 0;
}

DWORD MediaCenterIdentBits(const wchar_t* ident)
{
    if (!ident) {
        return 0;
    }
    unsigned major = 0;
    unsigned minor = 0;
    swscanf(ident, L"%u.%u", &major, &minor);
    switch (major) {
    case 2:
        return OS_DETAIL_MEDIA_CENTER_2004;
    case 3:
        return OS_DETAIL_MEDIA_CENTER_2005;
    case 4:
        return OS_DETAIL_MEDIA_CENTER_2005_EX;
    case 5:
        return OS_DETAIL_MEDIA_CENTER_VISTA;
    default:
        return 0;
    }
}

int ReadVersion(OSVERSIONINFOW& version)
{
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    return GetVersionExW(&version) != FALSE;
}

// The record DllGetVersion fills (DLLVERSIONINFO), declared here so that
// shlwapi.h and its IsOS macros stay out.
struct ModuleVersionInfo
{
    DWORD size;
    DWORD major;
    DWORD minor;
    DWORD build;
    DWORD platform;
};
using DllGetVersionFunction = HRESULT(CALLBACK*)(ModuleVersionInfo*);

bool KeyExists(const wchar_t* subkey)
{
    RegistryKey key;
    return key.Open(HKEY_LOCAL_MACHINE, subkey) != 0;
}

// Kernel bits that a DOS-based 4.x system satisfies in an at-least test.
DWORD DosBitsSatisfied(const OSVERSIONINFOW& version)
{
    switch (version.dwMinorVersion) {
    case 0:
        return IsOsr2Letter(EditionLetter(version)) ? OS_WIN95 | OS_WIN95_OSR2 : OS_WIN95;
    case 10:
        return EditionLetter(version) == L'A' ? OS_WIN95 | OS_WIN98 | OS_WIN98_SE
                                              : OS_WIN95 | OS_WIN98;
    default:
        return OS_WIN95 | OS_WIN98 | OS_WINME | OS_WIN95_OSR2 | OS_WIN98_SE;
    }
}

int NtServicePackSatisfies(const OSVERSIONINFOW& version, DWORD candidate, DWORD detail)
{
    if (PackVersion(version.dwMajorVersion, version.dwMinorVersion) > candidate) {
        return 1;
    }
    unsigned required = RequiredServicePack(detail);
    return required == 0 || ServicePackNumber(version.szCSDVersion) >= required;
}

int NtSatisfies(const OSVERSIONINFOW& version, DWORD kernel, DWORD detail)
{
    int answer = (kernel & OS_NT) ? 1 : 0;
    const DWORD running = PackVersion(version.dwMajorVersion, version.dwMinorVersion);
    // Versions newer than the running one are skipped; a version between or
    // beyond the listed ones starts at the newest listed one below it.
    for (const NtVersion& candidate : kNtVersions) {
        if (candidate.version > running) {
            continue;
        }
        DWORD bit = candidate.kernel & ~OS_NT;
        if (kernel & bit) {
            answer = NtServicePackSatisfies(version, candidate.version, detail);
        }
    }
    return answer;
}

const wchar_t* NtBaseName(DWORD kernel)
{
    if (kernel & OS_NT4) {
        return L"Windows NT4";
    }
    if (kernel & OS_WIN2000) {
        return L"Windows 2000";
    }
    if (kernel & OS_WINXP) {
        return L"Windows XP";
    }
    if (kernel & OS_WIN2003) {
        return L"Windows Server 2003";
    }
    if (kernel & OS_VISTA) {
        return L"Windows Vista";
    }
    if (kernel & OS_WIN7) {
        return L"Windows 7";
    }
    if (kernel & OS_WIN8) {
        return L"Windows 8";
    }
    return nullptr;
}

const wchar_t* DosName(DWORD kernel)
{
    if (kernel & OS_WIN95) {
        return L"Windows 95";
    }
    if (kernel & OS_WIN95_OSR2) {
        return L"Windows 95 OSR2";
    }
    if (kernel & OS_WIN98) {
        return L"Windows 98";
    }
    if (kernel & OS_WIN98_SE) {
        return L"Windows 98 SE";
    }
    if (kernel & OS_WINME) {
        return L"Windows ME";
    }
    return nullptr;
}

const wchar_t* FirstSuffix(DWORD detail, DWORD first, const wchar_t* firstText, DWORD second,
                           const wchar_t* secondText)
{
    if (detail & first) {
        return firstText;
    }
    return (detail & second) ? secondText : nullptr;
}

const wchar_t* MediaCenterSuffix(DWORD detail)
{
    if (detail & OS_DETAIL_MEDIA_CENTER_2004) {
        return L" [MediaCenter 2004]";
    }
    if (detail & OS_DETAIL_MEDIA_CENTER_2005) {
        return L" [MediaCenter 2005]";
    }
    if (detail & OS_DETAIL_MEDIA_CENTER_2005_EX) {
        return L" [MediaCenter 2005 Ex]";
    }
    if (detail & OS_DETAIL_MEDIA_CENTER_VISTA) {
        return L" [MediaCenter Vista]";
    }
    return (detail & OS_DETAIL_MEDIA_CENTER) ? L" [MediaCenter]" : nullptr;
}

struct EditionSuffix
{
    DWORD bit;
    const wchar_t* text;
};

const EditionSuffix kEditionSuffixes[] = {
    {OS_DETAIL_DATACENTER, L" [Datacenter]"},
    {OS_DETAIL_ENTERPRISE, L" [Enterprise]"},
    {OS_DETAIL_EMBEDDED, L" [Embedded]"},
    {OS_DETAIL_HOME_EDITION, L" [Home Edition]"},
    {OS_DETAIL_STORAGE_SERVER, L" [Storage Server]"},
    {OS_DETAIL_TERMINAL_SERVICES, L" [Terminal Services]"},
    {OS_DETAIL_HOME_SERVER, L" [Home Server]"},
    {OS_DETAIL_DOMAIN_CONTROLLER, L" [Domain Controller]"},
    {OS_DETAIL_FUNDAMENTALS, L" [Fundamentals for Legacy PCs]"},
};

void AppendIf(wchar_t* buffer, const wchar_t* suffix)
{
    if (suffix) {
        lstrcatW(buffer, suffix);
    }
}

const wchar_t* DescribeNt(DWORD kernel, DWORD detail, wchar_t* buffer)
{
    const wchar_t* base = NtBaseName(kernel);
    if (!base) {
        wsprintfW(buffer, L"unknown nt kernel 0x%X", kernel);
        return buffer;
    }
    lstrcpyW(buffer, base);
    AppendIf(buffer, FirstSuffix(detail, OS_DETAIL_SERVER, L" [Server]", OS_DETAIL_ADVANCED_SERVER,
                                 L" [Advanced Server]"));
    AppendIf(buffer, FirstSuffix(detail, OS_DETAIL_PE_BUILDER, L" [PE Builder]", OS_DETAIL_MININT,
                                 L" [MiniNT]"));
    AppendIf(buffer, (detail & OS_DETAIL_TABLET_PC) ? L" [TabletPC]" : nullptr);
    AppendIf(buffer, MediaCenterSuffix(detail));
    for (const EditionSuffix& suffix : kEditionSuffixes) {
        AppendIf(buffer, (detail & suffix.bit) ? suffix.text : nullptr);
    }
    AppendIf(buffer, (detail & OS_DETAIL_REMOTE_SESSION) ? L" [TerminalSession]" : nullptr);
    return buffer;
}

} // namespace

OsVersionCode OsKernelFor(const OSVERSIONINFOW& version)
{
    switch (version.dwPlatformId) {
    case kPlatformWin32s:
        return OS_WIN31;
    case kPlatformDos:
        return DosKernelFor(version);
    case kPlatformNt: {
        DWORD running = PackVersion(version.dwMajorVersion, version.dwMinorVersion);
        DWORD kernel = OS_NT;
        for (const NtVersion& known : kNtVersions) {
            if (known.version == running) {
                kernel = known.kernel;
            }
        }
        return MakeOsVersionCode(kernel, ServicePackBits(version.szCSDVersion));
    }
    default:
        return 0;
    }
}

DWORD OsDetailBitsFor(const OsEditionFacts& facts)
{
    DWORD bits = 0;
    if (facts.extended) {
        bits |= SuiteAndProductBits(*facts.extended);
    }
    bits |= ProductTypeBits(facts.productType);
    if (facts.miniNtKey) {
        bits |= OS_DETAIL_MININT;
    }
    if (facts.peBuilderKey) {
        bits |= OS_DETAIL_PE_BUILDER;
    }
    if (facts.fundamentalsInstalled) {
        bits |= OS_DETAIL_FUNDAMENTALS;
    }
    if (facts.starter) {
        bits |= OS_DETAIL_STARTER;
    }
    if (facts.serverR2) {
        bits |= OS_DETAIL_SERVER_R2;
    }
    if (facts.tabletPc) {
        bits |= OS_DETAIL_TABLET_PC;
    }
    if (facts.mediaCenter) {
        bits |= OS_DETAIL_MEDIA_CENTER;
    }
    if (facts.remoteSession) {
        bits |= OS_DETAIL_REMOTE_SESSION;
    }
    bits |= MediaCenterIdentBits(facts.mediaCenterIdent);
    return bits;
}

int OsSatisfies(const OSVERSIONINFOW& version, OsVersionCode mask)
{
    const DWORD kernel = OsKernelWord(mask);
    switch (version.dwPlatformId) {
    case kPlatformWin32s:
        return (kernel & OS_WIN31) ? 1 : 0;
    case kPlatformDos:
        if (kernel & OS_DOS) {
            return 1;
        }
        return version.dwMajorVersion == 4 && (kernel & DosBitsSatisfied(version)) ? 1 : 0;
    case kPlatformNt:
        return NtSatisfies(version, kernel, OsDetailWord(mask));
    default:
        return 0;
    }
}

const wchar_t* DescribeOs(DWORD kernel, DWORD detail, wchar_t* buffer)
{
    if (kernel & OS_NT) {
        return DescribeNt(kernel, detail, buffer);
    }
    if (kernel & OS_DOS) {
        const wchar_t* name = DosName(kernel);
        if (name) {
            return name;
        }
        wsprintfW(buffer, L"unknown dos kernel 0x%X", kernel);
        return buffer;
    }
    if (kernel & OS_WIN31) {
        return L"Windows 3.1";
    }
    if (kernel & OS_CE) {
        if (kernel & OS_CE50) {
            return L"Windows CE 5.0";
        }
        if (kernel & OS_CE52) {
            return L"Windows CE 5.2";
        }
        wsprintfW(buffer, L"unknown ce kernel 0x%X", kernel);
        return buffer;
    }
    wsprintfW(buffer, L"unknown 0x%X", kernel);
    return buffer;
}

OsVersionCode GetOsKernel()
{
    OSVERSIONINFOW version;
    if (!ReadVersion(version)) {
        return 0;
    }
    return OsKernelFor(version);
}

OsVersionCode GetOsDetails()
{
    OsVersionCode code = GetOsKernel();
    if (!(OsKernelWord(code) & OS_NT)) {
        return code;
    }
    OsEditionFacts facts;

    OSVERSIONINFOEXW extended;
    ZeroMemory(&extended, sizeof(extended));
    extended.dwOSVersionInfoSize = sizeof(extended);
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&extended))) {
        facts.extended = &extended;
    }

    WideString productType;
    if (ReadStringValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions",
                        L"ProductType", productType, nullptr)) {
        facts.productType = productType.Data();
    }
    facts.miniNtKey = KeyExists(L"SYSTEM\\CurrentControlSet\\Control\\MiniNT");
    facts.peBuilderKey = KeyExists(L"SYSTEM\\CurrentControlSet\\Control\\PE Builder");
    facts.fundamentalsInstalled =
        ReadDwordValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\WPA\\Fundamentals", L"Installed", 0) == 1;

    facts.starter = GetSystemMetrics(SM_STARTER) != 0;
    facts.serverR2 = GetSystemMetrics(SM_SERVERR2) != 0;
    facts.tabletPc = GetSystemMetrics(SM_TABLETPC) != 0;
    facts.mediaCenter = GetSystemMetrics(SM_MEDIACENTER) != 0;
    facts.remoteSession = GetSystemMetrics(SM_REMOTESESSION) != 0;

    WideString ident;
    if (ReadStringValue(HKEY_LOCAL_MACHINE,
                        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center", L"Ident",
                        ident, nullptr)) {
        facts.mediaCenterIdent = ident.Data();
    }
    return code | MakeOsVersionCode(0, OsDetailBitsFor(facts));
}

int IsOsAtLeast(OsVersionCode mask)
{
    OSVERSIONINFOW version;
    if (!ReadVersion(version)) {
        return 0;
    }
    return OsSatisfies(version, mask);
}

DWORD GetCommonControlsVersion()
{
    DynamicLibrary comctl32(L"comctl32.dll");
    auto getVersion = comctl32.Symbol<DllGetVersionFunction>("DllGetVersion");
    if (!getVersion) {
        return 0;
    }
    ModuleVersionInfo info = {};
    info.size = sizeof(info);
    if (FAILED(getVersion(&info))) {
        return 0;
    }
    return (info.major << 16) | (info.minor & 0xFFFF);
}
