#pragma once

#include <windows.h>
#include <dbghelp.h>

#include "base/DynamicLibrary.h"

// The debug-help library and NtQueryInformationThread, bound at run time
// only while a crash report is written: the minidump writer, symbol names
// for addresses and the walk of the crashing thread's stack.
class DebugHelp
{
public:
    using MiniDumpWriteDumpFunction = decltype(&::MiniDumpWriteDump);
    using QueryThreadFunction = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);

    DebugHelp() = default;
    ~DebugHelp() { Unload(); }
    DebugHelp(const DebugHelp&) = delete;
    DebugHelp& operator=(const DebugHelp&) = delete;

    // 1 when dbghelp.dll, its ten entry points and the symbol handler are
    // ready; otherwise 0 with nothing left loaded.
    int Load();
    void Unload();
    bool IsBound() const { return dbghelp_.Handle() != nullptr; }

    MiniDumpWriteDumpFunction MiniDumpWriter() const { return miniDumpWriteDump_; }
    // Null when ntdll.dll lacks it.
    QueryThreadFunction QueryThread() const { return queryThread_; }

    // One line per frame of the stack that the context describes. The
    // context is walked on a copy; nothing happens when not bound.
    void WalkStack(const CONTEXT* context, HANDLE file) const;
    // The symbol's name (with " - Offset: 0x..." when displacement is asked
    // for and not 0), else "module@0xoffset"; 0 when the module is unknown.
    int DescribeAddress(DWORD64 address, char* text, size_t size,
                        DWORD64* displacement = nullptr) const;
    // The module's short name; base receives its load address.
    int DescribeModule(DWORD64 address, char* name, size_t size, DWORD64* base) const;

private:
    int BindEntries();
    int SourceLine(DWORD64 address, DWORD* line, char* file, size_t size) const;
    void WriteFrame(const STACKFRAME64& frame, HANDLE file) const;

    DynamicLibrary dbghelp_;
    DynamicLibrary ntdll_;
    MiniDumpWriteDumpFunction miniDumpWriteDump_ = nullptr;
    decltype(&::SymInitialize) symInitialize_ = nullptr;
    decltype(&::SymSetOptions) symSetOptions_ = nullptr;
    decltype(&::SymGetSymFromAddr64) symGetSymFromAddr64_ = nullptr;
    decltype(&::SymFromAddr) symFromAddr_ = nullptr;
    decltype(&::SymGetModuleInfo64) symGetModuleInfo64_ = nullptr;
    decltype(&::StackWalk64) stackWalk64_ = nullptr;
    decltype(&::SymFunctionTableAccess64) symFunctionTableAccess64_ = nullptr;
    decltype(&::SymGetModuleBase64) symGetModuleBase64_ = nullptr;
    decltype(&::SymGetLineFromAddr64) symGetLineFromAddr64_ = nullptr;
    QueryThreadFunction queryThread_ = nullptr;
};

// The decisions of the stack trace as functions of plain values.

// The symbol search path: the program's folder (with its backslash), then
// each variable that is set, ";"-separated without a final ";". Null or
// empty pieces are left out.
void BuildSymbolPath(const wchar_t* programFolder, const wchar_t* symbolPath,
                     const wchar_t* alternatePath, const wchar_t* systemRoot, wchar_t* path,
                     size_t size);

// An address as the report prints it: on 32-bit builds a sign-extended
// address (high half 0xFFFFFFFF) loses its high half.
DWORD64 DisplayAddress(DWORD64 address);

// Frames in the system call page (0x7FFE0000-0x7FFEFFFF) are not printed.
bool IsSystemCallPage(DWORD64 address);

// "module@0xoffset", or "0xoffset@0xoffset" when the name is empty; the
// offset is the address itself when it lies below the base.
void FormatModuleOffset(const char* module, DWORD64 base, DWORD64 address, char* text, size_t size);

// One stack line. line 0 means no source line; module null or empty means
// none. Answers the narrow text in line's buffer.
struct StackLine
{
    const char* symbol = "";
    DWORD64 parameters[4] = {};
    DWORD lineNumber = 0;
    const char* sourceFile = nullptr;
    const char* module = nullptr;
};
void FormatStackLine(const StackLine& frame, char* text, size_t size);
