#pragma once

#include <windows.h>

// The running system's description: the low 32 bits are the kernel word,
// the high 32 bits the detail word. Both are sets of the bits below.
using OsVersionCode = ULONGLONG;

inline OsVersionCode MakeOsVersionCode(DWORD kernel, DWORD detail)
{
    return (static_cast<OsVersionCode>(detail) << 32) | kernel;
}
inline DWORD OsKernelWord(OsVersionCode code)
{
    return static_cast<DWORD>(code);
}
inline DWORD OsDetailWord(OsVersionCode code)
{
    return static_cast<DWORD>(code >> 32);
}

// Kernel word; also the version mask of IsOsAtLeast. shlwapi.h defines an
// IsOS selector OS_NT of the same value as a macro; the constant replaces it.
#ifdef OS_NT
#undef OS_NT
#endif
constexpr DWORD OS_NT = 0x1;
constexpr DWORD OS_DOS = 0x2;
constexpr DWORD OS_WIN31 = 0x4;
constexpr DWORD OS_CE = 0x8;
constexpr DWORD OS_WIN95 = 0x10;
constexpr DWORD OS_WIN98 = 0x20;
constexpr DWORD OS_WINME = 0x40;
constexpr DWORD OS_NT4 = 0x80;
constexpr DWORD OS_WIN2000 = 0x100;
constexpr DWORD OS_WINXP = 0x200;
constexpr DWORD OS_WIN95_OSR2 = 0x400;
constexpr DWORD OS_WIN98_SE = 0x800;
constexpr DWORD OS_WIN2003 = 0x1000;
constexpr DWORD OS_VISTA = 0x2000;
constexpr DWORD OS_WIN7 = 0x4000;
constexpr DWORD OS_CE50 = 0x8000;
constexpr DWORD OS_CE52 = 0x10000;
constexpr DWORD OS_WIN8 = 0x40000;

// Detail word. The service-pack bits are also the minimum service pack of
// an IsOsAtLeast mask.
constexpr DWORD OS_DETAIL_FUNDAMENTALS = 0x1;
constexpr DWORD OS_SP1 = 0x2;
constexpr DWORD OS_SP2 = 0x4;
constexpr DWORD OS_SP3 = 0x8;
constexpr DWORD OS_DETAIL_STARTER = 0x10;
constexpr DWORD OS_DETAIL_SERVER_R2 = 0x20;
constexpr DWORD OS_DETAIL_TABLET_PC = 0x40;
constexpr DWORD OS_DETAIL_MEDIA_CENTER = 0x80;
constexpr DWORD OS_DETAIL_MEDIA_CENTER_2004 = 0x100;
constexpr DWORD OS_DETAIL_MEDIA_CENTER_2005 = 0x200;
constexpr DWORD OS_DETAIL_MEDIA_CENTER_2005_EX = 0x400;
constexpr DWORD OS_DETAIL_MEDIA_CENTER_VISTA = 0x800;
constexpr DWORD OS_DETAIL_REMOTE_SESSION = 0x1000;
constexpr DWORD OS_DETAIL_PE_BUILDER = 0x2000;
constexpr DWORD OS_DETAIL_MININT = 0x4000;
constexpr DWORD OS_DETAIL_SERVER = 0x8000;
constexpr DWORD OS_DETAIL_ADVANCED_SERVER = 0x10000;
constexpr DWORD OS_DETAIL_DATACENTER = 0x80000;
constexpr DWORD OS_DETAIL_ENTERPRISE = 0x100000;
constexpr DWORD OS_DETAIL_EMBEDDED = 0x200000;
constexpr DWORD OS_DETAIL_HOME_EDITION = 0x400000;
constexpr DWORD OS_DETAIL_STORAGE_SERVER = 0x800000;
constexpr DWORD OS_DETAIL_TERMINAL_SERVICES = 0x1000000;
constexpr DWORD OS_DETAIL_HOME_SERVER = 0x2000000;
constexpr DWORD OS_DETAIL_DOMAIN_CONTROLLER = 0x4000000;

// Smallest buffer DescribeOs writes into, in wide characters.
constexpr unsigned OS_DESCRIPTION_CAPACITY = 255;

// Kernel word and service-pack bits of the running system; 0 when the
// version cannot be read.
OsVersionCode GetOsKernel();
// GetOsKernel with the edition and extra bits added (NT family only).
OsVersionCode GetOsDetails();
// One-line name of the system; answers the buffer (at least
// OS_DESCRIPTION_CAPACITY characters) or a constant text.
const wchar_t* DescribeOs(DWORD kernel, DWORD detail, wchar_t* buffer);
// mask: kernel bits of acceptable versions; its detail word may name a
// minimum service pack (OS_SP1, OS_SP2 or OS_SP3).
int IsOsAtLeast(OsVersionCode mask);
// (major << 16) | minor of comctl32.dll; 0 when unknown.
DWORD GetCommonControlsVersion();

// The decisions above as functions of plain values.

// Kernel word and service-pack bits for a version record.
OsVersionCode OsKernelFor(const OSVERSIONINFOW& version);

// What the system and its registry say about the edition.
struct OsEditionFacts
{
    const OSVERSIONINFOEXW* extended = nullptr; // null when unavailable
    const wchar_t* productType = nullptr;       // "ProductType"; null when unreadable
    bool miniNtKey = false;
    bool peBuilderKey = false;
    bool fundamentalsInstalled = false; // "Installed" equal to 1
    bool starter = false;               // the system metrics, non-zero
    bool serverR2 = false;
    bool tabletPc = false;
    bool mediaCenter = false;
    bool remoteSession = false;
    const wchar_t* mediaCenterIdent = nullptr; // "Ident"; null when unreadable
};
DWORD OsDetailBitsFor(const OsEditionFacts& facts);

// The at-least test for a version record.
int OsSatisfies(const OSVERSIONINFOW& version, OsVersionCode mask);
