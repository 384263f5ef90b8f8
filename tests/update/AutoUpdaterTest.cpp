#include <doctest.h>

#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "BoundedThread.h"
#include "DialogAnswerer.h"
#include "HttpTestServer.h"
#include "TestText.h"
#include "TestWindow.h"
#include "UpdateSigner.h"
#include "UpdateTestFiles.h"
#include "system/Files.h"
#include "system/MachineId.h"
#include "system/Registry.h"
#include "ui/Subclasser.h"
#include "update/AutoUpdater.h"
#include "update/UpdateRules.h"

using namespace update_test;

namespace {

const wchar_t kKey[] = L"Software\\Brindle\\TesselUpdateTest";
constexpr DWORD kPatienceMs = 20000;
constexpr DWORD kDay = 86400;

volatile LONG gCloseRequests = 0;

// A message that starts a check from inside the window procedure, as a tick
// of the checkbox does; the outcome is kept.
constexpr UINT kStartFromWindow = WM_APP + 1;
AutoUpdater* gNestedUpdater = nullptr;
UpdateCheckOptions gNestedOptions;
int gNestedStart = -1;

LRESULT CALLBACK MainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        InterlockedIncrement(&gCloseRequests);
        return 0;
    }
    if (message == kStartFromWindow && gNestedUpdater) {
        gNestedStart = gNestedUpdater->Start(window, gNestedOptions);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD Now()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return UnixTimeOf(now);
}

std::string PercentDecoded(const std::string& text)
{
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

std::string Answer(const std::string& version, const std::string& extra)
{
    return "<update><application>Tessel Update</application><version>" + version +
           "</version><info><en>" + Narrow(L"Version f\u00FCr Sie?", CP_UTF8) + "</en></info>" +
           extra + "</update>";
}

// An answer with what a signed answer must say about itself.
std::string Claimed(const std::string& version, const std::string& extra,
                    const std::string& serial = "1",
                    const std::string& expires = "2099-01-01T00:00:00Z",
                    const std::string& application = "Tessel",
                    const std::string& platform = Narrow(UPDATE_PLATFORM, CP_UTF8))
{
    auto element = [](const char* name, const std::string& value) {
        return "<" + std::string(name) + ">" + value + "</" + name + ">";
    };
    return "<update>" + element("application", application) + element("platform", platform) +
           element("expires", expires) + element("serial", serial) + element("version", version) +
           "<info><en>Update?</en></info>" + extra + "</update>";
}

// An answer served a byte at a time, for a few seconds unless told how
// long each byte takes.
ScriptedAnswer SlowAnswer(const std::string& body, unsigned times = 1, unsigned byteMs = 0)
{
    ScriptedAnswer answer = Scripted(200, body, times, "/data/update.php");
    answer.chunkSize = 1;
    answer.chunkDelayMs = byteMs ? byteMs : 3000 / static_cast<unsigned>(body.size());
    return answer;
}

// A program to run that leaves a marker file next to itself.
const char kMarkerProgram[] = "@echo started> \"%~dp0tessel-update-marker.txt\"\r\n";

// The updater of a test main window, with its server and registry key.
struct UpdaterSetup
{
    TestWindow window{L"TesselUpdateMain", MainProcedure, {10, 10, 300, 200}};
    HttpTestServer server;
    AutoUpdater updater;
    std::wstring base;

    UpdaterSetup()
    {
        REQUIRE(server.IsRunning());
        RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
        gCloseRequests = 0;
        base = server.Url(L"/data/update.php?p=tessel");
    }
    ~UpdaterSetup() { RegDeleteKeyW(HKEY_CURRENT_USER, kKey); }

    // Replaces every answer: the update answer, and the program to run.
    void Serve(const std::string& body, int status = 200)
    {
        server.Clear();
        REQUIRE(server.AnswerAlways("/get", kMarkerProgram));
        REQUIRE(server.AnswerAlways("/data/update.php", body, status));
    }
    UpdateCheckOptions Options(const wchar_t* subkey = nullptr, const wchar_t* valueName = nullptr,
                               DWORD flags = 0) const
    {
        UpdateCheckOptions options;
        options.baseUrl = base.c_str();
        options.root = subkey ? HKEY_CURRENT_USER : nullptr;
        options.subkey = subkey;
        options.valueName = valueName;
        options.flags = flags;
        return options;
    }
    // A scheduled check; 1 when a check was started, which is then awaited.
    int Scheduled()
    {
        int started = updater.Start(window.Handle(), Options(kKey, L"LastCheck"));
        REQUIRE(updater.Wait(kPatienceMs));
        return started;
    }
    // A forced check; with keys, of a signed answer, and with the highest
    // serial kept in the test key when asked.
    void Forced(UpdateKeyList keys = nullptr, bool keepSerial = false)
    {
        UpdateCheckOptions options = Options();
        options.keys = keys;
        options.stateRoot = keepSerial ? HKEY_CURRENT_USER : nullptr;
        options.stateSubkey = keepSerial ? kKey : nullptr;
        REQUIRE(updater.Start(window.Handle(), options));
        REQUIRE(updater.Wait(kPatienceMs));
    }
    // A check of an answer that arrives slowly, under way once the server
    // has seen its request.
    void StartSlowCheck(const std::string& body, HWND owner, const UpdateCheckOptions& options)
    {
        server.Clear();
        REQUIRE(server.Answer(SlowAnswer(body, 0)));
        REQUIRE(updater.Start(owner, options));
        REQUIRE(WaitForRequest());
    }
    bool WaitForRequest()
    {
        for (DWORD waited = 0; waited < kPatienceMs; waited += 20) {
            if (UpdateRequests())
                return true;
            PumpMessagesFor(20);
        }
        return false;
    }
    size_t UpdateRequests() { return server.RequestsFor("/data/update.php"); }
};

DWORD LastCheck()
{
    return ReadDwordValue(HKEY_CURRENT_USER, kKey, L"LastCheck", 12345);
}

std::wstring Declined()
{
    WideString text;
    ReadStringValue(HKEY_CURRENT_USER, kKey, L"LastCheckVersion", text, L"<none>");
    return text.Data();
}

// Programs to run are saved on the desktop; these are removed before and after.
struct DesktopFiles
{
    std::wstring program = Desktop(L"tessel-update-test.cmd");
    std::wstring marker = Desktop(L"tessel-update-marker.txt");
    DesktopFiles() { Clean(); }
    ~DesktopFiles() { Clean(); }
    void Clean()
    {
        DeleteFileW(program.c_str());
        DeleteFileW(marker.c_str());
    }
    static std::wstring Desktop(const wchar_t* name)
    {
        wchar_t path[MAX_PATH] = {};
        GetFolderPath(0, path);
        return std::wstring(path) + L"\\" + name;
    }
};

} // namespace

