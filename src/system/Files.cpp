#include "system/Files.h"

#include <shlobj.h>
#include <wchar.h>

#include "base/Com.h"
#include "base/DynamicLibrary.h"
#include "base/ScopedHandle.h"
#include "base/WideString.h"
#include "system/GuardedCall.h"
#include "system/Registry.h"
#include "system/Shell32.h"

namespace {

const wchar_t kEnvironmentKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// Copies a produced path into the caller's buffer; 0 when it does not fit.
int CopyPath(const wchar_t* text, wchar_t* path)
{
    const size_t length = wcslen(text);
    if (length >= FOLDER_PATH_CAPACITY) {
        return 0;
    }
    wmemcpy(path, text, length + 1);
    return 1;
}

// The Windows and system folders get their backslash only while the text
// is shorter than 258 characters.
void AddBackslashWhenShort(wchar_t* path)
{
    if (wcslen(path) < 258) {
        AddBackslash(path);
    }
}

int ShellFolderPath(int folderId, wchar_t* path)
{
    const auto getMalloc = Shell32Function<decltype(&::SHGetMalloc)>("SHGetMalloc");
    const auto getLocation =
        Shell32Function<decltype(&::SHGetSpecialFolderLocation)>("SHGetSpecialFolderLocation");
    const auto pathFromList =
        Shell32Function<decltype(&::SHGetPathFromIDListW)>("SHGetPathFromIDListW");
    ComPtr<IMalloc> allocator;
    if (!getMalloc || FAILED(getMalloc(allocator.Put())) || !allocator) {
        return 0;
    }
    wchar_t buffer[MAX_PATH] = {};
    int found = 0;
    LPITEMIDLIST items = nullptr;
    if (getLocation && pathFromList && SUCCEEDED(getLocation(nullptr, folderId, &items)) && items) {
        found = pathFromList(items, buffer) ? 1 : 0;
        allocator->Free(items);
    }
    if (!found) {
        DynamicLibrary shfolder(L"shfolder.dll");
        using GetFolderPathFunction = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
        auto getFolderPath = shfolder.Symbol<GetFolderPathFunction>("SHGetFolderPathW");
        buffer[0] = L'\0';
        found = getFolderPath && getFolderPath(nullptr, folderId, nullptr, 0, buffer) == S_OK;
    }
    return found ? CopyPath(buffer, path) : 0;
}

int ProfilesFolder(int folderId, wchar_t* path)
{
    DynamicLibrary userenv(L"userenv.dll");
    wchar_t buffer[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    int found = 0;
    if (folderId == FOLDER_ALL_PROFILES) {
        using Function = BOOL(WINAPI*)(LPWSTR, LPDWORD);
        auto function = userenv.Symbol<Function>("GetProfilesDirectoryW");
        found = function && function(buffer, &size);
    } else if (folderId == FOLDER_DEFAULT_PROFILE) {
        using Function = BOOL(WINAPI*)(LPWSTR, LPDWORD);
        auto function = userenv.Symbol<Function>("GetDefaultUserProfileDirectoryW");
        found = function && function(buffer, &size);
    } else {
        DynamicLibrary advapi32(L"advapi32.dll");
        using OpenTokenFunction = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
        using ProfileFunction = BOOL(WINAPI*)(HANDLE, LPWSTR, LPDWORD);
        auto openToken = advapi32.Symbol<OpenTokenFunction>("OpenProcessToken");
        auto function = userenv.Symbol<ProfileFunction>("GetUserProfileDirectoryW");
        ScopedHandle token;
        found = openToken && function &&
                openToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()) &&
                function(token.Get(), buffer, &size);
    }
    return found ? CopyPath(buffer, path) : 0;
}

int SystemTempFolder(wchar_t* path)
{
    WideString value;
    RegistryKey key;
    const int hasValue = key.Open(HKEY_LOCAL_MACHINE, kEnvironmentKey) &&
                         (key.ReadString(L"TMP", value) || key.ReadString(L"TEMP", value));
    wchar_t buffer[MAX_PATH] = {};
    if (hasValue) {
        const DWORD needed = ExpandEnvironmentStringsW(value.Data(), buffer, MAX_PATH);
        if (needed == 0 || needed > MAX_PATH) {
            return 0;
        }
    } else {
        const UINT length = GetWindowsDirectoryW(buffer, MAX_PATH);
        if (length == 0 || length >= MAX_PATH || !AddBackslash(buffer) ||
            wcslen(buffer) + 5 >= MAX_PATH) {
            return 0;
        }
        wcscat(buffer, L"Temp\\");
    }
    if (buffer[0] == L'\0' || !AddBackslash(buffer)) {
        return 0;
    }
    return CopyPath(buffer, path);
}

int SimpleFolder(int folderId, wchar_t* path)
{
    wchar_t buffer[MAX_PATH] = {};
    switch (folderId) {
    case FOLDER_WINDOWS: {
        const UINT length = GetWindowsDirectoryW(buffer, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return 0;
        }
        AddBackslashWhenShort(buffer);
        break;
    }
    case FOLDER_SYSTEM: {
        const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return 0;
        }
        AddBackslashWhenShort(buffer);
        break;
    }
    case FOLDER_USER_TEMP:
    case FOLDER_CURRENT: {
        // These answer 1 even when the system call fails: the text is then
        // empty (the buffer's content is undefined after a failure).
        const DWORD length = folderId == FOLDER_USER_TEMP ? GetTempPathW(MAX_PATH, buffer)
                                                          : GetCurrentDirectoryW(MAX_PATH, buffer);
        if (length == 0 || length >= MAX_PATH) {
            buffer[0] = L'\0';
        }
        AddBackslash(buffer);
        break;
    }
    default:
        return 0;
    }
    return CopyPath(buffer, path);
}

} // namespace

