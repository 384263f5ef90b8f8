#include "crash/DebugHelp.h"

#include <string.h>

#include "base/WideString.h"
#include "crash/NarrowText.h"

namespace {

constexpr DWORD kModuleInfoSize = 1672;

// Room for names in the two symbol records.
constexpr DWORD kSymbolNameRoom = 412;
constexpr DWORD kLegacySymbolNameRoom = 476;
constexpr DWORD kVariableRoom = 260;

#if defined(_M_IX86) || defined(__i386__)
constexpr DWORD kStackMachine = IMAGE_FILE_MACHINE_I386;
#else
constexpr DWORD kStackMachine = IMAGE_FILE_MACHINE_AMD64;
#endif

void AppendPiece(wchar_t* path, size_t size, const wchar_t* piece)
{
    if (!piece || !*piece) {
        return;
    }
    size_t used = wcslen(path);
    size_t needed = wcslen(piece) + 1;
    if (used + needed >= size) {
        return;
    }
    wcscpy(path + used, piece);
    wcscpy(path + used + needed - 1, L";");
}

// An environment variable of at most 260 characters, else empty.
const wchar_t* ReadVariable(const wchar_t* name, wchar_t (&value)[kVariableRoom + 1])
{
    DWORD length = GetEnvironmentVariableW(name, value, kVariableRoom + 1);
    if (length == 0 || length > kVariableRoom) {
        value[0] = 0;
    }
    return value;
}

// The executable's folder with its trailing backslash, or empty.
const wchar_t* ProgramFolder(wchar_t (&folder)[MAX_PATH])
{
    DWORD length = GetModuleFileNameW(nullptr, folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        folder[0] = 0;
        return folder;
    }
    wchar_t* slash = wcsrchr(folder, L'\\');
    if (slash) {
        slash[1] = 0;
    } else {
        folder[0] = 0;
    }
    return folder;
}

const char* FileNameOf(const char* path)
{
    const char* slash = strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

void SetFlat(ADDRESS64& address, DWORD64 offset)
{
    address.Offset = offset;
    address.Mode = AddrModeFlat;
}

void StartFrame(const CONTEXT& context, STACKFRAME64& frame)
{
    memset(&frame, 0, sizeof(frame));
#if defined(_M_IX86) || defined(__i386__)
    SetFlat(frame.AddrPC, context.Eip);
    SetFlat(frame.AddrFrame, context.Ebp);
#else
    // The x64 walker unwinds from the stack pointer; the frame pointer
    // alone does not carry it.
    SetFlat(frame.AddrPC, context.Rip);
    SetFlat(frame.AddrFrame, context.Rbp);
    SetFlat(frame.AddrStack, context.Rsp);
#endif
}

DWORD64 FrameParameter(DWORD64 value)
{
    // A parameter is one stack slot wide.
    return sizeof(void*) == 4 ? (value & 0xFFFFFFFF) : value;
}

} // namespace

int DebugHelp::Load()
{
    Unload();
    if (!dbghelp_.Load(L"dbghelp.dll") || !BindEntries()) {
        Unload();
        return 0;
    }
    if (ntdll_.Load(L"ntdll.dll")) {
        queryThread_ = ntdll_.Symbol<QueryThreadFunction>("NtQueryInformationThread");
    }
    symSetOptions_(SYMOPT_LOAD_LINES);

    wchar_t folder[MAX_PATH];
    wchar_t symbolPath[kVariableRoom + 1];
    wchar_t alternatePath[kVariableRoom + 1];
    wchar_t systemRoot[kVariableRoom + 1];
    wchar_t path[MAX_PATH + 3 * (kVariableRoom + 1) + 1];
    BuildSymbolPath(ProgramFolder(folder), ReadVariable(L"_NT_SYMBOL_PATH", symbolPath),
                    ReadVariable(L"_NT_ALTERNATE_SYMBOL_PATH", alternatePath),
                    ReadVariable(L"SYSTEMROOT", systemRoot), path, sizeof(path) / sizeof(path[0]));
    WideString widePath(path);
    const char* narrowPath = widePath.ToNarrow();
    if (!narrowPath || !symInitialize_(GetCurrentProcess(), narrowPath, TRUE)) {
        Unload();
        return 0;
    }
    return 1;
}

int DebugHelp::BindEntries()
{
    // Looked up in this order; the first one missing ends the binding.
    return (miniDumpWriteDump_ =
                dbghelp_.Symbol<decltype(miniDumpWriteDump_)>("MiniDumpWriteDump")) &&
           (symInitialize_ = dbghelp_.Symbol<decltype(symInitialize_)>("SymInitialize")) &&
           (symSetOptions_ = dbghelp_.Symbol<decltype(symSetOptions_)>("SymSetOptions")) &&
           (symGetSymFromAddr64_ =
                dbghelp_.Symbol<decltype(symGetSymFromAddr64_)>("SymGetSymFromAddr64")) &&
           (symFromAddr_ = dbghelp_.Symbol<decltype(symFromAddr_)>("SymFromAddr")) &&
           (symGetModuleInfo64_ =
                dbghelp_.Symbol<decltype(symGetModuleInfo64_)>("SymGetModuleInfo64")) &&
           (stackWalk64_ = dbghelp_.Symbol<decltype(stackWalk64_)>("StackWalk64")) &&
           (symFunctionTableAccess64_ =
                dbghelp_.Symbol<decltype(symFunctionTableAccess64_)>("SymFunctionTableAccess64")) &&
           (symGetModuleBase64_ =
                dbghelp_.Symbol<decltype(symGetModuleBase64_)>("SymGetModuleBase64")) &&
           (symGetLineFromAddr64_ =
                dbghelp_.Symbol<decltype(symGetLineFromAddr64_)>("SymGetLineFromAddr64"));
}

void DebugHelp::Unload()
{
    // The symbol handler is not cleaned up: unloading the library ends it.
    dbghelp_.Free();
    ntdll_.Free();
    miniDumpWriteDump_ = nullptr;
    symInitialize_ = nullptr;
    symSetOptions_ = nullptr;
    symGetSymFromAddr64_ = nullptr;
    symFromAddr_ = nullptr;
    symGetModuleInfo64_ = nullptr;
    stackWalk64_ = nullptr;
    symFunctionTableAccess64_ = nullptr;
    symGetModuleBase64_ = nullptr;
    symGetLineFromAddr64_ = nullptr;
    queryThread_ = nullptr;
}

void DebugHelp::WalkStack(const CONTEXT* context, HANDLE file) const
{
    if (!IsBound() || !context) {
        return;
    }
    UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    // The walker rewrites the context as it unwinds; the crashed thread's
    // own record stays as it was.
    CONTEXT walked = *context;
    STACKFRAME64 frame;
    StartFrame(walked, frame);
    DWORD64 previousCounter = 0;
    do {
        if (!stackWalk64_(kStackMachine, GetCurrentProcess(), nullptr, &frame, &walked, nullptr,
                          symFunctionTableAccess64_, symGetModuleBase64_, nullptr) ||
            frame.AddrPC.Offset == previousCounter) {
            break;
        }
        previousCounter = frame.AddrPC.Offset;
        if (!IsSystemCallPage(frame.AddrPC.Offset)) {
            WriteFrame(frame, file);
        }
    } while (frame.AddrReturn.Offset != 0);
    SetErrorMode(previousMode);
}

void DebugHelp::WriteFrame(const STACKFRAME64& frame, HANDLE file) const
{
    const DWORD64 counter = frame.AddrPC.Offset;
    char symbol[kLegacySymbolNameRoom + 64];
    if (!DescribeAddress(counter, symbol, sizeof(symbol))) {
        FormatNarrow(symbol, sizeof(symbol), "0x%08I64X", DisplayAddress(counter));
    }
    StackLine line;
    line.symbol = symbol;
    for (int i = 0; i < 4; ++i) {
        line.parameters[i] = FrameParameter(frame.Params[i]);
    }
    char source[MAX_PATH] = "";
    char module[MAX_PATH] = "";
    DWORD64 base = 0;
    if (SourceLine(counter, &line.lineNumber, source, sizeof(source))) {
        line.sourceFile = source;
    } else if (DescribeModule(counter, module, sizeof(module), &base)) {
        line.module = module;
    }
    char text[2 * MAX_PATH + kLegacySymbolNameRoom + 128];
    FormatStackLine(line, text, sizeof(text));
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

int DebugHelp::SourceLine(DWORD64 address, DWORD* line, char* file, size_t size) const
{
    IMAGEHLP_LINE64 record;
    memset(&record, 0, sizeof(record));
    record.SizeOfStruct = sizeof(record);
    DWORD displacement = 0;
    if (!symGetLineFromAddr64_(GetCurrentProcess(), address, &displacement, &record) ||
        record.LineNumber == 0) {
        return 0;
    }
    *line = record.LineNumber;
    CopyNarrow(file, size, record.FileName ? record.FileName : "");
    return 1;
}

int DebugHelp::DescribeAddress(DWORD64 address, char* text, size_t size,
                               DWORD64* displacement) const
{
    if (!IsBound() || !text || size == 0) {
        return 0;
    }
    union
    {
        SYMBOL_INFO info;
        char room[sizeof(SYMBOL_INFO) + kSymbolNameRoom];
    } symbol;
    memset(&symbol, 0, sizeof(symbol));
    symbol.info.SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol.info.MaxNameLen = kSymbolNameRoom;
    union
    {
        IMAGEHLP_SYMBOL64 info;
        char room[sizeof(IMAGEHLP_SYMBOL64) + kLegacySymbolNameRoom];
    } legacy;
    memset(&legacy, 0, sizeof(legacy));
    legacy.info.SizeOfStruct = sizeof(IMAGEHLP_SYMBOL64);
    legacy.info.MaxNameLength = kLegacySymbolNameRoom;

    DWORD64 offset = 0;
    const char* name = nullptr;
    if (symFromAddr_(GetCurrentProcess(), address, &offset, &symbol.info)) {
        name = symbol.info.Name;
    } else if (symGetSymFromAddr64_(GetCurrentProcess(), address, &offset, &legacy.info)) {
        name = legacy.info.Name;
    }
    if (name) {
        size_t length = CopyNarrow(text, size, name);
        if (displacement) {
            *displacement = offset;
            if (offset != 0) {
                FormatNarrow(text + length, size - length, " - Offset: 0x%I64X", offset);
            }
        }
        return 1;
    }
    char module[MAX_PATH];
    DWORD64 base = 0;
    if (!DescribeModule(address, module, sizeof(module), &base)) {
        return 0;
    }
    FormatModuleOffset(module, base, address, text, size);
    return 1;
}

int DebugHelp::DescribeModule(DWORD64 address, char* name, size_t size, DWORD64* base) const
{
    if (!IsBound() || !name || size == 0) {
        return 0;
    }
    IMAGEHLP_MODULE64 module;
    memset(&module, 0, sizeof(module));
    // The size of the record's first published form: newer headers add
    // fields (1680 bytes here), and older dbghelp versions refuse a record
    // larger than they know.
    module.SizeOfStruct = kModuleInfoSize;
    if (symGetModuleInfo64_(GetCurrentProcess(), address, &module)) {
        CopyNarrow(name, size, module.ModuleName);
        *base = module.BaseOfImage;
        return 1;
    }
    DWORD64 moduleBase = symGetModuleBase64_(GetCurrentProcess(), address);
    if (moduleBase == 0) {
        return 0;
    }
    char path[MAX_PATH] = "";
    HMODULE handle = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(moduleBase));
    if (GetModuleFileNameA(handle, path, MAX_PATH) == 0) {
        path[0] = 0;
    }
    CopyNarrow(name, size, FileNameOf(path));
    *base = moduleBase;
    return 1;
}

void BuildSymbolPath(const wchar_t* programFolder, const wchar_t* symbolPath,
                     const wchar_t* alternatePath, const wchar_t* systemRoot, wchar_t* path,
                     size_t size)
{
    if (!path || size == 0) {
        return;
    }
    path[0] = 0;
    AppendPiece(path, size, programFolder);
    AppendPiece(path, size, symbolPath);
    AppendPiece(path, size, alternatePath);
    AppendPiece(path, size, systemRoot);
    size_t length = wcslen(path);
    if (length > 0) {
        path[length - 1] = 0;
    }
}

DWORD64 DisplayAddress(DWORD64 address)
{
    if (sizeof(void*) == 4 && (address >> 32) == 0xFFFFFFFF) {
        return address & 0xFFFFFFFF;
    }
    return address;
}

bool IsSystemCallPage(DWORD64 address)
{
    return (address >> 16) == 0x7FFE;
}

void FormatModuleOffset(const char* module, DWORD64 base, DWORD64 address, char* text, size_t size)
{
    DWORD64 offset = address >= base ? address - base : address;
    if (module && *module) {
        FormatNarrow(text, size, "%s@0x%I64X", module, offset);
    } else {
        FormatNarrow(text, size, "0x%I64X@0x%I64X", offset, offset);
    }
}

void FormatStackLine(const StackLine& frame, char* text, size_t size)
{
    const DWORD64* p = frame.parameters;
    WideString line(1024);
    if (frame.lineNumber != 0) {
        Format(line, L"%hs(0x%I64X,0x%I64X,0x%I64X,0x%I64X) - Line %u in %hs\r\n", frame.symbol,
               p[0], p[1], p[2], p[3], frame.lineNumber, frame.sourceFile ? frame.sourceFile : "");
    } else if (frame.module && *frame.module) {
        Format(line, L"%hs:%hs(0x%I64X,0x%I64X,0x%I64X,0x%I64X)\r\n", frame.module, frame.symbol,
               p[0], p[1], p[2], p[3]);
    } else {
        Format(line, L"%hs(0x%I64X,0x%I64X,0x%I64X,0x%I64X)\r\n", frame.symbol, p[0], p[1], p[2],
               p[3]);
    }
    const char* narrow = line.ToNarrow();
    CopyNarrow(text, size, narrow ? narrow : "");
}
