#include "update/ZipExtract.h"

#include <zlib.h>

#include "base/ScopedHandle.h"
#include "base/WideString.h"
#include "update/Explode.h"
#include "update/ZipFormat.h"
#include "update/ZipNames.h"

namespace {

constexpr unsigned kBufferSize = 262144;
constexpr DWORD kAttributeMask = 0x7F;
// Read-only, hidden, system, volume, directory and 0x40 ask for attributes.
constexpr DWORD kAttributesWanted = 0x5F;
// The bits SetFileAttributes can take: read-only, hidden, system, archive.
constexpr DWORD kSettableAttributes = 0x27;

constexpr BYTE kHostMsDos = 0;
constexpr BYTE kHostOs2 = 6;
constexpr BYTE kHostNtfs = 11;
constexpr BYTE kHostVfat = 14;

int Worse(int current, int code)
{
    return code > current ? code : current;
}

// The opened archive: positioned reads by absolute offset.
struct Archive
{
    ScopedHandle file;
    ULONGLONG size = 0;

    int Open(const wchar_t* path)
    {
        file.Reset(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        LARGE_INTEGER length;
        if (!file || !GetFileSizeEx(file.Get(), &length)) {
            file.Reset();
            return 0;
        }
        size = static_cast<ULONGLONG>(length.QuadPart);
        return 1;
    }

    // Reads through a handle of its own to a file the caller holds open.
    int Borrow(HANDLE held)
    {
        HANDLE own = nullptr;
        LARGE_INTEGER length;
        if (!DuplicateHandle(GetCurrentProcess(), held, GetCurrentProcess(), &own, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            return 0;
        }
        file.Reset(own);
        if (!GetFileSizeEx(file.Get(), &length)) {
            file.Reset();
            return 0;
        }
        size = static_cast<ULONGLONG>(length.QuadPart);
        return 1;
    }

    int ReadAt(ULONGLONG offset, void* buffer, DWORD count)
    {
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(offset);
        DWORD read = 0;
        return SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN) &&
               ReadFile(file.Get(), buffer, count, &read, nullptr) && read == count;
    }
};

// The compressed bytes of one entry, read in large pieces.
struct EntryInput
{
    Archive* archive;
    ULONGLONG offset;
    ULONGLONG remaining;
    bool failed = false;

    unsigned Read(BYTE* buffer, unsigned capacity)
    {
        const DWORD count =
            static_cast<DWORD>(remaining < capacity ? remaining : static_cast<ULONGLONG>(capacity));
        if (count == 0) {
            return 0;
        }
        if (!archive->ReadAt(offset, buffer, count)) {
            failed = true;
            return 0;
        }
        offset += count;
        remaining -= count;
        return count;
    }
    static unsigned ReadFunction(void* context, BYTE* buffer, unsigned capacity)
    {
        return static_cast<EntryInput*>(context)->Read(buffer, capacity);
    }
};

// One output file: counts and checksums what it writes and refuses to grow
// past the entry's declared size.
struct EntryOutput
{
    HANDLE file;
    ULONGLONG limit;
    ULONGLONG written = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    bool writeFailed = false;

    int Write(const BYTE* data, unsigned count)
    {
        if (count > limit - written) {
            return 0;
        }
        DWORD done = 0;
        if (!WriteFile(file, data, count, &done, nullptr) || done != count) {
            writeFailed = true;
            return 0;
        }
        crc = crc32(crc, data, count);
        written += count;
        return 1;
    }
    static int WriteFunction(void* context, const BYTE* data, unsigned count)
    {
        return static_cast<EntryOutput*>(context)->Write(data, count);
    }
    // A refused write either failed on disk or would have passed the
    // declared size.
    int FailureCode() const { return writeFailed ? ZIP_DISK_FULL : ZIP_ARCHIVE_ERROR; }
};

// The work buffers shared by all entries.
struct Buffers
{
    ScopedHeapMemory memory;
    BYTE* input = nullptr;
    BYTE* output = nullptr;

