#include "update/UpdateInstaller.h"

#include "net/HttpClient.h"
#include "system/Files.h"
#include "update/UpdateRules.h"
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

// Refuses, before anything is fetched, a list whose names would lead out
// of the application folder.
int NamesStayInside(const UpdateFileList& list)
{
    for (const UpdateEntry& entry : list) {
        if (entry.hasName && !IsContainedRelativeName(entry.name.Data())) {
            return 0;
        }
        if (entry.hasName && entry.hasZip && !IsContainedRelativeName(entry.zip.Data())) {
            return 0;
        }
    }
    return 1;
}

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
    if (!NamesStayInside(list)) {
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
            if (!*desktop || !ProgramFileName(entry.address.Data(), file) ||
                !target.Assign(desktop) || !target.EnsureTrailing(L'\\') || !target.Append(file)) {
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

int BackupWalk(const UpdateFileList& list, const wchar_t* folder)
{
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
        }
        stepResult = 1;
    }
    return stepResult;
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
                WideString archive;
                WideString target;
                archive.Assign(downloaded);
                target.Assign(folder);
                int unpacked = ExtractZip(archive.ToNarrow(), target.ToNarrow());
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
    return DownloadWalk(list, folder, desktop, client, programToRun) && BackupWalk(list, folder) &&
           InstallWalk(list, folder);
}
