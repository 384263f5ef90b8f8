#include "system/SystemInfo.h"

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

DWORD MultimediaTime()
{
    // winmm is not linked; it is looked up once and kept for the process.
    using TimeGetTimeFunction = DWORD(WINAPI*)();
    static DynamicLibrary winmm(L"winmm.dll");
    static const TimeGetTimeFunction timeGetTime = winmm.Symbol<TimeGetTimeFunction>("timeGetTime");
    return timeGetTime ? timeGetTime() : GetTickCount();
}

int CALLBACK StopAtFirstFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found)
{
    *reinterpret_cast<int*>(found) = 1;
    return 0;
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

ULONGLONG GetTickCount64Ms()
{
    using GetTickCount64Function = ULONGLONG(WINAPI*)();
    static DynamicLibrary kernel32(L"kernel32.dll");
    static const GetTickCount64Function getTickCount64 =
        kernel32.Symbol<GetTickCount64Function>("GetTickCount64");
    return getTickCount64 ? getTickCount64() : static_cast<ULONGLONG>(GetTickCount());
}

ULONGLONG ClockDifference(DWORD start, DWORD now)
{
    // Unsigned 32-bit arithmetic stays right when the clock wrapped once.
    return static_cast<DWORD>(now - start);
}

void Stopwatch::Start()
{
    start_ = MultimediaTime();
}

ULONGLONG Stopwatch::Elapsed()
{
    elapsed_ = ClockDifference(static_cast<DWORD>(start_), MultimediaTime());
    return elapsed_;
}

LANGID GetLanguageId(int user, int ui)
{
    if (ui != 1) {
        return user == 1 ? GetUserDefaultLangID() : GetSystemDefaultLangID();
    }
    using UiLanguageFunction = LANGID(WINAPI*)();
    DynamicLibrary kernel32(L"kernel32.dll");
    auto uiLanguage = kernel32.Symbol<UiLanguageFunction>(user == 1 ? "GetUserDefaultUILanguage"
                                                                    : "GetSystemDefaultUILanguage");
    return uiLanguage ? uiLanguage() : MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL);
}

int FontFamilyExists(const wchar_t* face, BYTE charSet, HDC dc)
{
    if (!face) {
        return 0;
    }
    if (!dc) {
        ScreenDc screen;
        return screen.Get() ? FontFamilyExists(face, charSet, screen.Get()) : 0;
    }
    LOGFONTW font;
    ZeroMemory(&font, sizeof(font));
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    font.lfCharSet = charSet;
    font.lfPitchAndFamily = 0;

    int found = 0;
    EnumFontFamiliesExW(dc, &font, StopAtFirstFamily, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

int SolidBrush::Create(COLORREF colour)
{
    ScopedBrush brush(CreateSolidBrush(colour));
    if (!brush) {
        return 0;
    }
    brush_ = std::move(brush);
    colour_ = colour;
    return 1;
}

HBRUSH SolidBrush::ForControl(HDC dc)
{
    SetBkColor(dc, colour_);
    return brush_.Get();
}

void SolidBrush::Delete()
{
    brush_.Reset();
}

bool IsWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