TEST_CASE("Start asks the server on the weekly schedule, in the plain and the inventory form, "
          "and removes a program download left unfinished")
{
    UpdaterSetup setup;
    setup.Serve(Answer("1.00", ""));
    WideString id;
    WideString language;
    MachineId(MACHINE_ID_UPDATE, id);
    UserLanguageCode(language);
    std::string idText = id.ToNarrow();
    {
        // The server offers the running version, so no question may
        // appear. One that does is answered and named, so each check still
        // ends instead of the test waiting for an answer forever.
        DialogAnswerer unexpected({IDNO, IDNO, IDNO, IDNO});
        CHECK(setup.Scheduled());
        CHECK(LastCheck() + 60 >= Now());
        WriteDwordValue(HKEY_CURRENT_USER, kKey, L"LastCheck", Now() - 6 * kDay);
        CHECK_FALSE(setup.Scheduled());
        WriteDwordValue(HKEY_CURRENT_USER, kKey, L"LastCheck", Now() - 8 * kDay);
        CHECK(setup.Scheduled());
        WriteDwordValue(HKEY_CURRENT_USER, kKey, L"LastCheck", UPDATE_SKIP_NEXT_CHECK);
        CHECK_FALSE(setup.Scheduled());
        CHECK(LastCheck() == 0);
        CHECK(setup.Scheduled());
        // A program download that closing cut short goes at the next check.
        wchar_t module[MAX_PATH];
        REQUIRE(GetModuleFileNameW(nullptr, module, MAX_PATH));
        WideString unfinished;
        REQUIRE(DecorateFileName(module, L"_new", unfinished));
        REQUIRE(WriteWholeFile(unfinished.Data(), "half a program"));
        setup.base = setup.server.Url(L"/data/update.php");
        setup.Forced();
        CHECK_FALSE(Exists(unfinished.Data()));
        CHECK_MESSAGE(unexpected.Dialogs().empty(), "the running version was offered");
    }
    std::vector<RecordedRequest> requests = setup.server.Requests();
    REQUIRE(requests.size() == 4);
    CHECK(requests[0].method == "GET");
    CHECK(requests[0].query == "p=tessel&v=1.00&id=" + idText);
    CHECK(requests[0].Header("User-Agent") == "AutoUpdate");
    CHECK(requests[3].query == "v=1.00&id=" + idText);
    CHECK(idText.substr(17) == "04");

    // The inventory form finds its answer below Elmstead\Updates\xml.
    setup.Serve("<Elmstead><Updates><xml>" + Answer("1.05", "") + "</xml></Updates></Elmstead>");
    DialogAnswerer answerer({IDNO});
    UpdateCheckOptions inventory = setup.Options(nullptr, nullptr, UPDATE_INVENTORY_REQUEST);
    inventory.itemName = L"Tessel";
    REQUIRE(setup.updater.Start(setup.window.Handle(), inventory));
    REQUIRE(setup.updater.Wait(kPatienceMs));
    CHECK(answerer.Dialogs().size() == 1);
    requests = setup.server.Requests();
    REQUIRE(requests.size() == 1);
    CHECK(PercentDecoded(requests[0].query) ==
          "a=updates&d=0&f=16&l=" + std::string(language.ToNarrow()) + "&g=" + idText +
              "&i=<Elmstead><Inventory><Item Type=\"1\" Name=\"Tessel\" Version=\"1.00\" "
              "/></Inventory></Elmstead>");
}

