#include "update/UpdateInstaller.h"

#include <string>
#include <utility>

#include "base/ScopedHandle.h"
#include "net/HttpClient.h"
#include "system/Files.h"
#include "update/UpdateRules.h"
#include "update/ZipNames.h"
#include "update/ZipExtract.h"

namespace {

int ReadEntryItem(XmlDocument& document, IUnknown* node, const wchar_t* item, WideString& value)
{
    return document.GetValue(item, value, node);
}

int CollectUrl(int kind, IUnknown* node, const wchar_t* name, const wchar_t* text, void* context,
               XmlDocument* document)
{
    if (kind != XML_KIND_ELEMENT || _wcsicmp(name, L"url") != 0) {
        return 0;
    }
    auto* list = static_cast<UpdateFileList*>(context);
    list->emplace_back();
    UpdateEntry& entry = list->back();
    // The address is the element's own text: a `name` given as a child
    // element is no part of it.
    if (!document->OwnText(node, entry.address) || entry.address.IsEmpty()) {
        entry.address.Assign(text);
    }
    entry.hasName = ReadEntryItem(*document, node, L"name", entry.name) != 0;
    entry.hasZip = ReadEntryItem(*document, node, L"zip", entry.zip) != 0;
    entry.hasDigest = ReadEntryItem(*document, node, L"sha256", entry.sha256) != 0;
    entry.hasSize = ReadEntryItem(*document, node, L"size", entry.size) != 0;
    return 0;
}

int Join(const wchar_t* folder, const WideString& name, const wchar_t* suffix, WideString& path)
{
    WideString decorated;
    if (suffix) {
        if (!DecorateFileName(name.Data(), suffix, decorated)) {
            return 0;
        }
    } else {
        decorated.Assign(name);
    }
    return Format(path, L"%s%s", folder, decorated.Data());
}

// The full form of a path as Windows resolves it; 0 when it cannot.
int ResolvedPath(const WideString& path, WideString& resolved)
{
    wchar_t buffer[MAX_PATH];
    DWORD length = GetFullPathNameW(path.Data(), MAX_PATH, buffer, nullptr);
    return length && length < MAX_PATH && resolved.Assign(buffer);
}

int IsSamePath(const wchar_t* one, const wchar_t* other)
{
    return CompareStringOrdinal(one, -1, other, -1, TRUE) == CSTR_EQUAL;
}

// The path with the short (8.3) names of its existing part expanded; the
// part that does not exist yet stays as written.
int LongFormOf(const WideString& full, WideString& expanded)
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetLongPathNameW(full.Data(), buffer, MAX_PATH);
    if (length && length < MAX_PATH) {
        return expanded.Assign(buffer);
    }
    const wchar_t* last = wcsrchr(full.Data(), L'\\');
    if (!last || last - full.Data() < 3) {
        return expanded.Assign(full);
    }
    WideString parent;
    WideString expandedParent;
    return parent.Assign(full.Data(), static_cast<unsigned>(last - full.Data())) &&
           LongFormOf(parent, expandedParent) && expanded.Assign(expandedParent) &&
           expanded.Append(last);
}

// Adds a path the update will write, after making sure Windows resolves it
// to a file below the folder and to none of the paths seen before.
int AddWrittenPath(const WideString& path, const wchar_t* folder, std::deque<std::wstring>& seen)
{
    WideString resolved;
    WideString expanded;
    if (!ResolvedPath(path, resolved) || !IsPathInsideFolder(resolved.Data(), folder) ||
        !LongFormOf(resolved, expanded)) {
        return 0;
    }
    for (const std::wstring& other : seen) {
        if (IsSamePath(other.c_str(), expanded.Data())) {
            return 0;
        }
    }
    seen.push_back(expanded.Data());
    return 1;
}

int HasUsableSize(const UpdateEntry& entry)
{
    ULONGLONG size = 0;
    return entry.hasSize && ParseFileSize(entry.size.Data(), size);
}

} // namespace

int IsSafeFileList(const UpdateFileList& list, const wchar_t* folder, int requireDigests)
{
    // Every file the update writes once: a second backup of the same file
    // would delete the first, the original program, and a download over an
    // installed file would replace it before its backup.
    std::deque<std::wstring> written;
    for (const UpdateEntry& entry : list) {
        if (requireDigests && (!entry.hasDigest || !HasUsableSize(entry))) {
            return 0;
        }
        if (!entry.hasName) {
            continue;
        }
        WideString installed;
        WideString backup;
        WideString download;
        if (!IsContainedRelativeName(entry.name.Data()) ||
            (entry.hasZip && !IsContainedRelativeName(entry.zip.Data())) ||
            !InstalledPathOf(entry, folder, installed) || !BackupPathOf(entry, folder, backup) ||
            !DownloadPathOf(entry, folder, download) ||
            !AddWrittenPath(installed, folder, written) ||
            !AddWrittenPath(backup, folder, written) ||
            !AddWrittenPath(download, folder, written)) {
            return 0;
        }
    }
    return 1;
}

