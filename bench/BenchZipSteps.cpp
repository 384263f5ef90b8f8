// Where the extraction time goes: the steps of unpacking an archive, each
// timed on its own over every entry of the same archive.
//   bench_zip_steps.exe ARCHIVE FOLDER\   (both in the ANSI code page)
//
// - read: every entry's compressed bytes, in the extraction's read size;
// - inflate: the deflated entries decoded in memory, nothing written;
// - crc: CRC-32 over as many bytes as the entries hold unpacked;
// - files: the Wine floor of the file system work: every folder and file of
//   the archive created, written with its unpacked size in the
//   extraction's write size from a buffer, its time set and closed, with no
//   decoding at all (what any unpacker must ask of the system);
// - empty files: the same files created and closed without data.
// Each step prints its milliseconds; the sum of read, inflate, crc and files
// is the floor an unpacker under Wine can reach on this machine.

#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include <zlib.h>

#include "BenchClock.h"
#include "update/ZipFormat.h"

namespace {

constexpr DWORD kPiece = 1u << 20;

struct Entry
{
    std::string name;
    WORD method;
    DWORD compressedSize;
    DWORD uncompressedSize;
    ULONGLONG dataOffset;
};

// As the extraction reads: under Wine a read with an offset in an
// OVERLAPPED record costs a round trip to the wineserver, a seek does not.
bool ReadAt(HANDLE file, ULONGLONG offset, void* buffer, DWORD count)
{
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    DWORD read = 0;
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
           ReadFile(file, buffer, count, &read, nullptr) && read == count;
}

// The entries with the offsets of their data, from the central directory
// and the local headers.
bool ReadEntries(HANDLE file, std::vector<Entry>& entries)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        return false;
    }
    const ULONGLONG archiveSize = static_cast<ULONGLONG>(size.QuadPart);
    const DWORD tailSize =
        static_cast<DWORD>(archiveSize < ZIP_END_SEARCH_SIZE ? archiveSize : ZIP_END_SEARCH_SIZE);
    std::vector<BYTE> tail(tailSize);
    unsigned endOffset = 0;
    ZipEndRecord end;
    if (!ReadAt(file, archiveSize - tailSize, tail.data(), tailSize) ||
        !FindZipEndRecord(tail.data(), tailSize, endOffset) ||
        !ReadZipEndRecord(tail.data() + endOffset, tailSize - endOffset, end)) {
        return false;
    }
    std::vector<BYTE> directory(end.directorySize);
    if (!ReadAt(file, end.directoryOffset, directory.data(), end.directorySize)) {
        return false;
    }
    DWORD position = 0;
    for (DWORD i = 0; i < end.entries; ++i) {
        ZipCentralEntry central;
        BYTE header[ZIP_LOCAL_HEADER_SIZE];
        unsigned nameLength = 0;
        unsigned extraLength = 0;
        if (!ReadZipCentralEntry(directory.data() + position, end.directorySize - position,
                                 central) ||
            !ReadAt(file, central.localHeaderOffset, header, sizeof(header)) ||
            !ReadZipLocalHeader(header, sizeof(header), nameLength, extraLength)) {
            return false;
        }
        position += central.recordSize;
        entries.push_back(
            {std::string(central.name, central.nameLength), central.method, central.compressedSize,
             central.uncompressedSize,
             central.localHeaderOffset + ZIP_LOCAL_HEADER_SIZE + nameLength + extraLength});
    }
    return true;
}

double ReadStep(HANDLE file, const std::vector<Entry>& entries, BYTE* buffer)
{
    const double start = NowMs();
    for (const Entry& entry : entries) {
        for (DWORD done = 0; done < entry.compressedSize;) {
            const DWORD count = std::min(kPiece, entry.compressedSize - done);
            ReadAt(file, entry.dataOffset + done, buffer, count);
            done += count;
        }
    }
    return NowMs() - start;
}

