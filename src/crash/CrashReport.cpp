#include "crash/CrashReport.h"

#include <string.h>
#include <wchar.h>

#include "crash/NarrowText.h"

namespace {

struct ExceptionNameEntry
{
    DWORD code;
    const char* name;
};

const ExceptionNameEntry kExceptionNames[] = {
    {0x40010005, "Control-C"},
    {0x40010008, "Control-Break"},
    {0x80000002, "Datatype Misalignment"},
    {0x80000003, "Breakpoint"},
    {0xC0000005, "Access Violation"},
    {0xC0000006, "In Page Error"},
    {0xC0000017, "No Memory"},
    {0xC000001D, "Illegal Instruction"},
    {0xC0000025, "Noncontinuable Exception"},
    {0xC0000026, "Invalid Disposition"},
    {0xC000008C, "Array Bounds Exceeded"},
    {0xC000008D, "Float Denormal Operand"},
    {0xC000008E, "Float Divide by Zero"},
    {0xC000008F, "Float Inexact Result"},
    {0xC0000090, "Float Invalid Operation"},
    {0xC0000091, "Float Overflow"},
    {0xC0000092, "Float Stack Check"},
    {0xC0000093, "Float Underflow"},
    {0xC0000094, "Integer Divide by Zero"},
    {0xC0000095, "Integer Overflow"},
    {0xC0000096, "Privileged Instruction"},
    {0xC00000FD, "Stack Overflow"},
    {0xC0000142, "DLL Initialization Failed"},
    {0xE06D7363, "Microsoft C++ Exception"},
};

constexpr bool kWideBuild = sizeof(void*) == 8;

// Seconds from 1601-01-01 to 1970-01-01.
constexpr ULONGLONG kUnixEpochSeconds = 11644473600ULL;

WORD High(DWORD value)
{
    return HIWORD(value);
}
WORD Low(DWORD value)
{
    return LOWORD(value);
}

// Cuts the text at its last '.' when that lies after the last backslash.
void CutExtensionOfName(wchar_t* path)
{
    wchar_t* dot = wcsrchr(path, L'.');
    wchar_t* slash = wcsrchr(path, L'\\');
    if (dot && (!slash || dot > slash)) {
        *dot = 0;
    }
}

void CopyWide(wchar_t* target, size_t size, const wchar_t* source)
{
    size_t length = wcslen(source);
    if (length >= size) {
        length = size - 1;
    }
    wmemcpy(target, source, length);
    target[length] = 0;
}

} // namespace

const char* ExceptionName(DWORD code)
{
    for (const ExceptionNameEntry& entry : kExceptionNames) {
        if (entry.code == code) {
            return entry.name;
        }
    }
    return "Exception";
}

void FormatExceptionLine(DWORD code, DWORD64 address, DWORD threadId, bool ntFamily, char* text,
                         size_t size)
{
    const char* name = ExceptionName(code);
    if (kWideBuild) {
        FormatNarrow(text, size,
                     ntFamily ? "%s [0x%08X] at 0x%08I64X in Thread %u.\r\n"
                              : "%s [0x%08X] at 0x%08I64X in Thread 0x%08X.\r\n",
                     name, code, address, threadId);
    } else {
        FormatNarrow(text, size,
                     ntFamily ? "%s [0x%08X] at 0x%08X in Thread %u.\r\n"
                              : "%s [0x%08X] at 0x%08X in Thread 0x%08X.\r\n",
                     name, code, static_cast<DWORD>(address), threadId);
    }
}

int FormatAccessLine(const EXCEPTION_RECORD& record, char* text, size_t size)
{
    if (size > 0) {
        text[0] = 0;
    }
    if (record.ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record.NumberParameters < 2) {
        return 0;
    }
    const char* access = record.ExceptionInformation[0] != 0 ? "Write to" : "Read from";
    const ULONG_PTR location = record.ExceptionInformation[1];
    if (kWideBuild) {
        FormatNarrow(text, size, "%s location 0x%08I64X.\r\n", access,
                     static_cast<DWORD64>(location));
    } else {
        FormatNarrow(text, size, "%s location 0x%08X.\r\n", access, static_cast<DWORD>(location));
    }
    return 1;
}

void FormatRegisters(const CONTEXT& c, char* text, size_t size)
{
#if defined(_M_IX86) || defined(__i386__)
    FormatNarrow(text, size,
                 "\r\nEAX=0x%08X, CS=0x%04X, EIP=0x%08X, Flags=0x%08X\r\n"
                 "EBX=0x%08X, SS=0x%04X, ESP=0x%08X, EBP=0x%08X\r\n"
                 "ECX=0x%08X, DS=0x%04X, ESI=0x%08X, FS=0x%04X\r\n"
                 "EDX=0x%08X, ES=0x%04X, EDI=0x%08X, GS=0x%04X\r\n",
                 c.Eax, c.SegCs, c.Eip, c.EFlags, c.Ebx, c.SegSs, c.Esp, c.Ebp, c.Ecx, c.SegDs,
                 c.Esi, c.SegFs, c.Edx, c.SegEs, c.Edi, c.SegGs);
#else
    FormatNarrow(text, size,
                 "\r\nRAX=0x%016I64X, CS=0x%04X, RIP=0x%016I64X, Flags=0x%08X\r\n"
                 "RBX=0x%016I64X, SS=0x%04X, RSP=0x%016I64X, RBP=0x%016I64X\r\n"
                 "RCX=0x%016I64X, DS=0x%04X, RSI=0x%016I64X, FS=0x%04X\r\n"
                 "RDX=0x%016I64X, ES=0x%04X, RDI=0x%016I64X, GS=0x%04X\r\n"
                 "R8=0x%016I64X, R9=0x%016I64X, R10=0x%016I64X, R11=0x%016I64X\r\n"
                 "R12=0x%016I64X, R13=0x%016I64X, R14=0x%016I64X, R15=0x%016I64X\r\n",
                 c.Rax, c.SegCs, c.Rip, c.EFlags, c.Rbx, c.SegSs, c.Rsp, c.Rbp, c.Rcx, c.SegDs,
                 c.Rsi, c.SegFs, c.Rdx, c.SegEs, c.Rdi, c.SegGs, c.R8, c.R9, c.R10, c.R11, c.R12,
                 c.R13, c.R14, c.R15);
#endif
}