TEST_CASE("Answers that offer nothing end the check without a question")
{
    UpdaterSetup setup;
    // One answer for each check, so that a wrong question cannot hold any
    // of them up.
    DialogAnswerer answerer({IDNO, IDNO, IDNO, IDNO, IDNO, IDNO, IDNO});
    const std::pair<std::string, int> answers[] = {
        {Answer("1.05", ""), 404},
        {Answer("1.00", ""), 200},
        {Answer("1", ""), 200},
        {"<update><version>1.05</version></update>", 200},
        {"<answer><version>1.05</version><info><en>x</en></info></answer>", 200},
        {"<update><version>1.05", 200},
        // More than 1 MiB is no answer, however well formed.
        {Answer("1.05", "<pad>" + std::string(UPDATE_ANSWER_LIMIT, ' ') + "</pad>"), 200},
    };
    for (const auto& [body, status] : answers) {
        setup.Serve(body, status);
        setup.Forced();
        CHECK(setup.UpdateRequests() == 1);
        CHECK(setup.updater.Result() == 0);
    }
    CHECK(answerer.Dialogs().empty());
}

TEST_CASE("A declined version is not offered again by the schedule, but by a forced check; a "
          "help link adds a Help button, but WM_HELP never runs a program the answer names")
{
    UpdaterSetup setup;
    setup.Serve(Answer("1.05", "<files/>"));
    {
        DialogAnswerer answerer({IDNO});
        CHECK(setup.Scheduled());
        REQUIRE(answerer.Dialogs().size() == 1);
        CHECK(answerer.Dialogs()[0].title == L"Tessel Update");
        CHECK(answerer.Dialogs()[0].text == L"Version f\u00FCr Sie?");
        CHECK_FALSE(answerer.Dialogs()[0].hasHelp);
    }
    CHECK(Declined() == L"1.05");
    {
        DialogAnswerer answerer({IDNO});
        WriteDwordValue(HKEY_CURRENT_USER, kKey, L"LastCheck", Now() - 8 * kDay);
        CHECK(setup.Scheduled());
        CHECK(setup.UpdateRequests() == 2);
        CHECK(answerer.Dialogs().empty());
    }
    TempFolder folder{L"tessel-help"};
    const std::wstring help = folder / L"help.cmd";
    REQUIRE(WriteWholeFile(help, kMarkerProgram));
    setup.Serve(Answer("1.05", "<help>" + Narrow(help) + "</help>"));
    {
        DialogAnswerer answerer({IDNO}, {}, true);
        setup.Forced();
        REQUIRE(answerer.Dialogs().size() == 1);
        CHECK(answerer.Dialogs()[0].hasHelp);
    }
    PumpMessagesFor(1000);
    CHECK_FALSE(Exists(folder / L"tessel-update-marker.txt"));
}

