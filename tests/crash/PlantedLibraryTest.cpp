#include <doctest.h>

#include <windows.h>
#include <sstream>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "CrashTestSupport.h"
#include "HttpTestServer.h"
#include "ReportDialogDriver.h"
#include "TrustedTestRoot.h"

namespace {

std::vector<std::wstring> PlantedNames()
{
    std::vector<std::wstring> names;
    std::wistringstream list(Widen(TESSEL_PLANTED_LIBRARIES));
    for (std::wstring name; std::getline(list, name, L',');)
        names.push_back(name);
    return names;
}

// The children's WinINet sends its requests through this proxy; the
// variable is the parent's again at the end of the guard's scope.
AtScopeEnd ChildProxy(unsigned short port)
{
    wchar_t previous[512] = {};
    const DWORD length = GetEnvironmentVariableW(L"http_proxy", previous, 512);
    const bool had = length > 0 && length < 512;
    const std::wstring saved = previous;
    SetEnvironmentVariableW(L"http_proxy", (L"http://127.0.0.1:" + std::to_wstring(port)).c_str());
    return AtScopeEnd(
        [had, saved] { SetEnvironmentVariableW(L"http_proxy", had ? saved.c_str() : nullptr); });
}

// The weekly update check runs at the next start; the old value is put
// back at the end of the guard's scope.
AtScopeEnd DueUpdateCheck()
{
    const wchar_t* const key = L"Software\\Brindle\\Tessel";
    std::vector<BYTE> previous(256);
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(previous.size());
    const bool had = RegGetValueW(HKEY_CURRENT_USER, key, L"LastCheck", RRF_RT_ANY, &type,
                                  previous.data(), &size) == ERROR_SUCCESS;
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"LastCheck");
    return AtScopeEnd([=] {
        if (had)
            RegSetKeyValueW(HKEY_CURRENT_USER, key, L"LastCheck", type, previous.data(), size);
    });
}

// Through the proxy an http check shows as its request, an https one as
// the request for its tunnel to the update server (named in the build's
// "scheme://host").
bool SawUpdateCheck(HttpTestServer& server)
{
    const std::string updateServer = Narrow(TESSEL_UPDATE_SERVER);
    const size_t scheme = updateServer.find("://");
    const std::string host =
        (scheme == std::string::npos ? updateServer : updateServer.substr(scheme + 3)) + ":";
    for (int i = 0; i < 300; ++i) {
        for (const RecordedRequest& request : server.Requests()) {
            if (request.method == "CONNECT" ? StartsWith(request.target + ":", host)
                                            : Contains(request.target, "/data/update.php?p=tessel"))
                return true;
        }
        Sleep(100);
    }
    return false;
}

} // namespace

// An attacker's libraries beside Tessel.exe, named like every library that
// Tessel, or a system library on its behalf, loads while it starts, checks
// for updates and reports a crash. Tessel must run none of them.
TEST_CASE("libraries planted beside Tessel.exe are never loaded")
{
    if (!RunningUnderWine()) {
        MESSAGE("the planted libraries are preferred through Wine's load order");
        return;
    }
    const std::wstring name = L"TesselPlanted" + std::to_wstring(GetCurrentProcessId());
    ProgramCopy tessel(L"..\\Tessel.exe", name + L".exe");
    const std::vector<std::wstring> names = PlantedNames();
    for (const std::wstring& library : names)
        REQUIRE(tessel.CopyBeside(L"planted\\" + library + L".dll", library + L".dll"));
    // Wine looks in the program's folder first, as Windows does, only for
    // libraries it is told to prefer in their native form.
    const AtScopeEnd preferPlanted = WineDllOverrides(name + L".exe", names, L"native,builtin");
    const AtScopeEnd due = DueUpdateCheck();
    HttpTestServer server;
    REQUIRE(server.IsRunning());
    // An https check reaches the test's https server through the proxy's
    // tunnel, so that the TLS handshake and the certificate check run too
    // (the certificate is not for the update host, so the check then ends).
    HttpTestServer* secure = SharedHttpsServer();
    REQUIRE_MESSAGE(secure, "no https test server, or its CA could not be trusted");
    REQUIRE(secure->Clear());
    ScriptedAnswer tunnel;
    tunnel.tunnelPort = secure->Port();
    tunnel.times = 0;
    REQUIRE(server.Answer(tunnel));
    const AtScopeEnd proxy = ChildProxy(server.Port());

    REQUIRE(tessel.Start(L""));
    CHECK_MESSAGE(SawUpdateCheck(server), "Tessel did not check for updates");

    // A thread started at an address that holds no code crashes at once.
    ScopedHandle thread(
        CreateRemoteThread(tessel.Process(), nullptr, 0,
                           reinterpret_cast<LPTHREAD_START_ROUTINE>(static_cast<ULONG_PTR>(0x10)),
                           nullptr, 0, nullptr));
    REQUIRE(thread);
    ReportDialogDriver dontSend(L"Tessel",
                                [](HWND dialog) { Press(dialog, IDC_REPORT_DONT_SEND); });
    CHECK(dontSend.Join());
    CHECK_MESSAGE(tessel.WaitForEnd(60000), "Tessel did not end after its crash");
    CHECK(StartsWith(ReadWholeFile(tessel.Report(L"_Debug.txt")), "Access Violation"));

    update_test::ForEachInFolder(tessel.dir, [](const std::wstring& name, bool) {
        if (EndsWith(Narrow(name), ".loaded"))
            FAIL_CHECK("Tessel ran the planted " << Narrow(name));
    });
}
