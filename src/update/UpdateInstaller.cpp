#include "update/UpdateInstaller.h"

#include <string>

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

// Joins a checked name to its folder and makes sure Windows resolves the
// result to a file below that folder, unlike any path seen before.
int AddResolvedPath(const wchar_t* folder, const WideString& name, std::deque<std::wstring>& seen)
{
    WideString joined;
    WideString resolved;
    if (!IsContainedRelativeName(name.Data()) || !Join(folder, name, nullptr, joined) ||
        !ResolvedPath(joined, resolved) || !IsPathInsideFolder(resolved.Data(), folder)) {
        return 0;
    }
    for (const std::wstring& other : seen) {
        if (_wcsicmp(other.c_str(), resolved.Data()) == 0) {
            return 0;
        }
    }
    seen.push_back(resolved.Data());
    return 1;
}

} // namespace

int IsSafeFileList(const UpdateFileList& list, const wchar_t* folder, int requireDigests)
{
    // Installed names and archive names each once: a second backup of the
    // same file would delete the first, the original program.
    std::deque<std::wstring> names;
    std::deque<std::wstring> archives;
    for (const UpdateEntry& entry : list) {
        if (requireDigests && !entry.hasDigest) {
            return 0;
        }
        if (entry.hasName && !AddResolvedPath(folder, entry.name, names)) {
            return 0;
        }
        if (entry.hasName && entry.hasZip && !AddResolvedPath(folder, entry.zip, archives)) {
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

int AllowEverything(int, void*, void*)
{
    return 1;
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

int DownloadUpdateFile(HttpClient& client, const wchar_t* address, const wchar_t* path)
{
    DownloadOptions options;
    options.agent = L"AutoUpdate";
    options.callback = AllowEverything;
    options.headers = L"Accept: */*\r\n\r\n";
    return client.DownloadToFile(address, path, options);
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
        if (!DownloadUpdateFile(client, entry.address.Data(), target.Data())) {
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

int InstallWalk(const UpdateFileList& list, const wchar_t* folder)
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
                // Wide paths: the folder may hold characters that the ANSI
                // code page lacks.
                int unpacked = ExtractZipArchive(downloaded.Data(), folder) == ZIP_OK;
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

int RunFileWalks(const UpdateFileList& list, const wchar_t* folder, const wchar_t* desktop,
                 HttpClient& client, WideString& programToRun)
{
    if (!DownloadWalk(list, folder, desktop, client, programToRun)) {
        return 0;
    }
    size_t moved = 0;
    if (!BackUpEntries(list, folder, moved) || !InstallWalk(list, folder)) {
        RestoreBackups(list, folder, moved);
        return 0;
    }
    return 1;
}
