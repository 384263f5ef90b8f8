// DownloadToFile of 100 MB from the loopback test server against curl
// fetching the same answer into a file, seven alternating rounds each.
// Prints the medians, their ratio (curl's time over DownloadToFile's: 0.5
// means half curl's speed) and each program's spread (slowest minus fastest
// run, over the median).

#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "HttpTestServer.h"
#include "net/HttpClient.h"

namespace {

constexpr size_t kBodySize = 100u << 20;
constexpr int kRounds = 7;
constexpr DWORD kCurlTimeoutMs = 120000;
// Wine starts Linux programs but gives no process handle to wait on, so a
// shell script times curl itself and leaves the nanoseconds in a file.
const wchar_t kShell[] = L"Z:\\bin\\sh";
const char kCurlScript[] = "start=$(date +%s%N)\n"
                           "curl -s -o /tmp/tessel-bench-download.bin \"$1\"\n"
                           "end=$(date +%s%N)\n"
                           "echo $((end - start)) > /tmp/tessel-bench-curl.tmp\n"
                           "mv /tmp/tessel-bench-curl.tmp /tmp/tessel-bench-curl.ns\n";
const wchar_t kScriptPath[] = L"Z:\\tmp\\tessel-bench-curl.sh";
const wchar_t kTimePath[] = L"Z:\\tmp\\tessel-bench-curl.ns";
const wchar_t kCurlOutputWindows[] = L"Z:\\tmp\\tessel-bench-download.bin";

std::string Body()
{
    std::string body(kBodySize, '\0');
    unsigned state = 12345;
    for (char& byte : body) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 24);
    }
    return body;
}

ULONGLONG FileSize(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int AcceptAll(int, void*, void*)
{
    return 1;
}

std::string ReadSmallFile(const wchar_t* path)
{
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    char text[64] = {};
    DWORD read = 0;
    ReadFile(file, text, sizeof(text) - 1, &read, nullptr);
    CloseHandle(file);
    return std::string(text, read);
}

bool WriteSmallFile(const wchar_t* path, const char* text)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const DWORD length = static_cast<DWORD>(strlen(text));
    WriteFile(file, text, length, &written, nullptr);
    CloseHandle(file);
    return written == length;
}

// Milliseconds of one curl run, or a negative number when it failed.
double RunCurl(const std::wstring& url)
{
    DeleteFileW(kTimePath);
    std::wstring command = std::wstring(L"\"") + kShell + L"\" /tmp/tessel-bench-curl.sh " + url;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return -1;
    }
    if (process.hThread) {
        CloseHandle(process.hThread);
    }
    if (process.hProcess) {
        CloseHandle(process.hProcess);
    }
    const double deadline = NowMs() + kCurlTimeoutMs;
    std::string nanoseconds;
    while (nanoseconds.empty() && NowMs() < deadline) {
        Sleep(5);
        nanoseconds = ReadSmallFile(kTimePath);
    }
    if (nanoseconds.empty() || FileSize(kCurlOutputWindows) != kBodySize) {
        return -1;
    }
    return static_cast<double>(_strtoui64(nanoseconds.c_str(), nullptr, 10)) / 1e6;
}

void PrintRuns(const char* name, const std::vector<double>& runs)
{
    const double median = Median(runs);
    const auto [fastest, slowest] = std::minmax_element(runs.begin(), runs.end());
    printf("%-15s median %.0f ms  spread %.0f%%  (runs", name, median,
           100.0 * (*slowest - *fastest) / median);
    for (double run : runs) {
        printf(" %.0f", run);
    }
    printf(")\n");
}

} // namespace

int main()
{
    HttpTestServer server;
    ScriptedAnswer answer;
    answer.path = "/big.bin";
    answer.body = Body();
    answer.times = 0;
    if (!server.IsRunning() || !server.Answer(answer)) {
        fprintf(stderr, "bench_download: the test server did not start\n");
        return 1;
    }
    HttpClient client;
    if (!client.Acquire()) {
        fprintf(stderr, "bench_download: WinINet is missing\n");
        return 1;
    }
    wchar_t target[MAX_PATH];
    GetTempPathW(MAX_PATH, target);
    wcscat_s(target, L"tessel-bench-download.bin");
    const std::wstring url = server.Url(L"/big.bin");
    if (!WriteSmallFile(kScriptPath, kCurlScript)) {
        fprintf(stderr, "bench_download: cannot write the curl script\n");
        return 1;
    }

    std::vector<double> ours;
    std::vector<double> theirs;
    for (int round = 0; round < kRounds; ++round) {
        const double start = NowMs();
        DWORD status = 0;
        DownloadOptions options;
        options.agent = L"AutoUpdate";
        options.callback = AcceptAll;
        options.headers = L"Accept: */*\r\n\r\n";
        options.statusOut = &status;
        const int done = client.DownloadToFile(url.c_str(), target, options);
        const double elapsed = NowMs() - start;
        if (!done || FileSize(target) != kBodySize) {
            fprintf(stderr, "bench_download: DownloadToFile failed (status %lu)\n", status);
            return 1;
        }
        ours.push_back(elapsed);
        const double curl = RunCurl(url);
        if (curl < 0) {
            fprintf(stderr, "bench_download: curl failed\n");
            return 1;
        }
        theirs.push_back(curl);
        DeleteFileW(target);
        DeleteFileW(kCurlOutputWindows);
    }
    client.Release();
    DeleteFileW(kScriptPath);
    DeleteFileW(kTimePath);
    PrintRuns("DownloadToFile", ours);
    PrintRuns("curl", theirs);
    printf("ratio (curl / DownloadToFile): %.2f   goal >= 0.90, spread <= 25%%\n",
           Median(theirs) / Median(ours));
    return 0;
}