    int Allocate()
    {
        memory.Reset(HeapAlloc(GetProcessHeap(), 0, 2 * kBufferSize));
        input = static_cast<BYTE*>(memory.Get());
        output = input ? input + kBufferSize : nullptr;
        return input != nullptr;
    }
};

int CopyStored(EntryInput& input, EntryOutput& output, Buffers& buffers)
{
    if (input.remaining != output.limit) {
        return ZIP_ARCHIVE_ERROR;
    }
    for (;;) {
        const unsigned count = input.Read(buffers.input, kBufferSize);
        if (count == 0) {
            return input.failed ? ZIP_END_OF_ARCHIVE : ZIP_OK;
        }
        if (!output.Write(buffers.input, count)) {
            return output.FailureCode();
        }
    }
}

struct InflateStream
{
    z_stream stream = {};
    bool open = false;
    ~InflateStream()
    {
        if (open) {
            inflateEnd(&stream);
        }
    }
};

int Inflate(EntryInput& input, EntryOutput& output, Buffers& buffers)
{
    InflateStream inflater;
    if (inflateInit2(&inflater.stream, -MAX_WBITS) != Z_OK) {
        return ZIP_SEVERE_ERROR;
    }
    inflater.open = true;
    z_stream& stream = inflater.stream;
    for (;;) {
        if (stream.avail_in == 0) {
            stream.avail_in = input.Read(buffers.input, kBufferSize);
            stream.next_in = buffers.input;
            if (stream.avail_in == 0) {
                return input.failed ? ZIP_END_OF_ARCHIVE : ZIP_ARCHIVE_ERROR;
            }
        }
        stream.next_out = buffers.output;
        stream.avail_out = kBufferSize;
        const int status = inflate(&stream, Z_NO_FLUSH);
        const unsigned produced = kBufferSize - stream.avail_out;
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
            return status == Z_MEM_ERROR ? ZIP_NO_MEMORY : ZIP_ARCHIVE_ERROR;
        }
        if (produced && !output.Write(buffers.output, produced)) {
            return output.FailureCode();
        }
        if (status == Z_STREAM_END) {
            return ZIP_OK;
        }
    }
}

int ExplodeEntry(WORD flags, EntryInput& input, EntryOutput& output)
{
    switch (Explode(flags, output.limit, EntryInput::ReadFunction, &input,
                    EntryOutput::WriteFunction, &output)) {
    case EXPLODE_OK:
        return ZIP_OK;
    case EXPLODE_TRUNCATED:
        return input.failed ? ZIP_END_OF_ARCHIVE : ZIP_ARCHIVE_ERROR;
    case EXPLODE_WRITE_FAILED:
        return output.FailureCode();
    case EXPLODE_NO_MEMORY:
        return ZIP_NO_MEMORY;
    default:
        return ZIP_ARCHIVE_ERROR;
    }
}

bool IsSupportedMethod(WORD method)
{
    return method == ZIP_METHOD_STORED || method == ZIP_METHOD_DEFLATED ||
           method == ZIP_METHOD_IMPLODED;
}

// Where path's first folder not yet known to exist begins: just past the
// last backslash at which path and the known folder (made or found by the
// extraction) still name the same folder; 0 when they share none.
unsigned KnownFolderEnd(const WideString& path, const WideString& known)
{
    const wchar_t* text = path.Data();
    const wchar_t* folder = known.Data();
    unsigned end = 0;
    for (unsigned i = 0; folder[i] && text[i] == folder[i]; ++i) {
        const wchar_t next = folder[i + 1];
        if (text[i + 1] == L'\\' && (next == L'\\' || next == L'\0')) {
            end = i + 2;
        }
    }
    return end;
}

// Creates every missing folder on the way to the path's last component;
// with includeLast the last component too. Folders within the known one
// are not asked for again: the entries of one folder usually follow each
// other, and each question costs the file system a lookup.
int CreateFolders(WideString& path, unsigned firstComponent, bool includeLast, WideString& known)
{
    wchar_t* text = path.Data();
    const unsigned length = path.Length();
    const unsigned knownEnd = KnownFolderEnd(path, known);
    unsigned deepest = 0;
    for (unsigned i = knownEnd > firstComponent ? knownEnd : firstComponent; i <= length; ++i) {
        const bool end = i == length;
        if ((end && !includeLast) || (!end && text[i] != L'\\')) {
            continue;
        }
        const wchar_t saved = text[i];
        text[i] = L'\0';
        const bool made = CreateDirectoryW(text, nullptr) != FALSE;
        const DWORD attributes = made ? FILE_ATTRIBUTE_DIRECTORY : GetFileAttributesW(text);
        text[i] = saved;
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return 0;
        }
        deepest = i;
    }
    if (deepest) {
        const wchar_t saved = text[deepest];
        text[deepest] = L'\0';
        known.Assign(text);
        text[deepest] = saved;
    }
    return 1;
}