int GetFolderPath(int folderId, wchar_t* path)
{
    if (!path || folderId < 0) {
        return 0;
    }
    if (folderId < FOLDER_ALL_PROFILES) {
        return ShellFolderPath(folderId, path);
    }
    switch (folderId) {
    case FOLDER_ALL_PROFILES:
    case FOLDER_USER_PROFILE:
    case FOLDER_DEFAULT_PROFILE:
        return ProfilesFolder(folderId, path);
    case FOLDER_SYSTEM_TEMP:
        return SystemTempFolder(path);
    default:
        return SimpleFolder(folderId, path);
    }
}

int AddBackslash(wchar_t* path, unsigned capacity)
{
    if (!path) {
        return 0;
    }
    const size_t length = wcslen(path);
    if (length == 0 || path[length - 1] == L'\\') {
        return 1;
    }
    if (length + 2 > capacity) {
        return 0;
    }
    path[length] = L'\\';
    path[length + 1] = L'\0';
    return 1;
}

int DeleteFileForced(const wchar_t* path)
{
    if (!path) {
        return 0;
    }
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path) ? 1 : 0;
}

int FileModeAccess(int mode, DWORD* access, DWORD* creation)
{
    static const struct
    {
        DWORD access;
        DWORD creation;
    } kModes[] = {
        {GENERIC_READ, OPEN_EXISTING},
        {GENERIC_WRITE, CREATE_ALWAYS},
        {GENERIC_WRITE, OPEN_EXISTING},
        {GENERIC_WRITE, OPEN_ALWAYS},
        {GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS},
        {GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING},
    };
    if (mode < 0 || mode >= static_cast<int>(sizeof(kModes) / sizeof(kModes[0]))) {
        return 0;
    }
    *access = kModes[mode].access;
    *creation = kModes[mode].creation;
    return 1;
}

void MappingAccessFor(int mode, DWORD* protection, DWORD* viewAccess)
{
    const bool readOnly = mode == FILE_MODE_READ;
    *protection = readOnly ? PAGE_READONLY : PAGE_READWRITE;
    *viewAccess = readOnly ? FILE_MAP_READ : FILE_MAP_ALL_ACCESS;
}

int WriteInPieces(const BYTE* data, DWORD count, DWORD pieceSize, WritePieceFunction writePiece,
                  void* context)
{
    if (pieceSize == 0) {
        return 0;
    }
    while (count > 0) {
        const DWORD piece = count < pieceSize ? count : pieceSize;
        DWORD written = 0;
        if (!writePiece(context, data, piece, &written) || written != piece) {
            return 0;
        }
        data += piece;
        count -= piece;
    }
    return 1;
}

namespace {

int WriteFilePiece(void* context, const BYTE* data, DWORD count, DWORD* written)
{
    return WriteFile(static_cast<HANDLE>(context), data, count, written, nullptr) ? 1 : 0;
}

} // namespace

