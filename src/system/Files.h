#pragma once

#include <windows.h>

#include "base/ScopedHandle.h"

class WideString;

// Capacity, in wide characters, of every path buffer these functions fill.
constexpr unsigned FOLDER_PATH_CAPACITY = MAX_PATH;

// Folder ids beyond the shell's own (CSIDL values lie below 0x10000).
constexpr int FOLDER_ALL_PROFILES = 0x10000;
constexpr int FOLDER_USER_PROFILE = 0x10001;
constexpr int FOLDER_DEFAULT_PROFILE = 0x10002;
constexpr int FOLDER_SYSTEM_TEMP = 0x10003;
constexpr int FOLDER_WINDOWS = 0x10004;
constexpr int FOLDER_USER_TEMP = 0x10005;
constexpr int FOLDER_SYSTEM = 0x10006;
constexpr int FOLDER_CURRENT = 0x10007;

// Fills path (FOLDER_PATH_CAPACITY characters) with a well-known folder;
// 1 when a path was produced. The path is left untouched on failure.
int GetFolderPath(int folderId, wchar_t* path);

// Appends "\" unless the text already ends with one; an empty text stays
// empty. 0, with the text unchanged, when the buffer has no room.
int AddBackslash(wchar_t* path, unsigned capacity = FOLDER_PATH_CAPACITY);

// Clears the attributes (read-only included) and deletes the file.
int DeleteFileForced(const wchar_t* path);

// Open modes of FileObject.
constexpr int FILE_MODE_READ = 0;              // read, existing file
constexpr int FILE_MODE_CREATE = 1;            // write, always a new file
constexpr int FILE_MODE_WRITE_EXISTING = 2;    // write, existing file
constexpr int FILE_MODE_WRITE_ALWAYS = 3;      // write, opened or created
constexpr int FILE_MODE_READ_WRITE_ALWAYS = 4; // read and write, opened or created
constexpr int FILE_MODE_READ_WRITE = 5;        // read and write, existing file

// Access and creation disposition of an open mode; 0 for an unknown mode.
int FileModeAccess(int mode, DWORD* access, DWORD* creation);
// Page protection and view access of a mapping of a file opened in mode.
void MappingAccessFor(int mode, DWORD* protection, DWORD* viewAccess);

// Size of the pieces a write falls back to when the system lacks the
// resources for one large write.
constexpr DWORD FILE_WRITE_PIECE = 1048576;

// Writes data in pieces of at most pieceSize bytes through writePiece, which
// answers 1 and the bytes it wrote. 1 when everything was written; 0 when a
// piece fails or is written short.
using WritePieceFunction = int (*)(void* context, const BYTE* data, DWORD count, DWORD* written);
int WriteInPieces(const BYTE* data, DWORD count, DWORD pieceSize, WritePieceFunction writePiece,
                  void* context);

// One file with an optional memory mapping of it. Destruction closes view,
// mapping and file, in that order.
class FileObject
{
public:
    FileObject() = default;
    FileObject(const FileObject&) = delete;
    FileObject& operator=(const FileObject&) = delete;

    // Closes whatever the object held, then opens path in one of the
    // FILE_MODE_ modes.
    int Open(const wchar_t* path, int mode, DWORD flagsAndAttributes = FILE_ATTRIBUTE_NORMAL,
             DWORD shareMode = 0);
    // Without written, 1 only when every byte was written.
    int Write(DWORD count, const void* data, DWORD* written = nullptr);
    // 0 when no file is open or the size cannot be read.
    ULONGLONG GetSize() const;
    int Seek(DWORD moveMethod, LONGLONG distance);
    // Ends the file at the current position.
    int SetEnd();
    // Maps size bytes (0: to the end) from offset, read-only for mode 0.
    // A named mapping is opened, not created, with nameAccess. On failure
    // everything the object held is released and null answered.
    void* Map(ULONGLONG offset, ULONGLONG size, const wchar_t* name = nullptr,
              DWORD nameAccess = 0);
    // 1 when anything was released.
    int Close();

    HANDLE Handle() const { return file_.Get(); }
    bool IsOpen() const { return file_.IsValid(); }
    void* View() const { return view_.Get(); }

private:
    // Released view first, file last.
    ScopedHandle file_;
    ScopedHandle mapping_;
    ScopedMappedView view_;
    int mode_ = FILE_MODE_READ;
};

// Starts a program or opens a document through the shell; 1 on success. The
// elevate flag asks for the verb "runas". A structured exception raised
// inside the shell answers 0.
int ShellRun(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
             int showCommand, int elevate, const wchar_t* verb);
// The file or address with its default verb.
int ShellOpen(const wchar_t* fileOrAddress);
// The address in the user's default browser, through the URL protocol
// handler.
int OpenUrl(const wchar_t* address);
// The program OpenUrl runs: rundll32.exe of the system folder.
int UrlHandlerProgram(WideString& path);
// The command-line parameters OpenUrl hands to rundll32.exe.
int UrlHandlerParameters(const wchar_t* address, WideString& parameters);
