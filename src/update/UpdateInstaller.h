#pragma once

#include <windows.h>
#include <deque>

#include "base/WideString.h"
#include "net/XmlDocument.h"

class HttpClient;

// One `url` element of the answer's file list.
struct UpdateEntry
{
    WideString address;
    WideString name;   // installed file, relative to the application folder
    WideString zip;    // archive name when the download is a ZIP archive
    WideString sha256; // expected digest of the download, when given
    bool hasName = false;
    bool hasZip = false;
    bool hasDigest = false;
};
using UpdateFileList = std::deque<UpdateEntry>;

// The `url` children of "update\files" below base (the document element
// when null); other children and the attributes of `files` are skipped.
int ReadUpdateFileList(XmlDocument& document, IUnknown* base, UpdateFileList& list);

// Where the entry's download goes inside the application folder (which
// ends with a backslash): name_new.ext, or zip_new.ext for an archive.
int DownloadPathOf(const UpdateEntry& entry, const wchar_t* folder, WideString& path);
int InstalledPathOf(const UpdateEntry& entry, const wchar_t* folder, WideString& path);
int BackupPathOf(const UpdateEntry& entry, const wchar_t* folder, WideString& path);

// 1 when every name of the list (and every archive name) resolves to its
// own file inside the folder, and, when digests are required, every entry
// carries one. Checked before anything is fetched.
int IsSafeFileList(const UpdateFileList& list, const wchar_t* folder, int requireDigests);

// The three walks over the list. Each answers the step result: 1 when the
// list has entries and every one of them succeeded; a failing entry stops
// its walk.
//
// Download: every named entry to its "_new" file, every unnamed one to the
// desktop folder as a program to run (the last one is remembered). Names
// that would leave the application folder fail the walk before anything is
// fetched (IsSafeFileList); a download whose digest differs from its `sha256` is deleted and
// fails the walk.
int DownloadWalk(const UpdateFileList& list, const wchar_t* folder, const wchar_t* desktop,
                 HttpClient& client, WideString& programToRun);
// Backup: each installed file to its "_old" name, replacing an older one.
int BackupWalk(const UpdateFileList& list, const wchar_t* folder);
// Install: each "_new" file to its installed name; archives are unpacked
// into the folder and then deleted.
int InstallWalk(const UpdateFileList& list, const wchar_t* folder);
// The three in order, each only after the previous one succeeded. When the
// backup or the install walk fails, the files moved aside are put back.
int RunFileWalks(const UpdateFileList& list, const wchar_t* folder, const wchar_t* desktop,
                 HttpClient& client, WideString& programToRun);

// The download of one update file: agent "AutoUpdate", a new file each
// time, deleted when the transfer fails.
int DownloadUpdateFile(HttpClient& client, const wchar_t* address, const wchar_t* path);
