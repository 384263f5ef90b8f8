#include "update/ZipFormat.h"

namespace {

constexpr WORD kExtendedTimestampId = 0x5455;
constexpr BYTE kHasModified = 0x01;
constexpr BYTE kHasAccessed = 0x02;
constexpr BYTE kHasCreated = 0x04;

// 100 ns units between 1601-01-01 and 1970-01-01.
constexpr LONGLONG kUnixEpochTicks = 116444736000000000LL;
constexpr LONGLONG kTicksPerSecond = 10000000LL;

WORD Word(const BYTE* data)
{
    return static_cast<WORD>(data[0] | (data[1] << 8));
}

DWORD Dword(const BYTE* data)
{
    return static_cast<DWORD>(data[0]) | (static_cast<DWORD>(data[1]) << 8) |
           (static_cast<DWORD>(data[2]) << 16) | (static_cast<DWORD>(data[3]) << 24);
}

FILETIME FileTimeFromTicks(ULONGLONG ticks)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

// Reads the times the field's flags announce, in order, as far as the
// field holds them.
void ReadUnixTimes(const BYTE* field, unsigned size, ZipUnixTimes& times)
{
    if (size < 1) {
        return;
    }
    const BYTE flags = field[0];
    unsigned position = 1;
    auto next = [&](bool wanted, bool& has, LONG& value) {
        if (!wanted || position + 4 > size) {
            return;
        }
        value = static_cast<LONG>(Dword(field + position));
        has = true;
        position += 4;
    };
    next((flags & kHasModified) != 0, times.hasModified, times.modified);
    next((flags & kHasAccessed) != 0, times.hasAccessed, times.accessed);
    next((flags & kHasCreated) != 0, times.hasCreated, times.created);
}

} // namespace

int FindZipEndRecord(const BYTE* tail, unsigned size, unsigned& offset)
{
    if (size < ZIP_END_RECORD_SIZE) {
        return 0;
    }
    for (unsigned at = size - ZIP_END_RECORD_SIZE + 1; at-- > 0;) {
        if (Dword(tail + at) != ZIP_END_SIGNATURE) {
            continue;
        }
        const unsigned commentLength = Word(tail + at + 20);
        if (at + ZIP_END_RECORD_SIZE + commentLength <= size) {
            offset = at;
            return 1;
        }
    }
    return 0;
}

int ReadZipEndRecord(const BYTE* data, unsigned size, ZipEndRecord& record)
{
    if (size < ZIP_END_RECORD_SIZE || Dword(data) != ZIP_END_SIGNATURE) {
        return 0;
    }
    ZipEndRecord read;
    read.diskNumber = Word(data + 4);
    read.directoryDisk = Word(data + 6);
    read.entriesOnDisk = Word(data + 8);
    read.entries = Word(data + 10);
    read.directorySize = Dword(data + 12);
    read.directoryOffset = Dword(data + 16);
    read.commentLength = Word(data + 20);
    record = read;
    return 1;
}

int ReadZipCentralEntry(const BYTE* data, unsigned size, ZipCentralEntry& entry)
{
    if (size < ZIP_CENTRAL_HEADER_SIZE || Dword(data) != ZIP_CENTRAL_SIGNATURE) {
        return 0;
    }
    const unsigned nameLength = Word(data + 28);
    const unsigned extraLength = Word(data + 30);
    const unsigned commentLength = Word(data + 32);
    const unsigned total = ZIP_CENTRAL_HEADER_SIZE + nameLength + extraLength + commentLength;
    if (total > size) {
        return 0;
    }
    ZipCentralEntry read;
    read.hostSystem = data[5];
    read.flags = Word(data + 8);
    read.method = Word(data + 10);
    read.dosTime = Word(data + 12);
    read.dosDate = Word(data + 14);
    read.crc32 = Dword(data + 16);
    read.compressedSize = Dword(data + 20);
    read.uncompressedSize = Dword(data + 24);
    read.externalAttributes = Dword(data + 38);
    read.localHeaderOffset = Dword(data + 42);
    read.name = reinterpret_cast<const char*>(data + ZIP_CENTRAL_HEADER_SIZE);
    read.nameLength = nameLength;
    read.extra = data + ZIP_CENTRAL_HEADER_SIZE + nameLength;
    read.extraLength = extraLength;
    read.recordSize = total;
    entry = read;
    return 1;
}

int ReadZipLocalHeader(const BYTE* data, unsigned size, unsigned& nameLength, unsigned& extraLength)
{
    if (size < ZIP_LOCAL_HEADER_SIZE || Dword(data) != ZIP_LOCAL_SIGNATURE) {
        return 0;
    }
    nameLength = Word(data + 26);
    extraLength = Word(data + 28);
    return 1;
}

int FindZipUnixTimes(const BYTE* extra, unsigned size, ZipUnixTimes& times)
{
    unsigned position = 0;
    while (extra && position + 4 <= size) {
        const WORD id = Word(extra + position);
        const unsigned length = Word(extra + position + 2);
        const unsigned body = position + 4;
        if (body + length > size) {
            return 0;
        }
        if (id == kExtendedTimestampId) {
            ZipUnixTimes read;
            ReadUnixTimes(extra + body, length, read);
            if (!read.hasModified) {
                return 0;
            }
            times = read;
            return 1;
        }
        position = body + length;
    }
    return 0;
}

FILETIME UnixTimeToFileTime(LONG seconds)
{
    return FileTimeFromTicks(
        static_cast<ULONGLONG>(kUnixEpochTicks + static_cast<LONGLONG>(seconds) * kTicksPerSecond));
}

int DosDateTimeToSystemTime(WORD dosDate, WORD dosTime, SYSTEMTIME& time)
{
    SYSTEMTIME read = {};
    read.wYear = static_cast<WORD>(1980 + (dosDate >> 9));
    read.wMonth = static_cast<WORD>((dosDate >> 5) & 15);
    read.wDay = static_cast<WORD>(dosDate & 31);
    read.wHour = static_cast<WORD>(dosTime >> 11);
    read.wMinute = static_cast<WORD>((dosTime >> 5) & 63);
    read.wSecond = static_cast<WORD>((dosTime & 31) * 2);
    if (read.wMonth < 1 || read.wMonth > 12 || read.wDay < 1 || read.wHour > 23 ||
        read.wMinute > 59 || read.wSecond > 59) {
        return 0;
    }
    time = read;
    return 1;
}

FILETIME RoundUpToFatTime(FILETIME time)
{
    const ULONGLONG step = 2 * kTicksPerSecond;
    ULONGLONG ticks = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    ticks = (ticks + step - 1) / step * step;
    return FileTimeFromTicks(ticks);
}