TEST_CASE("After the files, an empty restart text restarts without asking")
{
    const struct
    {
        const char* restart;
        size_t questions; // the update's, and the restart's when it is asked
        int restarts;
    } cases[] = {
        {"<restart><en></en></restart>", 1, 1},
        {"", 1, 0},
        {"<restart><en>Restart?</en></restart>", 2, 0}, // answered No
    };
    for (const auto& row : cases) {
        CAPTURE(std::string(row.restart));
        UpdaterSetup setup;
        DesktopFiles desktop;
        const std::wstring program = setup.server.Url(L"/get?f=tessel-update-test.cmd");
        setup.Serve(
            Answer("1.05", "<files><url>" + Narrow(program) + "</url></files>" + row.restart));
        DialogAnswerer answerer({IDYES, IDNO});
        setup.Forced();
        REQUIRE(answerer.Dialogs().size() == row.questions);
        CHECK(setup.updater.Result() == row.restarts);
        CHECK(Exists(desktop.program));
        if (row.restarts)
            CHECK(WaitForFile(desktop.marker));
        if (row.questions == 2) {
            CHECK(answerer.Dialogs()[1].text == L"Restart?");
            CHECK_FALSE(answerer.Dialogs()[1].hasHelp);
        }
        PumpMessagesFor(50);
        CHECK(gCloseRequests == row.restarts);
    }
}

TEST_CASE("The window carries the updater's subclass from Start until Stop")
{
    UpdaterSetup setup;
    WideString property;
    Subclasser::PropertyName(UPDATE_SUBCLASS_TAG, property);
    CHECK(setup.updater.Start(setup.window.Handle(),
                              setup.Options(nullptr, nullptr, UPDATE_NO_WORKER)));
    CHECK(GetPropW(setup.window.Handle(), property.Data()) != nullptr);
    CHECK(SendMessageW(setup.window.Handle(), WM_HELP, 0, 0) == 0);
    setup.updater.Stop();
    CHECK(GetPropW(setup.window.Handle(), property.Data()) == nullptr);
    CHECK(setup.UpdateRequests() == 0);
}

TEST_CASE("With keys built in, only a fresh signed answer meant for this build is read, the "
          "highest serial is kept, and every file needs its digest")
{
    UpdaterSetup setup;
    UpdateKeyRing ring;
    REQUIRE(ring.IsReady());
    UpdateSigner& maker = ring.current;
    auto check = [&](const std::string& body) {
        setup.Serve(body);
        setup.Forced(ring.keys, true);
    };
    auto serial = [] { return ReadDwordValue(HKEY_CURRENT_USER, kKey, L"UpdateSerial", 0); };
    const std::string files = "<files/>";
    {
        // Either key of the list; the same serial again is a re-check.
        DialogAnswerer answerer({IDNO, IDNO, IDNO, IDNO});
        check(maker.Signed(Claimed("1.05", files)));
        check(ring.next.Signed(Claimed("1.05", files)));
        check(maker.Signed(Claimed("1.05", files, "5")));
        CHECK(serial() == 5);
        check(maker.Signed(Claimed("1.05", files, "5")));
        CHECK(answerer.Dialogs().size() == 4);
    }
    std::string changed = maker.Signed(Claimed("1.06", files, "9"));
    changed[changed.find("1.06") + 3] = '7';
    const std::string refused[] = {
        Claimed("1.06", files, "9"),                       // unsigned
        changed,                                           // changed after signing
        ring.stranger.Signed(Claimed("1.06", files, "9")), // another key
        maker.Signed(Claimed("1.00", files, "5")),         // the running version again
        maker.Signed(Claimed("1.06", files, "4")),         // replayed
        maker.Signed(Claimed("1.06", files, "9", "2020-01-01T00:00:00Z")), // expired
        maker.Signed(Claimed("1.06", files, "9", "")),                     // no expiry
        maker.Signed(Claimed("1.06", files, "")),                          // no serial
        maker.Signed(Claimed("1.06", files, "9", "2099-01-01T00:00:00Z", "Quarry")),
        maker.Signed(Claimed("1.06", files, "9", "2099-01-01T00:00:00Z", "Tessel", "arm64")),
        maker.Signed(Answer("1.06", files)), // no claims
    };
    {
        // One answer for each check: none may ask, and a wrong question
        // must not hold the next one up.
        DialogAnswerer answerer(std::vector<int>(std::size(refused), IDNO));
        for (const std::string& body : refused) {
            CAPTURE(body.substr(0, 200));
            check(body);
            CHECK(serial() == 5);
        }
        CHECK(answerer.Dialogs().empty());
    }
    // A file without its digest refuses the whole update.
    DialogAnswerer answerer({IDYES});
    const std::wstring file = setup.server.Url(L"/data/Tessel.exe");
    check(maker.Signed(Claimed(
        "1.05", "<files><url name=\"Tessel.exe\">" + Narrow(file) + "</url></files>", "5")));
    CHECK(answerer.Dialogs().size() == 1);
    CHECK(setup.server.Requests().size() == 1);
    CHECK(setup.updater.Result() == 0);
}

