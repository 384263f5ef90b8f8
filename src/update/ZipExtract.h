#pragma once

#include <windows.h>

// Result codes of an extraction; the worst one met is the overall result.
constexpr int ZIP_OK = 0;
constexpr int ZIP_WARNING = 1;           // an entry was skipped (method, password)
constexpr int ZIP_ARCHIVE_ERROR = 2;     // CRC-32 mismatch, bad data, refused name
constexpr int ZIP_SEVERE_ERROR = 3;      // the decoder could not be set up
constexpr int ZIP_NO_MEMORY = 4;         // work buffers could not be allocated
constexpr int ZIP_NOT_FOUND = 9;         // archive missing or not a ZIP file
constexpr int ZIP_NO_MATCH = 11;         // no entry matched
constexpr int ZIP_DISK_FULL = 50;        // no room, or an output could not be created
constexpr int ZIP_END_OF_ARCHIVE = 51;   // an entry's data lies beyond the archive's end
constexpr int ZIP_INTERRUPTED = 80;      // extraction interrupted
constexpr int ZIP_ALL_UNSUPPORTED = 81;  // no entry had a method that can be extracted
constexpr int ZIP_ALL_BAD_PASSWORD = 82; // every entry was encrypted

// Unpacks every entry of the archive into the folder (trailing backslash),
// both in the ANSI code page, overwriting existing files. When the archive
// is not found under its name, the name with ".zip" appended is tried.
// Answers 1 when everything was extracted, else 0.
int ExtractZip(const char* archivePath, const char* targetFolder);

// The same with wide paths, answering the result code.
int ExtractZipArchive(const wchar_t* archivePath, const wchar_t* targetFolder);

// Asked before each entry's file is written, whether or not it exists; 0
// refuses the entry (counted as a disk error).
struct ZipWriteHook
{
    int (*beforeWrite)(const wchar_t* path, void* context);
    void* context;
};

// Unpacks the archive file the caller holds open (read access), so what is
// unpacked is exactly the file the caller checked; no other name is tried.
// The hook may be null. Answers the result code.
int ExtractHeldZipArchive(HANDLE archive, const wchar_t* targetFolder, const ZipWriteHook* hook);

// What the target volume allows, from its maximum component length and its
// file-system name.
struct ZipVolumeTraits
{
    bool shortNamesOnly = false; // 8.3 names: spaces become underscores
    bool fatTimes = false;       // times stored in 2-second steps
};
ZipVolumeTraits ZipVolumeTraitsFor(DWORD maximumComponentLength, const wchar_t* fileSystemName);

// The code page an entry name is stored in: UTF-8 when flagged, the OEM
// page for names made on DOS, OS/2 and Windows file systems, else ANSI.
UINT ZipNameCodePage(WORD flags, BYTE hostSystem);