namespace {

int DigestAgrees(const UpdateEntry& entry, const wchar_t* path)
{
    if (!entry.hasDigest) {
        return 1;
    }
    BYTE digest[SHA256_SIZE];
    return Sha256OfFile(path, digest) && DigestMatchesText(digest, entry.sha256.Data());
}

int DigestAgreesOpen(const UpdateEntry& entry, HANDLE file)
{
    if (!entry.hasDigest) {
        return 1;
    }
    BYTE digest[SHA256_SIZE];
    return Sha256OfOpenFile(file, digest) && DigestMatchesText(digest, entry.sha256.Data());
}

// Opened for reading while nobody may write, rename or delete it.
HANDLE OpenAgainstWriters(const wchar_t* path)
{
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// The program to run must resolve to a file right in the desktop folder.
int IsInsideResolved(const WideString& path, const WideString& resolvedFolder)
{
    WideString resolved;
    WideString folder;
    return folder.Assign(resolvedFolder) && folder.EnsureTrailing(L'\\') &&
           ResolvedPath(path, resolved) && IsPathInsideFolder(resolved.Data(), folder.Data());
}

} // namespace

int ReadUpdateFileList(XmlDocument& document, IUnknown* base, UpdateFileList& list)
{
    UpdateFileList found;
    document.Enumerate(L"update\\files", CollectUrl, &found, base);
    list.swap(found);
    return 1;
}

int DownloadPathOf(const UpdateEntry& entry, const wchar_t* folder, WideString& path)
{
    return Join(folder, entry.hasZip ? entry.zip : entry.name, L"_new", path);
}

int InstalledPathOf(const UpdateEntry& entry, const wchar_t* folder, WideString& path)
{
    return Join(folder, entry.name, nullptr, path);
}

int BackupPathOf(const UpdateEntry& entry, const wchar_t* folder, WideString& path)
{
    return Join(folder, entry.name, L"_old", path);
}

int UpdateTrafficPolicy(int code, void*, void*)
{
    switch (code) {
    case DOWNLOAD_CB_COOKIES:
    case DOWNLOAD_CB_REDIRECT:
    case HTTP_CB_PROXY_PROMPT:
        return 0;
    default:
        return 1;
    }
}

int DownloadUpdateFile(HttpClient& client, const wchar_t* address, const wchar_t* path,
                       ULONGLONG expectedSize)
{
    DownloadOptions options;
    options.agent = L"AutoUpdate";
    options.callback = UpdateTrafficPolicy;
    options.headers = L"Accept: */*\r\n\r\n";
    options.expectedSize = expectedSize;
    options.maximumSize = expectedSize ? 0 : UPDATE_KEYLESS_SIZE_CAP;
    return client.DownloadToFile(address, path, options);
}

int RunCheckedProgram(const wchar_t* path, const wchar_t* digest)
{
    ScopedHandle program(OpenAgainstWriters(path));
    BYTE found[SHA256_SIZE];
    if (!program ||
        (digest && *digest &&
         (!Sha256OfOpenFile(program.Get(), found) || !DigestMatchesText(found, digest)))) {
        return 0;
    }
    return ShellRun(path, nullptr, nullptr, SW_SHOWDEFAULT, 0, L"open");
}

int DownloadWalk(const UpdateFileList& list, const wchar_t* folder, const wchar_t* desktop,
                 HttpClient& client, WideString& programToRun)
{
    if (!IsSafeFileList(list, folder, 0)) {
        return 0;
    }
    int stepResult = 0;
    for (const UpdateEntry& entry : list) {
        stepResult = 0;
        WideString target;
        if (entry.hasName) {
            if (!DownloadPathOf(entry, folder, target)) {
                return 0;
            }
        } else {
            WideString file;
            WideString resolved;
            if (!*desktop || !ProgramFileName(entry.address.Data(), file) ||
                !target.Assign(desktop) || !target.EnsureTrailing(L'\\') ||
                !ResolvedPath(target, resolved) || !target.Append(file) ||
                !IsInsideResolved(target, resolved)) {
                return 0;
            }
        }
        ULONGLONG expectedSize = 0;
        if ((entry.hasSize && !ParseFileSize(entry.size.Data(), expectedSize)) ||
            !DownloadUpdateFile(client, entry.address.Data(), target.Data(), expectedSize)) {
            return 0;
        }
        if (!DigestAgrees(entry, target.Data())) {
            DeleteFileForced(target.Data());
            return 0;
        }
        if (!entry.hasName) {
            programToRun.Assign(target);
        }
        stepResult = 1;
    }
    return stepResult;
}

namespace {

// Moves each installed file to its backup name; counts the named entries
// whose files were moved.
int BackUpEntries(const UpdateFileList& list, const wchar_t* folder, size_t& movedEntries)
{
    movedEntries = 0;
    int stepResult = 0;
    for (const UpdateEntry& entry : list) {
        stepResult = 0;
        if (entry.hasName) {
            WideString installed;
            WideString backup;
            if (!InstalledPathOf(entry, folder, installed) ||
                !BackupPathOf(entry, folder, backup)) {
                return 0;
            }
            DeleteFileForced(backup.Data());
            if (!MoveFileW(installed.Data(), backup.Data())) {
                return 0;
            }
            ++movedEntries;
        }
        stepResult = 1;
    }
    return stepResult;
}

// Puts the backups of the first named entries back in place, so a failed
// update never leaves the folder without its program.
void RestoreBackups(const UpdateFileList& list, const wchar_t* folder, size_t namedEntries)
{
    for (const UpdateEntry& entry : list) {
        if (!namedEntries) {
            return;
        }
        if (!entry.hasName) {
            continue;
        }
        --namedEntries;
        WideString installed;
        WideString backup;
        if (InstalledPathOf(entry, folder, installed) && BackupPathOf(entry, folder, backup) &&
            GetFileAttributesW(backup.Data()) != INVALID_FILE_ATTRIBUTES) {
            DeleteFileForced(installed.Data());
            MoveFileW(backup.Data(), installed.Data());
        }
    }
}

} // namespace

int BackupWalk(const UpdateFileList& list, const wchar_t* folder)
{
    size_t moved = 0;
    return BackUpEntries(list, folder, moved);
}

namespace {

// What unpacking archives wrote: each file it created (aside path empty),
// and each it would have written over, moved aside first (original path,
// aside path), in order.
using MovedAside = std::deque<std::pair<std::wstring, std::wstring>>;

int MoveAside(const wchar_t* path, void* context)
{
    auto& moved = *static_cast<MovedAside*>(context);
    for (const auto& file : moved) {
        // Written by this update already: written over again.
        if (IsSamePath(file.first.c_str(), path)) {
            return 1;
        }
    }
    WideString aside;
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        moved.emplace_back(path, L"");
        return 1;
    }
    if (!DecorateFileName(path, L"_old", aside)) {
        return 0;
    }
    DeleteFileForced(aside.Data());
    if (!MoveFileW(path, aside.Data())) {
        return 0;
    }
    moved.emplace_back(path, aside.Data());
    return 1;
}

void RestoreMovedAside(const MovedAside& moved)
{
    for (auto file = moved.rbegin(); file != moved.rend(); ++file) {
        DeleteFileForced(file->first.c_str());
        if (!file->second.empty()) {
            MoveFileW(file->second.c_str(), file->first.c_str());
        }
    }
}

// Unpacks the downloaded archive from one handle that keeps writers out
// from its digest check to the end: what is unpacked is what was checked.
int UnpackArchive(const UpdateEntry& entry, const wchar_t* archivePath, const wchar_t* folder,
                  MovedAside& moved)
{
    ScopedHandle archive(OpenAgainstWriters(archivePath));
    ZipWriteHook hook{MoveAside, &moved};
    return archive && DigestAgreesOpen(entry, archive.Get()) &&
           ExtractHeldZipArchive(archive.Get(), folder, &hook) == ZIP_OK;
}

int InstallEntries(const UpdateFileList& list, const wchar_t* folder, MovedAside& moved)
{
    int stepResult = 0;
    for (const UpdateEntry& entry : list) {
        stepResult = 0;
        if (entry.hasName) {
            WideString downloaded;
            if (!DownloadPathOf(entry, folder, downloaded)) {
                return 0;
            }
            if (entry.hasZip) {
                const int unpacked = UnpackArchive(entry, downloaded.Data(), folder, moved);
                DeleteFileForced(downloaded.Data());
                if (!unpacked) {
                    return 0;
                }
            } else {
                WideString installed;
                if (!InstalledPathOf(entry, folder, installed) ||
                    !MoveFileW(downloaded.Data(), installed.Data())) {
                    return 0;
                }
            }
        }
        stepResult = 1;
    }
    return stepResult;
}

// The digest text of the last program to run of the list.
void ProgramDigestOf(const UpdateFileList& list, WideString& digest)
{
    digest.Assign(L"");
    for (const UpdateEntry& entry : list) {
        if (!entry.hasName) {
            digest.Assign(entry.hasDigest ? entry.sha256.Data() : L"");
        }
    }
}

} // namespace

int InstallWalk(const UpdateFileList& list, const wchar_t* folder)
{
    MovedAside moved;
    return InstallEntries(list, folder, moved);
}

int RunFileWalks(const UpdateFileList& list, const wchar_t* folder, const wchar_t* desktop,
                 HttpClient& client, WideString& programToRun, WideString* programDigest)
{
    if (!DownloadWalk(list, folder, desktop, client, programToRun)) {
        return 0;
    }
    if (programDigest) {
        ProgramDigestOf(list, *programDigest);
    }
    size_t moved = 0;
    MovedAside movedAside;
    if (!BackUpEntries(list, folder, moved) || !InstallEntries(list, folder, movedAside)) {
        RestoreMovedAside(movedAside);
        RestoreBackups(list, folder, moved);
        return 0;
    }
    return 1;
}
