#pragma once

#include <windows.h>

// The pieces of the crash report's text as functions of plain values. Every
// line is narrow text ending in CR LF; outputs are cut at the buffer's end.

// One loaded module as the minidump writer reports it.
struct ModuleRecord
{
    ModuleRecord* next = nullptr;
    ModuleRecord* previous = nullptr;
    wchar_t* path = nullptr; // owned, (length + 1) characters
    DWORD64 imageBase = 0;   // a high half of 0xFFFFFFFF is stored as 0
    DWORD imageSize = 0;
    DWORD checkSum = 0;
    DWORD timeStamp = 0; // seconds since 1970-01-01 UTC
    DWORD fileVersion[2] = {};
    DWORD productVersion[2] = {};

    ModuleRecord() = default;
    ~ModuleRecord() { delete[] path; }
    ModuleRecord(const ModuleRecord&) = delete;
    ModuleRecord& operator=(const ModuleRecord&) = delete;
};

// One thread of the process at the time of the dump.
struct ThreadRecord
{
    ThreadRecord* next = nullptr;
    ThreadRecord* previous = nullptr;
    DWORD id = 0;
    DWORD64 stackBase = 0;
    DWORD64 stackEnd = 0;
    char name[100] = {};      // at most 99 characters
    DWORD64 startAddress = 0; // 0 when unknown
};

// The name of an exception code, "Exception" for codes not in the table.
const char* ExceptionName(DWORD code);

// "<name> [0x<code>] at 0x<address> in Thread <id>." and its line end; the
// thread id is decimal on the NT family, hexadecimal otherwise.
void FormatExceptionLine(DWORD code, DWORD64 address, DWORD threadId, bool ntFamily, char* text,
                         size_t size);

// "Write to location 0x..." or "Read from location 0x..." for an access
// violation with at least two parameters; empty otherwise. Answers 1 when
// there is a line.
int FormatAccessLine(const EXCEPTION_RECORD& record, char* text, size_t size);

// The register block of the context, starting with an empty line.
void FormatRegisters(const CONTEXT& context, char* text, size_t size);

// "x86", "x86 WOW64" or "x64", then " Unicode" and the line end.
void FormatBuildLine(bool wow64, char* text, size_t size);

// The module's link time as local "dd.mm.yyyy" and "hh:mm:ss" texts; both
// are empty when the conversion fails.
void FormatModuleTime(DWORD timeStamp, char* date, size_t dateSize, char* time, size_t timeSize);

// The path is written in the ANSI code page and cut where the line would
// not fit; the line always ends in CR LF.
void FormatModuleLine(const ModuleRecord& module, char* text, size_t size);

// symbol: the start address's symbol text, empty when unknown.
void FormatThreadLine(const ThreadRecord& thread, const char* symbol, bool ntFamily, char* text,
                      size_t size);

// Copies at most 99 characters of a thread's name.
void CopyThreadName(ThreadRecord& thread, const char* name);

// The two file bases of a report. programPath: the executable's path or
// null when unknown; tempFolder ends in a backslash. Each buffer holds
// MAX_PATH + 260 characters.
constexpr size_t kReportBaseRoom = MAX_PATH + 520;
void ReportBases(const wchar_t* programPath, const wchar_t* tempFolder, wchar_t* primary,
                 wchar_t* fallback);

// "<base>_Debug.txt" or "<base>_Debug.dmp"; false when it does not fit.
bool ReportFileName(const wchar_t* base, bool dump, wchar_t* name, size_t size);
