#pragma once

#include <windows.h>

#include <string>

#include "base/WideString.h"

// Decisions of the update check and installation, as functions of plain
// values.

// Seconds between two scheduled checks (one week).
constexpr DWORD UPDATE_CHECK_INTERVAL = 604800;
// A LastCheck of this value skips the next scheduled check once.
constexpr DWORD UPDATE_SKIP_NEXT_CHECK = 0xFFFFFFFF;

enum class CheckSchedule
{
    SkipOnce, // write 0 to LastCheck, no check
    NotDue,   // no check, nothing written
    Due,      // write the current time to LastCheck, then check
};

// lastCheck is the stored value (0 when absent); now in seconds since 1970.
// A time after now (a clock set back, a bad value) counts as due, so it
// cannot silence the checks for years.
CheckSchedule ScheduleCheck(DWORD lastCheck, DWORD now);

// Seconds since 1970-01-01 00:00 UTC of a FILETIME.
DWORD UnixTimeOf(const FILETIME& time);

// 1 when the offered version is newer than the application's.
int IsNewerVersion(unsigned offeredMajor, unsigned offeredMinor, unsigned major, unsigned minor);
// "%u.%u": 1 only when both numbers are present.
int ParseOfferedVersion(const wchar_t* text, unsigned& major, unsigned& minor);

// "&" when the base address already carries a query, else "?".
wchar_t RequestSeparator(const wchar_t* baseUrl);
// base?v=<version>&id=<machine id>
int BuildPlainRequest(const wchar_t* baseUrl, const wchar_t* version, const wchar_t* machineId,
                      WideString& request);
// What the inventory form of the request names: the machine, its user's
// language and the one item asked about.
struct InventoryRequest
{
    const wchar_t* baseUrl = nullptr;
    const wchar_t* language = nullptr;
    const wchar_t* machineId = nullptr;
    const wchar_t* itemType = nullptr;
    const wchar_t* itemName = nullptr; // null: empty
    const wchar_t* version = nullptr;
};
// base?a=updates&d=0&f=16&l=<language>&g=<machine id>&i=<Elmstead>...
int BuildInventoryRequest(const InventoryRequest& inventory, WideString& request);

// A localised answer text whose characters each carry one byte of UTF-8.
int RepairUtf8(const WideString& found, WideString& repaired);

// The name with "_new" or "_old" before its extension, or, for extensions
// longer than three characters, at the end with the extension repeated
// (page.html gives page.html_new.html). Only the last path component's
// extension counts.
int DecorateFileName(const wchar_t* name, const wchar_t* suffix, WideString& decorated);

// The file part of a download address: after the last slash or backslash,
// taken from the part after the first "=" when there is one. 0 when that
// leaves no usable file name.
int ProgramFileName(const wchar_t* address, WideString& fileName);

// 1 when a name from the answer stays inside the folder it is joined to and
// names one plain file there: not empty, no leading slash or backslash
// (absolute or UNC), no colon (drive or stream), none of the characters
// Windows refuses in names, and no component that is empty, made only of
// dots and spaces ("..", ". "), ends in a dot or space (Windows drops them,
// so two names could mean one file) or is a device name (CON, NUL, COM1,
// LPT1..., also with an extension).
int IsContainedRelativeName(const wchar_t* name);

// 1 for an http:// or https:// address without spaces, quotes or control
// characters: the only help links the updater opens.
int IsWebAddress(const wchar_t* address);

// The largest update answer taken (1 MiB); a longer one is no answer.
constexpr unsigned UPDATE_ANSWER_LIMIT = 1024 * 1024;
// The bytes of a text whose characters each carry one byte (as HttpClient
// delivers a body); 0 for a character above 0xFF.
int BytesOfWidenedText(const WideString& text, std::string& bytes);

// What a signed answer says about itself: whom it is for and how fresh it
// is. Only builds with keys require it.
struct AnswerClaims
{
    const wchar_t* application = nullptr; // null when the element is missing
    const wchar_t* platform = nullptr;
    const wchar_t* expires = nullptr;
    const wchar_t* serial = nullptr;
};

enum class AnswerVerdict
{
    Accepted,
    Incomplete,       // an element missing or unreadable
    OtherApplication, // signed for another product
    OtherPlatform,    // signed for another build of this product
    Expired,          // its expiry lies in the past
    Replayed,         // its serial is lower than one accepted before
};

// The platform name this build's answers must carry.
#ifdef _WIN64
constexpr wchar_t UPDATE_PLATFORM[] = L"win64";
#else
constexpr wchar_t UPDATE_PLATFORM[] = L"win32";
#endif

// "YYYY-MM-DDTHH:MM:SSZ" (UTC) as seconds since 1970; 0 for anything else,
// including dates that do not exist.
int ParseUtcTimestamp(const wchar_t* text, unsigned long long& seconds);
// A positive decimal number that fits in 32 bits, digits only.
int ParseAnswerSerial(const wchar_t* text, DWORD& serial);
// now in seconds since 1970; highestSerial is the highest serial accepted
// so far (0 before the first). An answer is accepted up to the second it
// expires; one with the highest serial again is a re-check and accepted.
AnswerVerdict JudgeAnswerClaims(const AnswerClaims& claims, const wchar_t* application,
                                const wchar_t* platform, unsigned long long now,
                                DWORD highestSerial, DWORD& serial);

// The `size` of a file in the answer: a positive decimal number of bytes
// that fits in 32 bits.
int ParseFileSize(const wchar_t* text, ULONGLONG& size);
// The largest download of a build without keys, whose answer names no
// sizes (512 MiB).
constexpr ULONGLONG UPDATE_KEYLESS_SIZE_CAP = 512ULL * 1024 * 1024;

// Whether the running program can take part in a check: its path and folder
// are known and its version was read and is not 0.0.
int IsUsableProgram(const wchar_t* path, const wchar_t* folder, int versionRead, unsigned major,
                    unsigned minor);

// SHA-256 of a block, and of a file read in pieces.
constexpr unsigned SHA256_SIZE = 32;
class Sha256
{
public:
    Sha256();
    void Add(const void* data, size_t size);
    void Finish(BYTE (&digest)[SHA256_SIZE]);

private:
    void Block(const BYTE* block);

    DWORD state_[8];
    BYTE pending_[64];
    size_t pendingSize_ = 0;
    unsigned long long totalSize_ = 0;
};
void Sha256Of(const void* data, size_t size, BYTE (&digest)[SHA256_SIZE]);
int Sha256OfFile(const wchar_t* path, BYTE (&digest)[SHA256_SIZE]);
// The digest of an open file's whole content, read from its start.
int Sha256OfOpenFile(HANDLE file, BYTE (&digest)[SHA256_SIZE]);
// Compares a digest with its hexadecimal text (either case); 0 for text
// that is not 64 hexadecimal digits.
int DigestMatchesText(const BYTE (&digest)[SHA256_SIZE], const wchar_t* text);