void FormatBuildLine(bool wow64, char* text, size_t size)
{
    const char* machine = kWideBuild ? "x64" : (wow64 ? "x86 WOW64" : "x86");
    FormatNarrow(text, size, "%s Unicode\r\n", machine);
}

void FormatModuleTime(DWORD timeStamp, char* date, size_t dateSize, char* time, size_t timeSize)
{
    CopyNarrow(date, dateSize, "");
    CopyNarrow(time, timeSize, "");
    ULARGE_INTEGER ticks;
    ticks.QuadPart = (timeStamp + kUnixEpochSeconds) * 10000000ULL;
    FILETIME universal = {ticks.LowPart, ticks.HighPart};
    FILETIME local;
    SYSTEMTIME parts;
    if (!FileTimeToLocalFileTime(&universal, &local) || !FileTimeToSystemTime(&local, &parts)) {
        return;
    }
    FormatNarrow(date, dateSize, "%2u.%02u.%04u", parts.wDay, parts.wMonth, parts.wYear);
    FormatNarrow(time, timeSize, "%2u:%02u:%02u", parts.wHour, parts.wMinute, parts.wSecond);
}

void FormatModuleLine(const ModuleRecord& m, char* text, size_t size)
{
    char date[32];
    char time[32];
    FormatModuleTime(m.timeStamp, date, sizeof(date), time, sizeof(time));
    // Room for the line end and the terminator.
    constexpr size_t kLineEndRoom = 3;
    if (size < kLineEndRoom) {
        CopyNarrow(text, size, "");
        return;
    }
    size_t length =
        FormatNarrow(text, size,
                     "%8u 0x%08X %10.10s %8.8s 0x%08X 0x%08I64X %4d.%04d.%05d.%06d "
                     "%4d.%04d.%05d.%06d - ",
                     m.imageSize, m.timeStamp, date, time, m.checkSum, m.imageBase,
                     High(m.fileVersion[0]), Low(m.fileVersion[0]), High(m.fileVersion[1]),
                     Low(m.fileVersion[1]), High(m.productVersion[0]), Low(m.productVersion[0]),
                     High(m.productVersion[1]), Low(m.productVersion[1]));
    // The path in the report's code page (the runtime's own conversion uses
    // the "C" locale and drops the whole path at the first character beyond
    // Latin-1); a path too long for the line is cut, and the line always
    // ends.
    length = AppendAnsi(text, length, size - kLineEndRoom, m.path);
    text[length++] = '\r';
    text[length++] = '\n';
    text[length] = 0;
}

void FormatThreadLine(const ThreadRecord& t, const char* symbol, bool ntFamily, char* text,
                      size_t size)
{
    const char* symbolText = symbol ? symbol : "";
    if (kWideBuild) {
        FormatNarrow(text, size,
                     ntFamily ? "%-8u   0x%08I64X 0x%08I64X 0x%08I64X %hs %s\r\n"
                              : "0x%08X 0x%08I64X 0x%08I64X 0x%08I64X %hs %s\r\n",
                     t.id, t.stackBase, t.stackEnd, t.startAddress, symbolText, t.name);
    } else {
        FormatNarrow(text, size,
                     ntFamily ? "%-8u   0x%08I64X 0x%08I64X 0x%08X %hs %s\r\n"
                              : "0x%08X 0x%08I64X 0x%08I64X 0x%08X %hs %s\r\n",
                     t.id, t.stackBase, t.stackEnd, static_cast<DWORD>(t.startAddress), symbolText,
                     t.name);
    }
}

void CopyThreadName(ThreadRecord& thread, const char* name)
{
    CopyNarrow(thread.name, sizeof(thread.name), name);
}

void ReportBases(const wchar_t* programPath, const wchar_t* tempFolder, wchar_t* primary,
                 wchar_t* fallback)
{
    CopyWide(primary, kReportBaseRoom, programPath ? programPath : L"MiniDump");
    CutExtensionOfName(primary);

    const wchar_t* slash = wcsrchr(primary, L'\\');
    const wchar_t* name = slash ? slash + 1 : L"MiniDump";
    CopyWide(fallback, kReportBaseRoom, tempFolder ? tempFolder : L"");
    size_t folderLength = wcslen(fallback);
    CopyWide(fallback + folderLength, kReportBaseRoom - folderLength, name);
    wchar_t* dot = wcsrchr(fallback + folderLength, L'.');
    if (dot) {
        *dot = 0;
    }
}

bool ReportFileName(const wchar_t* base, bool dump, wchar_t* name, size_t size)
{
    const wchar_t* suffix = dump ? L"_Debug.dmp" : L"_Debug.txt";
    size_t baseLength = wcslen(base);
    size_t suffixLength = wcslen(suffix);
    if (baseLength + suffixLength >= size) {
        return false;
    }
    wmemcpy(name, base, baseLength);
    wmemcpy(name + baseLength, suffix, suffixLength + 1);
    return true;
}
