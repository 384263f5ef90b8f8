#pragma once

#include <windows.h>

// The records of a ZIP archive (PKWARE application note) read from plain
// byte buffers. Every reader checks its bounds and answers 1 or 0.

constexpr DWORD ZIP_LOCAL_SIGNATURE = 0x04034B50;
constexpr DWORD ZIP_CENTRAL_SIGNATURE = 0x02014B50;
constexpr DWORD ZIP_END_SIGNATURE = 0x06054B50;

constexpr unsigned ZIP_LOCAL_HEADER_SIZE = 30;
constexpr unsigned ZIP_CENTRAL_HEADER_SIZE = 46;
constexpr unsigned ZIP_END_RECORD_SIZE = 22;
// The end record may be followed by a comment of up to 65535 bytes.
constexpr unsigned ZIP_END_SEARCH_SIZE = ZIP_END_RECORD_SIZE + 0xFFFF;

// General-purpose flag bits.
constexpr WORD ZIP_FLAG_ENCRYPTED = 0x0001;
constexpr WORD ZIP_FLAG_IMPLODE_8K = 0x0002;
constexpr WORD ZIP_FLAG_IMPLODE_3_TREES = 0x0004;
constexpr WORD ZIP_FLAG_STRONG_ENCRYPTION = 0x0040;
constexpr WORD ZIP_FLAG_UTF8 = 0x0800;

// Compression methods.
constexpr WORD ZIP_METHOD_STORED = 0;
constexpr WORD ZIP_METHOD_IMPLODED = 6;
constexpr WORD ZIP_METHOD_DEFLATED = 8;

// The archive-wide facts of the end-of-central-directory record.
struct ZipEndRecord
{
    DWORD diskNumber = 0;
    DWORD directoryDisk = 0;
    DWORD entriesOnDisk = 0;
    DWORD entries = 0;
    DWORD directorySize = 0;
    DWORD directoryOffset = 0;
    DWORD commentLength = 0;
};

// One central-directory entry; name and extra point into the caller's
// buffer.
struct ZipCentralEntry
{
    BYTE hostSystem = 0; // high byte of "version made by"
    WORD flags = 0;
    WORD method = 0;
    WORD dosTime = 0;
    WORD dosDate = 0;
    DWORD crc32 = 0;
    DWORD compressedSize = 0;
    DWORD uncompressedSize = 0;
    DWORD externalAttributes = 0;
    DWORD localHeaderOffset = 0;
    const char* name = nullptr;
    unsigned nameLength = 0;
    const BYTE* extra = nullptr;
    unsigned extraLength = 0;
    unsigned recordSize = 0; // fixed part, name, extra and comment
};

// The times of an extended time-stamp extra field, in Unix seconds.
struct ZipUnixTimes
{
    bool hasModified = false;
    bool hasAccessed = false;
    bool hasCreated = false;
    LONG modified = 0;
    LONG accessed = 0;
    LONG created = 0;
};

// Finds the last end record in the archive's tail; the offset is relative
// to the tail's start. A record counts only when its comment fits the tail.
int FindZipEndRecord(const BYTE* tail, unsigned size, unsigned& offset);
int ReadZipEndRecord(const BYTE* data, unsigned size, ZipEndRecord& record);
int ReadZipCentralEntry(const BYTE* data, unsigned size, ZipCentralEntry& entry);
// The lengths of a local header's name and extra field, which decide where
// the entry's data begins.
int ReadZipLocalHeader(const BYTE* data, unsigned size, unsigned& nameLength,
                       unsigned& extraLength);
// Looks for the extended time-stamp field (id 0x5455) in an extra field.
int FindZipUnixTimes(const BYTE* extra, unsigned size, ZipUnixTimes& times);

// Unix seconds as a FILETIME (100 ns units since 1601).
FILETIME UnixTimeToFileTime(LONG seconds);
// The DOS date and time fields as a calendar time (no zone); 0 when a field
// is out of range.
int DosDateTimeToSystemTime(WORD dosDate, WORD dosTime, SYSTEMTIME& time);
// Rounds up to the 2-second steps a FAT volume stores.
FILETIME RoundUpToFatTime(FILETIME time);