void ApplyAttributes(const wchar_t* path, DWORD external)
{
    const DWORD attributes = external & kAttributeMask;
    if (!(attributes & kAttributesWanted)) {
        return;
    }
    const DWORD settable = attributes & kSettableAttributes;
    SetFileAttributesW(path, settable ? settable : FILE_ATTRIBUTE_NORMAL);
}

HANDLE CreateNewFile(const wchar_t* path)
{
    return CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A new file is created at once; an existing one (made writable first when
// read-only) is deleted and the new one created in its place.
HANDLE CreateOutput(const wchar_t* path)
{
    HANDLE created = CreateNewFile(path);
    if (created != INVALID_HANDLE_VALUE) {
        return created;
    }
    const DWORD existing = GetFileAttributesW(path);
    if (existing == INVALID_FILE_ATTRIBUTES || (existing & FILE_ATTRIBUTE_DIRECTORY)) {
        return INVALID_HANDLE_VALUE;
    }
    if (existing & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesW(path, existing & ~FILE_ATTRIBUTE_READONLY);
    }
    if (!DeleteFileW(path)) {
        return INVALID_HANDLE_VALUE;
    }
    return CreateNewFile(path);
}

// Everything the walk over the entries shares.
struct Extraction
{
    Archive archive;
    Buffers buffers;
    WideString folder;     // full path with a trailing backslash
    WideString madeFolder; // the deepest folder last made or found
    ULONGLONG shift = 0;   // bytes in front of the archive proper
    ZipVolumeTraits volume;
    int result = ZIP_OK;
    unsigned files = 0;
    unsigned extracted = 0;
    unsigned encrypted = 0;
    const ZipWriteHook* hook = nullptr;
};

// The file times: the extended time stamp when present, else the DOS time
// read as local time for both the last write and the last access.
void SetEntryTimes(HANDLE file, const ZipCentralEntry& entry, const ZipUnixTimes* unixTimes,
                   bool fatTimes)
{
    FILETIME written;
    FILETIME accessed;
    FILETIME created;
    const FILETIME* access = &accessed;
    const FILETIME* creation = nullptr;
    if (unixTimes) {
        written = UnixTimeToFileTime(unixTimes->modified);
        accessed = UnixTimeToFileTime(unixTimes->accessed);
        created = UnixTimeToFileTime(unixTimes->created);
        access = unixTimes->hasAccessed ? &accessed : nullptr;
        creation = unixTimes->hasCreated ? &created : nullptr;
    } else {
        SYSTEMTIME local;
        SYSTEMTIME universal;
        if (!DosDateTimeToSystemTime(entry.dosDate, entry.dosTime, local) ||
            !TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) ||
            !SystemTimeToFileTime(&universal, &written)) {
            return;
        }
        accessed = written;
    }
    if (fatTimes) {
        written = RoundUpToFatTime(written);
    }
    SetFileTime(file, creation, access, &written);
}

// The entry's extended time stamp: the local header's (which holds every
// time), else the central directory's.
int EntryUnixTimes(Extraction& work, const ZipCentralEntry& entry, ULONGLONG localExtraOffset,
                   unsigned localExtraLength, ZipUnixTimes& times)
{
    if (localExtraLength && localExtraLength <= kBufferSize &&
        work.archive.ReadAt(localExtraOffset, work.buffers.input, localExtraLength) &&
        FindZipUnixTimes(work.buffers.input, localExtraLength, times)) {
        return 1;
    }
    return FindZipUnixTimes(entry.extra, entry.extraLength, times);
}

int Decompress(Extraction& work, const ZipCentralEntry& entry, EntryInput& input,
               EntryOutput& output)
{
    int code;
    if (entry.method == ZIP_METHOD_STORED) {
        code = CopyStored(input, output, work.buffers);
    } else if (entry.method == ZIP_METHOD_DEFLATED) {
        code = Inflate(input, output, work.buffers);
    } else {
        code = ExplodeEntry(entry.flags, input, output);
    }
    if (code == ZIP_OK && (output.written != entry.uncompressedSize || output.crc != entry.crc32)) {
        code = ZIP_ARCHIVE_ERROR;
    }
    return code;
}

int ExtractFile(Extraction& work, const ZipCentralEntry& entry, const wchar_t* path)
{
    BYTE header[ZIP_LOCAL_HEADER_SIZE];
    unsigned nameLength;
    unsigned extraLength;
    const ULONGLONG headerOffset = work.shift + entry.localHeaderOffset;
    if (!work.archive.ReadAt(headerOffset, header, sizeof(header))) {
        return ZIP_END_OF_ARCHIVE;
    }
    if (!ReadZipLocalHeader(header, sizeof(header), nameLength, extraLength)) {
        return ZIP_ARCHIVE_ERROR;
    }
    const ULONGLONG extraOffset = headerOffset + ZIP_LOCAL_HEADER_SIZE + nameLength;
    const ULONGLONG dataOffset = extraOffset + extraLength;
    if (dataOffset > work.archive.size || entry.compressedSize > work.archive.size - dataOffset) {
        return ZIP_END_OF_ARCHIVE;
    }
    ZipUnixTimes unixTimes;
    const bool hasUnixTimes = EntryUnixTimes(work, entry, extraOffset, extraLength, unixTimes);

    if (work.hook && !work.hook->beforeWrite(path, work.hook->context)) {
        return ZIP_DISK_FULL;
    }
    ScopedHandle file(CreateOutput(path));
    if (!file) {
        return ZIP_DISK_FULL;
    }
    EntryInput input{&work.archive, dataOffset, entry.compressedSize};
    EntryOutput output{file.Get(), entry.uncompressedSize};
    const int code = Decompress(work, entry, input, output);
    if (code != ZIP_OK) {
        // Output that failed its checks is not left behind as if it were good.
        file.Reset();
        DeleteFileW(path);
        return code;
    }
    SetEntryTimes(file.Get(), entry, hasUnixTimes ? &unixTimes : nullptr, work.volume.fatTimes);
    file.Reset();
    ApplyAttributes(path, entry.externalAttributes);
    return ZIP_OK;
}

// The entry's target path and kind; ZIP_NAME_REFUSED when its name must not
// be used.
ZipNameKind EntryPath(Extraction& work, const ZipCentralEntry& entry, WideString& path)
{
    for (unsigned i = 0; i < entry.nameLength; ++i) {
        if (entry.name[i] == '\0') {
            return ZIP_NAME_REFUSED;
        }
    }
    WideString name;
    WideString relative;
    if (!name.AssignNarrow(entry.name, entry.nameLength, 0,
                           ZipNameCodePage(entry.flags, entry.hostSystem))) {
        return ZIP_NAME_REFUSED;
    }
    const ZipNameKind kind = MapZipEntryName(name.Data(), work.volume.shortNamesOnly, relative);
    if (kind == ZIP_NAME_REFUSED || !path.Assign(work.folder) || !path.Append(relative)) {
        return ZIP_NAME_REFUSED;
    }
    // A last guard against any path the system would resolve outside.
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(path.Data(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH || !IsPathInsideFolder(full, work.folder.Data())) {
        return ZIP_NAME_REFUSED;
    }
    return kind;
}

int ExtractEntry(Extraction& work, const ZipCentralEntry& entry)
{
    WideString path;
    const ZipNameKind kind = EntryPath(work, entry, path);
    if (kind == ZIP_NAME_REFUSED) {
        return ZIP_ARCHIVE_ERROR;
    }
    const unsigned firstComponent = work.folder.Length();
    if (kind == ZIP_NAME_DIRECTORY) {
        if (path.Length() == firstComponent) {
            return ZIP_OK;
        }
        if (!CreateFolders(path, firstComponent, true, work.madeFolder)) {
            return ZIP_DISK_FULL;
        }
        ApplyAttributes(path.Data(), entry.externalAttributes);
        return ZIP_OK;
    }
    ++work.files;
    if (entry.flags & (ZIP_FLAG_ENCRYPTED | ZIP_FLAG_STRONG_ENCRYPTION)) {
        ++work.encrypted;
        return ZIP_WARNING;
    }
    if (!IsSupportedMethod(entry.method)) {
        return ZIP_WARNING;
    }
    if (!CreateFolders(path, firstComponent, false, work.madeFolder)) {
        return ZIP_DISK_FULL;
    }
    const int code = ExtractFile(work, entry, path.Data());
    if (code == ZIP_OK) {
        ++work.extracted;
    }
    return code;
}

// Reads the end record and the whole central directory into the input
// buffer or a block of its own.
struct Directory
{
    ScopedHeapMemory memory;
    const BYTE* bytes = nullptr;
    DWORD size = 0;
    DWORD entries = 0;
};

int ReadDirectory(Extraction& work, Directory& directory)
{
    const ULONGLONG archiveSize = work.archive.size;
    const DWORD tailSize =
        static_cast<DWORD>(archiveSize < ZIP_END_SEARCH_SIZE ? archiveSize : ZIP_END_SEARCH_SIZE);
    const ULONGLONG tailOffset = archiveSize - tailSize;
    unsigned endOffset;
    ZipEndRecord end;
    if (!work.archive.ReadAt(tailOffset, work.buffers.input, tailSize) ||
        !FindZipEndRecord(work.buffers.input, tailSize, endOffset) ||
        !ReadZipEndRecord(work.buffers.input + endOffset, tailSize - endOffset, end)) {
        return ZIP_NOT_FOUND;
    }
    const ULONGLONG endPosition = tailOffset + endOffset;
    const ULONGLONG directoryEnd = static_cast<ULONGLONG>(end.directoryOffset) + end.directorySize;
    if (end.diskNumber != 0 || end.directoryDisk != 0 || end.entriesOnDisk != end.entries ||
        directoryEnd > endPosition) {
        return ZIP_NOT_FOUND;
    }
    // Data in front of the archive (a self-extractor stub) moves every
    // recorded offset by the same amount.
    work.shift = endPosition - directoryEnd;
    directory.memory.Reset(
        HeapAlloc(GetProcessHeap(), 0, end.directorySize ? end.directorySize : 1));
    if (!directory.memory) {
        return ZIP_NO_MEMORY;
    }
    BYTE* bytes = static_cast<BYTE*>(directory.memory.Get());
    if (!work.archive.ReadAt(work.shift + end.directoryOffset, bytes, end.directorySize)) {
        return ZIP_END_OF_ARCHIVE;
    }
    directory.bytes = bytes;
    directory.size = end.directorySize;
    directory.entries = end.entries;
    return ZIP_OK;
}

// Calls visit for every entry in order; a damaged record ends the walk with
// an archive error.
template <typename Visit> int WalkDirectory(const Directory& directory, Visit visit)
{
    DWORD position = 0;
    for (DWORD i = 0; i < directory.entries; ++i) {
        ZipCentralEntry entry;
        if (!ReadZipCentralEntry(directory.bytes + position, directory.size - position, entry)) {
            return ZIP_ARCHIVE_ERROR;
        }
        position += entry.recordSize;
        visit(entry);
    }
    return ZIP_OK;
}

// The declared sizes of all files must fit the target volume's free space.
int CheckFreeSpace(const Extraction& work, const Directory& directory)
{
    ULONGLONG needed = 0;
    WalkDirectory(directory,
                  [&](const ZipCentralEntry& entry) { needed += entry.uncompressedSize; });
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(work.folder.Data(), &available, nullptr, nullptr)) {
        return ZIP_OK;
    }
    return needed > available.QuadPart ? ZIP_DISK_FULL : ZIP_OK;
}

ZipVolumeTraits TargetVolume(const wchar_t* folder)
{
    ZipVolumeTraits traits;
    if (!folder[0] || folder[1] != L':' || folder[2] != L'\\') {
        return traits;
    }
    const wchar_t root[4] = {folder[0], L':', L'\\', L'\0'};
    DWORD maximumComponent = 0;
    wchar_t fileSystem[MAX_PATH] = {};
    if (GetVolumeInformationW(root, nullptr, 0, nullptr, &maximumComponent, nullptr, fileSystem,
                              MAX_PATH)) {
        traits = ZipVolumeTraitsFor(maximumComponent, fileSystem);
    }
    return traits;
}

int OpenArchive(Archive& archive, const wchar_t* path)
{
    if (archive.Open(path)) {
        return 1;
    }
    WideString withExtension(path);
    return withExtension.Append(L".zip") && archive.Open(withExtension.Data());
}

int PrepareTarget(Extraction& work, const wchar_t* folder)
{
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(folder, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH - 1 || !work.folder.Assign(full) ||
        !work.folder.EnsureTrailing(L'\\')) {
        return 0;
    }
    CreateDirectoryW(full, nullptr);
    const DWORD attributes = GetFileAttributesW(full);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int FinalResult(const Extraction& work)
{
    if (work.files > 0 && work.extracted == 0 && work.result == ZIP_WARNING) {
        return work.encrypted == work.files ? ZIP_ALL_BAD_PASSWORD : ZIP_ALL_UNSUPPORTED;
    }
    return work.result;
}

} // namespace

ZipVolumeTraits ZipVolumeTraitsFor(DWORD maximumComponentLength, const wchar_t* fileSystemName)
{
    ZipVolumeTraits traits;
    traits.shortNamesOnly = maximumComponentLength < 13;
    wchar_t upper[MAX_PATH] = {};
    lstrcpynW(upper, fileSystemName ? fileSystemName : L"", MAX_PATH);
    CharUpperW(upper);
    traits.fatTimes = lstrcmpW(upper, L"VFAT") == 0 || lstrcmpW(upper, L"HPFS") == 0 ||
                      lstrcmpW(upper, L"FAT") == 0 || lstrcmpW(upper, L"FAT32") == 0;
    return traits;
}

UINT ZipNameCodePage(WORD flags, BYTE hostSystem)
{
    if (flags & ZIP_FLAG_UTF8) {
        return CP_UTF8;
    }
    const bool oem = hostSystem == kHostMsDos || hostSystem == kHostOs2 ||
                     hostSystem == kHostNtfs || hostSystem == kHostVfat;
    return oem ? CP_OEMCP : CP_ACP;
}

namespace {

// Everything after the archive was opened.
int ExtractOpened(Extraction& work, const wchar_t* targetFolder)
{
    if (!work.buffers.Allocate()) {
        return ZIP_NO_MEMORY;
    }
    if (!PrepareTarget(work, targetFolder)) {
        return ZIP_DISK_FULL;
    }
    Directory directory;
    int code = ReadDirectory(work, directory);
    if (code == ZIP_OK) {
        code = CheckFreeSpace(work, directory);
    }
    if (code != ZIP_OK) {
        return code;
    }
    work.volume = TargetVolume(work.folder.Data());
    const int walk = WalkDirectory(directory, [&](const ZipCentralEntry& entry) {
        work.result = Worse(work.result, ExtractEntry(work, entry));
    });
    work.result = Worse(work.result, walk);
    if (directory.entries == 0) {
        // An empty archive carries no update: warn as for a skipped entry.
        work.result = Worse(work.result, ZIP_WARNING);
    }
    return FinalResult(work);
}

} // namespace

int ExtractZipArchive(const wchar_t* archivePath, const wchar_t* targetFolder)
{
    if (!archivePath || !targetFolder) {
        return ZIP_SEVERE_ERROR;
    }
    Extraction work;
    if (!OpenArchive(work.archive, archivePath)) {
        return ZIP_NOT_FOUND;
    }
    return ExtractOpened(work, targetFolder);
}

int ExtractHeldZipArchive(HANDLE archive, const wchar_t* targetFolder, const ZipWriteHook* hook)
{
    if (!targetFolder) {
        return ZIP_SEVERE_ERROR;
    }
    Extraction work;
    if (!work.archive.Borrow(archive)) {
        return ZIP_NOT_FOUND;
    }
    work.hook = hook;
    return ExtractOpened(work, targetFolder);
}

int ExtractZip(const char* archivePath, const char* targetFolder)
{
    WideString archive;
    WideString folder;
    if (!archivePath || !targetFolder || !archive.AssignNarrow(archivePath) ||
        !folder.AssignNarrow(targetFolder)) {
        return 0;
    }
    return ExtractZipArchive(archive.Data(), folder.Data()) == ZIP_OK;
}