int FileObject::Open(const wchar_t* path, int mode, DWORD flagsAndAttributes, DWORD shareMode)
{
    Close();
    DWORD access = 0;
    DWORD creation = 0;
    if (!path || !FileModeAccess(mode, &access, &creation)) {
        return 0;
    }
    HANDLE file =
        CreateFileW(path, access, shareMode, nullptr, creation, flagsAndAttributes, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    file_.Reset(file);
    mode_ = mode;
    return 1;
}

int FileObject::Write(DWORD count, const void* data, DWORD* written)
{
    if (!file_ || (!data && count)) {
        return 0;
    }
    DWORD done = 0;
    if (WriteFile(file_.Get(), data, count, &done, nullptr)) {
        if (written) {
            *written = done;
            return 1;
        }
        return done == count ? 1 : 0;
    }
    if (written || GetLastError() != ERROR_NO_SYSTEM_RESOURCES) {
        return 0;
    }
    // Large writes to some devices fail for lack of kernel resources; they
    // go through in smaller pieces.
    return WriteInPieces(static_cast<const BYTE*>(data), count, FILE_WRITE_PIECE, &WriteFilePiece,
                         file_.Get());
}

ULONGLONG FileObject::GetSize() const
{
    if (!file_) {
        return 0;
    }
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(file_.Get(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        return 0;
    }
    return (static_cast<ULONGLONG>(high) << 32) | low;
}

int FileObject::Seek(DWORD moveMethod, LONGLONG distance)
{
    if (!file_) {
        return 0;
    }
    LONG high = static_cast<LONG>(distance >> 32);
    SetLastError(NO_ERROR);
    const DWORD low =
        SetFilePointer(file_.Get(), static_cast<LONG>(distance & 0xFFFFFFFF), &high, moveMethod);
    return low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR ? 0 : 1;
}

int FileObject::SetEnd()
{
    return file_ && SetEndOfFile(file_.Get()) ? 1 : 0;
}

void* FileObject::Map(ULONGLONG offset, ULONGLONG size, const wchar_t* name, DWORD nameAccess)
{
    DWORD protection = 0;
    DWORD access = 0;
    MappingAccessFor(mode_, &protection, &access);
    if (!mapping_) {
        if (name) {
            mapping_.Reset(OpenFileMappingW(nameAccess, FALSE, name));
            access = nameAccess;
        } else if (file_) {
            // The mapping must reach the end of the requested view; 0 maps
            // the whole file.
            const ULONGLONG extent = size ? offset + size : 0;
            mapping_.Reset(CreateFileMappingW(file_.Get(), nullptr, protection | SEC_COMMIT,
                                              static_cast<DWORD>(extent >> 32),
                                              static_cast<DWORD>(extent & 0xFFFFFFFF), nullptr));
        }
    } else if (name) {
        access = nameAccess;
    }
    view_.Reset();
    if (mapping_) {
        view_.Reset(MapViewOfFile(mapping_.Get(), access, static_cast<DWORD>(offset >> 32),
                                  static_cast<DWORD>(offset & 0xFFFFFFFF),
                                  static_cast<SIZE_T>(size)));
    }
    if (!view_) {
        Close();
        return nullptr;
    }
    return view_.Get();
}

int FileObject::Close()
{
    const int released = view_ || mapping_ || file_ ? 1 : 0;
    view_.Reset();
    mapping_.Reset();
    file_.Reset();
    return released;
}

namespace {

int CallShellExecute(void* context)
{
    const auto execute = Shell32Function<decltype(&::ShellExecuteExW)>("ShellExecuteExW");
    return execute && execute(static_cast<SHELLEXECUTEINFOW*>(context)) ? 1 : 0;
}

} // namespace

int ShellRun(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
             int showCommand, int elevate, const wchar_t* verb)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // Failures stay silent (no shell error box), and the call returns only
    // once the start is complete, since a caller may end the process next.
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = elevate == 1 ? L"runas" : verb;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = directory;
    info.nShow = showCommand;
    return RunGuarded(&CallShellExecute, &info);
}

int ShellOpen(const wchar_t* fileOrAddress)
{
    return ShellRun(fileOrAddress, nullptr, nullptr, SW_SHOWDEFAULT, 0, L"open");
}

int UrlHandlerParameters(const wchar_t* address, WideString& parameters)
{
    return address && Format(parameters, L"url.dll,FileProtocolHandler %s", address);
}

int UrlHandlerProgram(WideString& path)
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return length && length < MAX_PATH && Format(path, L"%s\\rundll32.exe", folder);
}

int OpenUrl(const wchar_t* address)
{
    // By its full path: the shell's search for a bare name may look in the
    // current folder first, where anyone may have put a rundll32.exe.
    WideString program;
    WideString parameters;
    if (!UrlHandlerProgram(program) || !UrlHandlerParameters(address, parameters)) {
        return 0;
    }
    return ShellRun(program.Data(), parameters.Data(), nullptr, SW_SHOWDEFAULT, 0, L"open");
}
