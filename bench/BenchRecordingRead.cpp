// Reading a recording of 1,000,000 rows back: the time ReadRecordingFile
// takes (file to reports) and the memory it holds at its peak, against the
// file's size. The recording is written with the recorder's own row
// functions, reports of three sensors as the default scenario makes them.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "base/DynamicLibrary.h"
#include "sensors/RecordingFormat.h"
#include "sensors/RecordingReader.h"

namespace {

constexpr unsigned kRows = 1000000;
constexpr int kRuns = 3;

// The commit charge of this process in bytes.
double PrivateBytes()
{
    static DynamicLibrary psapi(L"psapi.dll");
    static auto query = psapi.Symbol<BOOL(WINAPI*)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD)>(
        "GetProcessMemoryInfo");
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (!query || !query(GetCurrentProcess(), reinterpret_cast<PPROCESS_MEMORY_COUNTERS>(&counters),
                         sizeof counters)) {
        return 0;
    }
    // Wine leaves PrivateUsage 0; the commit charge is the same figure.
    return static_cast<double>(counters.PrivateUsage ? counters.PrivateUsage
                                                     : counters.PagefileUsage);
}

// Samples the commit charge until told to stop, keeping the largest.
struct PeakWatch
{
    volatile LONG stop = 0;
    double peak = 0;

    static DWORD WINAPI Run(void* self)
    {
        auto* watch = static_cast<PeakWatch*>(self);
        while (!InterlockedCompareExchange(&watch->stop, 0, 0)) {
            const double now = PrivateBytes();
            if (now > watch->peak) {
                watch->peak = now;
            }
            Sleep(1);
        }
        return 0;
    }
};

void AppendReport(std::string& text, const SYSTEMTIME& time, const wchar_t* name, const wchar_t* id,
                  std::initializer_list<std::pair<const wchar_t*, std::wstring>> fields,
                  unsigned& rows)
{
    std::string columns;
    FormatReportColumns({time, 60}, name, id, columns);
    for (const auto& field : fields) {
        AppendRecordRow(text, columns, field.first, field.second.c_str());
        ++rows;
    }
}

std::wstring Number(double value)
{
    wchar_t text[64];
    swprintf(text, 64, L"%f", value);
    return text;
}

// Writes the recording piece by piece; answers its size.
unsigned long long WriteRecording(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    std::string text = kRecordingStart;
    unsigned long long size = 0;
    unsigned rows = 0;
    SYSTEMTIME time = {2026, 12, 2, 8, 9, 0, 0, 0};
    for (unsigned tick = 0; rows < kRows; ++tick) {
        const unsigned ms = tick * 16;
        time.wMilliseconds = static_cast<WORD>(ms % 1000);
        time.wSecond = static_cast<WORD>(ms / 1000 % 60);
        time.wMinute = static_cast<WORD>(ms / 60000 % 60);
        AppendReport(text, time, L"3D Accelerometer", L"{AE10C594-43A1-4D15-8E44-8FDEBC453CBA}",
                     {{L"TIMESTAMP", L"12/8/2026 9:00:00 AM"},
                      {L"ACCELERATION X G", Number(0.02 + (tick % 100) / 1e4)},
                      {L"ACCELERATION Y G", Number(-0.05 + (tick % 70) / 1e4)},
                      {L"ACCELERATION Z G", Number(-0.99 + (tick % 30) / 1e4)}},
                     rows);
        if (tick % 60 == 0) {
            AppendReport(text, time, L"Integrated GPS Receiver",
                         L"{E8BA868A-68E4-481A-BB48-1FFAAB993B3B}",
                         {{L"LATITUDE DEGREES", Number(47.6)},
                          {L"LONGITUDE DEGREES", Number(-122.3321 + tick / 1e7)},
                          {L"SATELLITES USED COUNT", L"8"},
                          {L"NMEA SENTENCE", L"$GPGGA,183512.00,4736.0000,N,12219.9260,W,1,08"},
                          {L"CITY", L"Seattle"}},
                         rows);
        }
        if (text.size() > (4u << 20)) {
            DWORD written = 0;
            WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            size += written;
            text.clear();
        }
    }
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    size += written;
    CloseHandle(file);
    return size;
}

} // namespace

int main()
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"tessel-bench-recording.csv";
    const unsigned long long fileSize = WriteRecording(path.c_str());
    if (!fileSize) {
        printf("could not write the recording\n");
        return 1;
    }
    std::vector<double> times;
    double worstRatio = 0;
    unsigned long long rows = 0;
    for (int run = 0; run < kRuns; ++run) {
        const double before = PrivateBytes();
        PeakWatch watch;
        watch.peak = before;
        HANDLE watcher = CreateThread(nullptr, 0, PeakWatch::Run, &watch, 0, nullptr);
        double peakAfter = 0;
        {
            Recording recording;
            const double start = NowMs();
            const RecordingRead result =
                ReadRecordingFile(path.c_str(), recording, nullptr, nullptr);
            times.push_back(NowMs() - start);
            rows = recording.rows;
            peakAfter = PrivateBytes();
            if (result != RecordingRead::Read) {
                printf("the recording was not read (%d)\n", static_cast<int>(result));
                return 1;
            }
        }
        InterlockedExchange(&watch.stop, 1);
        WaitForSingleObject(watcher, INFINITE);
        CloseHandle(watcher);
        const double peak = watch.peak > peakAfter ? watch.peak : peakAfter;
        const double ratio = (peak - before) / static_cast<double>(fileSize);
        worstRatio = ratio > worstRatio ? ratio : worstRatio;
    }
    // The parsing alone, from the bytes in memory.
    std::vector<double> parseTimes;
    {
        std::string bytes(static_cast<size_t>(fileSize), '\0');
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        DWORD read = 0;
        for (size_t done = 0; done < bytes.size(); done += read) {
            if (!ReadFile(file, &bytes[done], static_cast<DWORD>(bytes.size() - done), &read,
                          nullptr) ||
                !read) {
                break;
            }
        }
        CloseHandle(file);
        for (int run = 0; run < kRuns; ++run) {
            Recording recording;
            const double start = NowMs();
            ParseRecording(bytes.data(), bytes.size(), recording, nullptr, nullptr);
            parseTimes.push_back(NowMs() - start);
        }
    }
    DeleteFileW(path.c_str());
    printf("Reading a recording: %llu rows, %.1f MB\n", rows, fileSize / (1024.0 * 1024.0));
    printf("| Figure | Goal | Now |\n|---|---|---|\n");
    printf("| time, median of %d | <= 2000 ms | %.0f ms |\n", kRuns, Median(times));
    printf("| of which parsing, median of %d | | %.0f ms |\n", kRuns, Median(parseTimes));
    printf("| peak memory / file size, worst of %d | <= 3.0 | %.2f |\n", kRuns, worstRatio);
    return 0;
}
