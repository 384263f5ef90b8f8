#include "update/UpdateRules.h"

#include <string.h>
#include <wchar.h>

#include "system/Files.h"
#include "system/ModuleVersion.h"

CheckSchedule ScheduleCheck(DWORD lastCheck, DWORD now)
{
    if (lastCheck == UPDATE_SKIP_NEXT_CHECK) {
        return CheckSchedule::SkipOnce;
    }
    // In 64 bits: a stored time near the end of the 32-bit range must not
    // wrap round to an early one.
    unsigned long long due = static_cast<unsigned long long>(lastCheck) + UPDATE_CHECK_INTERVAL;
    return lastCheck <= now && due >= now ? CheckSchedule::NotDue : CheckSchedule::Due;
}

DWORD UnixTimeOf(const FILETIME& time)
{
    // 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
    constexpr unsigned long long kEpochDifference = 116444736000000000ULL;
    unsigned long long ticks =
        (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return ticks < kEpochDifference ? 0
                                    : static_cast<DWORD>((ticks - kEpochDifference) / 10000000ULL);
}

int IsNewerVersion(unsigned offeredMajor, unsigned offeredMinor, unsigned major, unsigned minor)
{
    return offeredMajor > major || (offeredMajor == major && offeredMinor > minor);
}

int ParseOfferedVersion(const wchar_t* text, unsigned& major, unsigned& minor)
{
    unsigned parsedMajor = 0;
    unsigned parsedMinor = 0;
    if (!text || ParseVersionText(text, parsedMajor, parsedMinor) != 2) {
        return 0;
    }
    major = parsedMajor;
    minor = parsedMinor;
    return 1;
}

wchar_t RequestSeparator(const wchar_t* baseUrl)
{
    return baseUrl && wcschr(baseUrl, L'?') ? L'&' : L'?';
}

int BuildPlainRequest(const wchar_t* baseUrl, const wchar_t* version, const wchar_t* machineId,
                      WideString& request)
{
    return Format(request, L"%s%cv=%s&id=%s", baseUrl, RequestSeparator(baseUrl), version,
                  machineId);
}

int BuildInventoryRequest(const InventoryRequest& inventory, WideString& request)
{
    return Format(request,
                  L"%s%ca=updates&d=0&f=16&l=%s&g=%s&i=<Elmstead><Inventory><Item Type=\"%s\" "
                  L"Name=\"%s\" Version=\"%s\" /></Inventory></Elmstead>",
                  inventory.baseUrl, RequestSeparator(inventory.baseUrl), inventory.language,
                  inventory.machineId, inventory.itemType,
                  inventory.itemName ? inventory.itemName : L"", inventory.version);
}

int RepairUtf8(const WideString& found, WideString& repaired)
{
    if (found.IsEmpty()) {
        return repaired.Assign(L"");
    }
    return found.DecodeUtf8Into(repaired);
}

namespace {

// Where the extension of the name's last component starts, or -1.
int ExtensionStart(const wchar_t* name, size_t length)
{
    for (size_t i = length; i-- > 0;) {
        wchar_t unit = name[i];
        if (unit == L'\\' || unit == L'/') {
            return -1;
        }
        if (unit != L'.') {
            continue;
        }
        wchar_t next = name[i + 1];
        if (next != L' ' && next != L'/' && next != L'\\') {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace

int DecorateFileName(const wchar_t* name, const wchar_t* suffix, WideString& decorated)
{
    size_t length = wcslen(name);
    int dot = ExtensionStart(name, length);
    WideString result;
    if (dot < 0) {
        return Format(decorated, L"%s%s", name, suffix);
    }
    const wchar_t* query = wcschr(name + dot, L'?');
    size_t extensionEnd = query ? static_cast<size_t>(query - name) : length;
    WideString extension;
    extension.Assign(name + dot, static_cast<unsigned>(extensionEnd - dot));
    bool shortExtension = static_cast<size_t>(dot) + 4 >= length;
    if (shortExtension) {
        result.Assign(name, static_cast<unsigned>(dot));
    } else {
        result.Assign(name);
    }
    if (!result.Append(suffix) || !result.Append(extension)) {
        return 0;
    }
    return decorated.Assign(result);
}

int ProgramFileName(const wchar_t* address, WideString& fileName)
{
    const wchar_t* equals = wcschr(address, L'=');
    const wchar_t* part = equals ? equals + 1 : address;
    const wchar_t* slash = wcsrchr(part, L'/');
    const wchar_t* backslash = wcsrchr(part, L'\\');
    const wchar_t* last = slash > backslash ? slash : backslash;
    const wchar_t* file = last ? last + 1 : part;
    if (!IsContainedRelativeName(file) || wcscmp(file, L".") == 0) {
        return 0;
    }
    return fileName.Assign(file);
}

namespace {

const wchar_t kRefusedInNames[] = L"<>\"|?*:";

int IsDeviceName(const wchar_t* component, size_t length)
{
    // The device is the part before the first dot: "NUL.txt" is NUL too.
    const wchar_t* dot = wcschr(component, L'.');
    size_t stem = dot && static_cast<size_t>(dot - component) < length
                      ? static_cast<size_t>(dot - component)
                      : length;
    static const wchar_t* const kDevices[] = {L"CON",    L"PRN",     L"AUX",   L"NUL",
                                              L"CONIN$", L"CONOUT$", L"CLOCK$"};
    for (const wchar_t* device : kDevices) {
        if (stem == wcslen(device) && _wcsnicmp(component, device, stem) == 0) {
            return 1;
        }
    }
    const bool numbered = stem == 4 && component[3] >= L'0' && component[3] <= L'9';
    return numbered &&
           (_wcsnicmp(component, L"COM", 3) == 0 || _wcsnicmp(component, L"LPT", 3) == 0);
}

int IsPlainComponent(const wchar_t* component, size_t length)
{
    if (length == 0 || component[length - 1] == L'.' || component[length - 1] == L' ') {
        return 0;
    }
    for (size_t i = 0; i < length; ++i) {
        if (component[i] < 0x20 || wcschr(kRefusedInNames, component[i])) {
            return 0;
        }
    }
    return !IsDeviceName(component, length);
}

int BeginsWithNoCase(const wchar_t* text, const wchar_t* prefix)
{
    return _wcsnicmp(text, prefix, wcslen(prefix)) == 0;
}

} // namespace

int IsContainedRelativeName(const wchar_t* name)
{
    if (!name || !*name) {
        return 0;
    }
    const wchar_t* component = name;
    while (true) {
        size_t length = wcscspn(component, L"\\/");
        if (!IsPlainComponent(component, length)) {
            return 0;
        }
        if (!component[length]) {
            return 1;
        }
        component += length + 1;
    }
}

int IsWebAddress(const wchar_t* address)
{
    if (!address ||
        !(BeginsWithNoCase(address, L"http://") || BeginsWithNoCase(address, L"https://"))) {
        return 0;
    }
    for (const wchar_t* unit = address; *unit; ++unit) {
        if (*unit <= L' ' || *unit == L'"' || *unit == 0x7F) {
            return 0;
        }
    }
    return 1;
}

int BytesOfWidenedText(const WideString& text, std::string& bytes)
{
    std::string result;
    result.reserve(text.Length());
    const wchar_t* data = text.Data();
    for (unsigned i = 0; i < text.Length(); ++i) {
        if (data[i] > 0xFF) {
            return 0;
        }
        result += static_cast<char>(data[i]);
    }
    bytes.swap(result);
    return 1;
}

namespace {

// Exactly count digits at text; the number they make.
int ReadDigits(const wchar_t* text, unsigned count, unsigned& value)
{
    unsigned number = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (text[i] < L'0' || text[i] > L'9') {
            return 0;
        }
        number = number * 10 + (text[i] - L'0');
    }
    value = number;
    return 1;
}

int IsLeapYear(unsigned year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(unsigned year, unsigned month)
{
    static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the first day of the date's month, plus its day.
unsigned long long DaysSinceEpoch(unsigned year, unsigned month, unsigned day)
{
    unsigned long long days = 0;
    for (unsigned y = 1970; y < year; ++y) {
        days += IsLeapYear(y) ? 366 : 365;
    }
    for (unsigned m = 1; m < month; ++m) {
        days += DaysInMonth(year, m);
    }
    return days + day - 1;
}

} // namespace

int ParseUtcTimestamp(const wchar_t* text, unsigned long long& seconds)
{
    unsigned year, month, day, hour, minute, second;
    if (!text || wcslen(text) != 20 || text[4] != L'-' || text[7] != L'-' || text[10] != L'T' ||
        text[13] != L':' || text[16] != L':' || text[19] != L'Z' || !ReadDigits(text, 4, year) ||
        !ReadDigits(text + 5, 2, month) || !ReadDigits(text + 8, 2, day) ||
        !ReadDigits(text + 11, 2, hour) || !ReadDigits(text + 14, 2, minute) ||
        !ReadDigits(text + 17, 2, second)) {
        return 0;
    }
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 59) {
        return 0;
    }
    seconds =
        DaysSinceEpoch(year, month, day) * 86400ULL + hour * 3600ULL + minute * 60ULL + second;
    return 1;
}

int ParseAnswerSerial(const wchar_t* text, DWORD& serial)
{
    if (!text || !*text) {
        return 0;
    }
    unsigned long long number = 0;
    for (const wchar_t* digit = text; *digit; ++digit) {
        if (*digit < L'0' || *digit > L'9') {
            return 0;
        }
        number = number * 10 + (*digit - L'0');
        if (number > 0xFFFFFFFFULL) {
            return 0;
        }
    }
    if (!number) {
        return 0;
    }
    serial = static_cast<DWORD>(number);
    return 1;
}

int ParseFileSize(const wchar_t* text, ULONGLONG& size)
{
    DWORD parsed = 0;
    if (!ParseAnswerSerial(text, parsed)) {
        return 0;
    }
    size = parsed;
    return 1;
}

AnswerVerdict JudgeAnswerClaims(const AnswerClaims& claims, const wchar_t* application,
                                const wchar_t* platform, unsigned long long now,
                                DWORD highestSerial, DWORD& serial)
{
    unsigned long long expires = 0;
    DWORD claimed = 0;
    if (!claims.application || !claims.platform || !ParseUtcTimestamp(claims.expires, expires) ||
        !ParseAnswerSerial(claims.serial, claimed)) {
        return AnswerVerdict::Incomplete;
    }
    if (wcscmp(claims.application, application) != 0) {
        return AnswerVerdict::OtherApplication;
    }
    if (wcscmp(claims.platform, platform) != 0) {
        return AnswerVerdict::OtherPlatform;
    }
    if (expires < now) {
        return AnswerVerdict::Expired;
    }
    if (claimed < highestSerial) {
        return AnswerVerdict::Replayed;
    }
    serial = claimed;
    return AnswerVerdict::Accepted;
}

int IsUsableProgram(const wchar_t* path, const wchar_t* folder, int versionRead, unsigned major,
                    unsigned minor)
{
    size_t folderLength = folder ? wcslen(folder) : 0;
    return path && *path && folderLength && folder[folderLength - 1] == L'\\' && versionRead &&
           (major || minor);
}

// ---------------------------------------------------------------------------
// SHA-256 (FIPS 180-4).

namespace {

const DWORD kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline DWORD RotateRight(DWORD value, int count)
{
    return (value >> count) | (value << (32 - count));
}

int HexValue(wchar_t unit)
{
    if (unit >= L'0' && unit <= L'9') {
        return unit - L'0';
    }
    if (unit >= L'a' && unit <= L'f') {
        return unit - L'a' + 10;
    }
    if (unit >= L'A' && unit <= L'F') {
        return unit - L'A' + 10;
    }
    return -1;
}

} // namespace

Sha256::Sha256()
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19}
{
}

void Sha256::Block(const BYTE* block)
{
    DWORD w[64];
    for (int i = 0; i < 16; ++i) {
        w[i] = (DWORD(block[i * 4]) << 24) | (DWORD(block[i * 4 + 1]) << 16) |
               (DWORD(block[i * 4 + 2]) << 8) | DWORD(block[i * 4 + 3]);
    }
    for (int i = 16; i < 64; ++i) {
        DWORD s0 = RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
        DWORD s1 = RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    DWORD a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    DWORD e = state_[4], f = state_[5], g = state_[6], h = state_[7];
    for (int i = 0; i < 64; ++i) {
        DWORD s1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
        DWORD choice = (e & f) ^ (~e & g);
        DWORD t1 = h + s1 + choice + kRoundConstants[i] + w[i];
        DWORD s0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
        DWORD majority = (a & b) ^ (a & c) ^ (b & c);
        DWORD t2 = s0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
    state_[5] += f;
    state_[6] += g;
    state_[7] += h;
}

void Sha256::Add(const void* data, size_t size)
{
    const BYTE* bytes = static_cast<const BYTE*>(data);
    totalSize_ += size;
    while (size) {
        size_t take = sizeof(pending_) - pendingSize_;
        if (take > size) {
            take = size;
        }
        memcpy(pending_ + pendingSize_, bytes, take);
        pendingSize_ += take;
        bytes += take;
        size -= take;
        if (pendingSize_ == sizeof(pending_)) {
            Block(pending_);
            pendingSize_ = 0;
        }
    }
}

void Sha256::Finish(BYTE (&digest)[SHA256_SIZE])
{
    unsigned long long bits = totalSize_ * 8;
    const BYTE marker = 0x80;
    const BYTE zero = 0;
    Add(&marker, 1);
    while (pendingSize_ != 56) {
        Add(&zero, 1);
    }
    BYTE length[8];
    for (int i = 0; i < 8; ++i) {
        length[i] = static_cast<BYTE>(bits >> (56 - 8 * i));
    }
    Add(length, sizeof(length));
    for (int i = 0; i < 8; ++i) {
        for (int j = 0; j < 4; ++j) {
            digest[i * 4 + j] = static_cast<BYTE>(state_[i] >> (24 - 8 * j));
        }
    }
}

void Sha256Of(const void* data, size_t size, BYTE (&digest)[SHA256_SIZE])
{
    Sha256 hash;
    hash.Add(data, size);
    hash.Finish(digest);
}

int Sha256OfFile(const wchar_t* path, BYTE (&digest)[SHA256_SIZE])
{
    FileObject file;
    return file.Open(path, FILE_MODE_READ, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ) &&
           Sha256OfOpenFile(file.Handle(), digest);
}

int Sha256OfOpenFile(HANDLE file, BYTE (&digest)[SHA256_SIZE])
{
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return 0;
    }
    Sha256 hash;
    BYTE buffer[65536];
    DWORD read = 0;
    do {
        if (!ReadFile(file, buffer, sizeof(buffer), &read, nullptr)) {
            return 0;
        }
        hash.Add(buffer, read);
    } while (read);
    hash.Finish(digest);
    return 1;
}

int DigestMatchesText(const BYTE (&digest)[SHA256_SIZE], const wchar_t* text)
{
    if (!text || wcslen(text) != SHA256_SIZE * 2) {
        return 0;
    }
    int same = 1;
    for (unsigned i = 0; i < SHA256_SIZE; ++i) {
        int high = HexValue(text[i * 2]);
        int low = HexValue(text[i * 2 + 1]);
        if (high < 0 || low < 0) {
            return 0;
        }
        same &= (high * 16 + low) == digest[i];
    }
    return same;
}
