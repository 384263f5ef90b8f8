// DownloadToFile of 100 MB from the loopback test server against curl
// fetching the same answer into a file, seven alternating rounds each.
// Prints the medians, their ratio (curl's time over DownloadToFile's: 0.5
// means half curl's speed) and each program's spread (slowest minus fastest
// run, over the median).
//
// The rounds also time Wine's floor: a bare Winsock GET that reads with recv
// into a 1 MiB buffer and writes with WriteFile, nothing else. Whatever
// spread that shows belongs to Wine's sockets and the host's scheduling, not
// to WinINet or to DownloadToFile.

#include <winsock2.h>
#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "HttpTestServer.h"
#include "LoopbackSocket.h"
#include "base/ScopedHandle.h"
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
constexpr int kFloorChunk = 1 << 20;
const char kFloorRequest[] =
    "GET /big.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";

struct SocketTraits
{
    using Type = SOCKET;
    static Type Empty() { return INVALID_SOCKET; }
    static bool IsValid(Type socket) { return socket != INVALID_SOCKET; }
    static void Close(Type socket) { closesocket(socket); }
};
using ScopedSocket = ScopedObject<SocketTraits>;

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

// Writes what follows the answer's head into the file until the whole body
// is there; answers 1 when it all arrived.
int ReceiveBody(SOCKET socket, HANDLE file)
{
    std::unique_ptr<char[]> buffer(new char[kFloorChunk]);
    static const char kHeadEnd[] = "\r\n\r\n";
    size_t held = 0;
    bool inBody = false;
    size_t written = 0;
    while (written < kBodySize) {
        const int got = recv(socket, buffer.get() + held, static_cast<int>(kFloorChunk - held), 0);
        if (got <= 0) {
            return 0;
        }
        const char* data = buffer.get();
        size_t length = held + static_cast<size_t>(got);
        if (!inBody) {
            const char* end = std::search(data, data + length, kHeadEnd, kHeadEnd + 4);
            if (end == data + length) {
                held = length;
                if (held == kFloorChunk) {
                    return 0;
                }
                continue;
            }
            inBody = true;
            held = 0;
            length -= static_cast<size_t>(end + 4 - data);
            data = end + 4;
        }
        DWORD done = 0;
        if (length && (!WriteFile(file, data, static_cast<DWORD>(length), &done, nullptr) ||
                       done != length)) {
            return 0;
        }
        written += length;
    }
    return written == kBodySize;
}

// Milliseconds of one download by the bare Winsock floor, or a negative
// number when it failed.
double RunWinsockFloor(unsigned short port, const wchar_t* path)
{
    const double start = NowMs();
    ScopedSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!socket ||
        connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        return -1;
    }
    const int requestLength = static_cast<int>(sizeof(kFloorRequest) - 1);
    if (send(socket.Get(), kFloorRequest, requestLength, 0) != requestLength) {
        return -1;
    }
    ScopedHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file || !ReceiveBody(socket.Get(), file.Get())) {
        return -1;
    }
    file.Reset();
    return NowMs() - start;
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
    std::vector<double> floor;
    StartWinsock();
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
        const double bare = RunWinsockFloor(server.Port(), target);
        if (bare < 0) {
            fprintf(stderr, "bench_download: the Winsock floor failed\n");
            return 1;
        }
        floor.push_back(bare);
        DeleteFileW(target);
    }
    client.Release();
    DeleteFileW(kScriptPath);
    DeleteFileW(kTimePath);
    PrintRuns("DownloadToFile", ours);
    PrintRuns("curl", theirs);
    PrintRuns("Winsock floor", floor);
    printf("ratio (curl / DownloadToFile): %.2f   goal >= 0.90, spread <= 25%%\n",
           Median(theirs) / Median(ours));
    printf("ratio (floor / DownloadToFile): %.2f; the floor's spread is Wine's own\n",
           Median(floor) / Median(ours));
    return 0;
}
