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
    WideString size;   // expected length of the download in bytes, when given
    bool hasName = false;
    bool hasZip = false;
    bool hasDigest = false;
    bool hasSize = false;
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
// own file inside the folder, and, when digests are required (a signed
// answer), every entry carries its digest and its size. Every path the
// update writes (installed, "_new" and "_old" files, archives) must differ
// from all the others as Windows compares them, short (8.3) names of
// existing files expanded. Checked before anything is fetched.
int IsSafeFileList(const UpdateFileList& list, const wchar_t* folder, int requireDigests);

// The answer of every transfer of the update to its callback: no cookies
// sent or stored, redirects followed by hand and only within https, and no
// proxy-credentials prompt that the user did not ask for.
int UpdateTrafficPolicy(int code, void* argument, void* userValue);

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
// into the folder and then deleted. An archive is held open against
// writers from its digest check to the end of its unpacking; files it
// writes over are moved aside first (see RunFileWalks).
int InstallWalk(const UpdateFileList& list, const wchar_t* folder);
// The three in order, each only after the previous one succeeded. When the
// backup or the install walk fails, the files moved aside are put back.
// programDigest, when given, receives the digest text of the program to
// run (empty when the answer named none).
int RunFileWalks(const UpdateFileList& list, const wchar_t* folder, const wchar_t* desktop,
                 HttpClient& client, WideString& programToRun, WideString* programDigest = nullptr);

// The download of one update file: agent "AutoUpdate", a new file each
// time, deleted when the transfer fails. With an expected size the body
// must be exactly that long; without one it may not exceed
// UPDATE_KEYLESS_SIZE_CAP.
int DownloadUpdateFile(HttpClient& client, const wchar_t* address, const wchar_t* path,
                       ULONGLONG expectedSize = 0);

// Starts a downloaded program, held open against writers while its digest
// (when given) is checked again and it is started; 0 when it changed.
int RunCheckedProgram(const wchar_t* path, const wchar_t* digest);