// Decodes every deflated entry whose compressed bytes were read into
// memory beforehand; answers the milliseconds of decoding alone.
double InflateStep(HANDLE file, const std::vector<Entry>& entries, BYTE* output)
{
    double decoding = 0;
    std::vector<BYTE> input;
    for (const Entry& entry : entries) {
        if (entry.method != ZIP_METHOD_DEFLATED) {
            continue;
        }
        input.resize(entry.compressedSize + 1);
        ReadAt(file, entry.dataOffset, input.data(), entry.compressedSize);
        const double start = NowMs();
        z_stream stream = {};
        inflateInit2(&stream, -MAX_WBITS);
        stream.next_in = input.data();
        stream.avail_in = entry.compressedSize;
        int status = Z_OK;
        while (status == Z_OK) {
            stream.next_out = output;
            stream.avail_out = kPiece;
            status = inflate(&stream, Z_NO_FLUSH);
        }
        inflateEnd(&stream);
        decoding += NowMs() - start;
    }
    return decoding;
}

double CrcStep(const std::vector<Entry>& entries, const BYTE* buffer)
{
    const double start = NowMs();
    uLong crc = 0;
    for (const Entry& entry : entries) {
        for (DWORD done = 0; done < entry.uncompressedSize;) {
            const DWORD count = std::min(kPiece, entry.uncompressedSize - done);
            crc = crc32(crc, buffer, count);
            done += count;
        }
    }
    const double elapsed = NowMs() - start;
    // Kept, so that the sums are not left out as unused.
    static volatile uLong kept;
    kept = crc;
    return elapsed;
}

std::wstring Wide(const std::string& text)
{
    std::wstring wide;
    for (char c : text) {
        wide += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return wide;
}

// Creates the folders and files of the archive below folder, each file with
// its unpacked size when withData; folders already made are remembered.
double FilesStep(const std::wstring& folder, const std::vector<Entry>& entries, const BYTE* buffer,
                 DWORD writeSize, bool withData)
{
    const double start = NowMs();
    std::wstring madeFolder;
    FILETIME time = {0xD53E8000, 0x01D4E7A1};
    for (const Entry& entry : entries) {
        const std::wstring path = folder + Wide(entry.name);
        if (path.back() == L'\\') {
            CreateDirectoryW(path.c_str(), nullptr);
            continue;
        }
        const std::wstring parent = path.substr(0, path.rfind(L'\\'));
        if (parent != madeFolder) {
            for (size_t at = folder.size(); at != std::wstring::npos;
                 at = parent.find(L'\\', at + 1)) {
                CreateDirectoryW(parent.substr(0, at).c_str(), nullptr);
            }
            CreateDirectoryW(parent.c_str(), nullptr);
            madeFolder = parent;
        }
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            continue;
        }
        for (DWORD done = 0; withData && done < entry.uncompressedSize;) {
            const DWORD count = std::min(writeSize, entry.uncompressedSize - done);
            DWORD written = 0;
            WriteFile(file, buffer, count, &written, nullptr);
            done += count;
        }
        if (withData) {
            SetFileTime(file, nullptr, &time, &time);
        }
        CloseHandle(file);
    }
    return NowMs() - start;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: bench_zip_steps ARCHIVE FOLDER\\\n");
        return 2;
    }
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    std::vector<Entry> entries;
    if (file == INVALID_HANDLE_VALUE || !ReadEntries(file, entries)) {
        fprintf(stderr, "bench_zip_steps: cannot read %s\n", argv[1]);
        return 1;
    }
    std::vector<BYTE> buffer(kPiece, 'x');
    const std::wstring folder = Wide(argv[2]);
    printf("read           %8.0f ms\n", ReadStep(file, entries, buffer.data()));
    printf("inflate        %8.0f ms\n", InflateStep(file, entries, buffer.data()));
    printf("crc            %8.0f ms\n", CrcStep(entries, buffer.data()));
    printf("files          %8.0f ms\n",
           FilesStep(folder + L"files\\", entries, buffer.data(), kPiece, true));
    printf("empty files    %8.0f ms\n",
           FilesStep(folder + L"empty\\", entries, buffer.data(), kPiece, false));
    CloseHandle(file);
    return 0;
}