TEST_CASE("Ticking the box again during a check waits for it and still shows its question; a "
          "Start from inside that wait is refused")
{
    UpdaterSetup setup;
    // A third answer, for a question of a nested check that should not exist.
    DialogAnswerer answerer({IDNO, IDNO, IDNO});
    setup.StartSlowCheck(Answer("1.05", "<files/>"), setup.window.Handle(), setup.Options());
    // The second Start waits for the first check with messages flowing: the
    // first check's question is answered during that wait, and the posted
    // message ticks the box once more in the middle of it.
    gNestedUpdater = &setup.updater;
    gNestedOptions = setup.Options();
    gNestedStart = -1;
    PostMessageW(setup.window.Handle(), kStartFromWindow, 0, 0);
    CHECK(setup.updater.Start(setup.window.Handle(), setup.Options()) == 1);
    gNestedUpdater = nullptr;
    CHECK(gNestedStart == 0);
    CHECK(answerer.Dialogs().size() == 1);
    REQUIRE(setup.updater.Wait(kPatienceMs));
    CHECK(answerer.Dialogs().size() == 2);
}

TEST_CASE("A check ends without a question or a decline when its updater or its window goes, "
          "and closing waits for no stalled server")
{
    UpdaterSetup setup;
    DialogAnswerer answerer({IDYES});
    // A window's thread that starts a check and at once destroys its
    // updater. A question shown now would wait for an answer that never
    // comes, and the thread would not end.
    setup.Serve(Answer("1.05", "<files/>"));
    BoundedThread([&] {
        TestWindow window{L"TesselUpdateMain", MainProcedure, {10, 10, 300, 200}};
        AutoUpdater updater;
        updater.Start(window.Handle(), setup.Options(kKey, L"LastCheck"));
    }).Join();
    CHECK(Declined() == L"<none>");

    // The window goes while the answer arrives, to a check that is due.
    RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
    {
        TestWindow window{L"TesselUpdateMain", MainProcedure, {10, 10, 300, 200}};
        setup.StartSlowCheck(Answer("1.05", "<files/>"), window.Handle(),
                             setup.Options(kKey, L"LastCheck"));
    }
    REQUIRE(setup.updater.Wait(kPatienceMs));
    CHECK(setup.updater.Result() == 0);
    CHECK(Declined() == L"<none>");

    // A minute of answer, a byte every half second; closing once the
    // transfer is in its read. A close that waited for the transfer would
    // outlast the worker's bound, which ends the test program.
    setup.server.Clear();
    REQUIRE(setup.server.Answer(SlowAnswer(std::string(120, ' '), 1, 500)));
    BoundedThread([&] {
        TestWindow window{L"TesselUpdateMain", MainProcedure, {10, 10, 300, 200}};
        auto updater = std::make_unique<AutoUpdater>();
        updater->Start(window.Handle(), setup.Options());
        setup.WaitForRequest();
        PumpMessagesFor(600);
        DestroyWindow(window.Handle());
        updater.reset();
    }).Join();
    CHECK(answerer.Dialogs().empty());
}
