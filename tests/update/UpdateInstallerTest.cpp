#include <doctest.h>

#include <string>

#include "HttpTestServer.h"
#include "LinuxProgram.h"
#include "TestText.h"
#include "UpdateSigner.h"
#include "UpdateTestFiles.h"
#include "net/HttpClient.h"
#include "update/UpdateInstaller.h"
#include "update/UpdateRules.h"

using namespace update_test;

namespace {

// The answer's file list, read through the XML document as the updater does.
void ReadList(const std::wstring& files, UpdateFileList& list)
{
    XmlDocument document;
    std::wstring answer = L"<update><version>1.05</version><files>" + files + L"</files></update>";
    REQUIRE(document.Create(XML_UPDATE_ANSWER_FLAGS));
    REQUIRE(document.LoadFromText(answer.c_str()));
    ReadUpdateFileList(document, nullptr, list);
}

std::wstring Entry(const std::wstring& attributes, const std::wstring& address)
{
    return L"<url " + attributes + L">" + address + L"</url>";
}

struct Installation
{
    TempFolder app;
    TempFolder desktop{L"tessel-desktop"};
    HttpTestServer server;
    HttpClient client;
    WideString program;

    explicit Installation(const wchar_t* appFolder = L"tessel-app") : app(appFolder)
    {
        REQUIRE(server.IsRunning());
        REQUIRE(WriteWholeFile(app / L"Tessel.exe", "old program"));
    }
    std::wstring Listed(const std::wstring& attributes, const wchar_t* path)
    {
        return Entry(attributes, server.Url(path));
    }
    int Run(const std::wstring& files)
    {
        UpdateFileList list;
        ReadList(files, list);
        return RunFileWalks(list, app.Path().c_str(), desktop.Path().c_str(), client, program);
    }
};

// Makes a folder unwritable while the object lives. The tests run as root
// under Wine, where neither the read-only attribute (ignored for folders,
// as on Windows) nor Unix permissions stop a write, but a file system's
// immutable flag does. chattr's effect is awaited on a probe folder named
// after the folder of interest in the same call.
class UnwritableFolder
{
public:
    explicit UnwritableFolder(const std::wstring& folder) : folder_(folder)
    {
        made_ = Chattr(L"+i") && AwaitProbeWritable(false);
    }
    ~UnwritableFolder()
    {
        if (made_ && Chattr(L"-i"))
            AwaitProbeWritable(true);
    }
    bool IsUnwritable() const { return made_; }

private:
    bool Chattr(const wchar_t* flag)
    {
        const std::wstring folder = UnixPath(folder_);
        const std::wstring probe = UnixPath(probe_.Path());
        return !folder.empty() && !probe.empty() &&
               StartLinuxProgram(std::wstring(L"\"Z:\\usr\\bin\\chattr\" ") + flag + L" \"" +
                                 folder + L"\" \"" + probe + L"\"");
    }
    bool AwaitProbeWritable(bool writable)
    {
        for (int attempt = 0; attempt < 200; ++attempt) {
            if (WriteWholeFile(probe_ / (L"probe" + std::to_wstring(attempt)).c_str(), "probe") ==
                writable)
                return true;
            Sleep(50);
        }
        return false;
    }

    std::wstring folder_;
    TempFolder probe_{L"tessel-probe"};
    bool made_ = false;
};

} // namespace

TEST_CASE("The list keeps url entries with their name, zip and sha256 items")
{
    UpdateFileList list;
    ReadList(
        L"<url name='a.exe' sha256='AB'>http://h/a</url><other>x</other>"
        L"<URL>\n  <name>b.txt</name><zip>b.zip</zip>\n  http://h/b\n</URL><url>http://h/c</url>",
        list);
    REQUIRE(list.size() == 3);
    CHECK(std::wstring(list[0].name.Data()) == L"a.exe");
    CHECK(list[0].hasDigest);
    CHECK_FALSE(list[0].hasZip);
    CHECK(list[1].hasZip);
    CHECK(std::wstring(list[1].address.Data()) == L"http://h/b");
    CHECK(std::wstring(list[1].zip.Data()) == L"b.zip");
    CHECK_FALSE(list[2].hasName);
    CHECK(std::wstring(list[2].address.Data()) == L"http://h/c");
}

TEST_CASE("Tessel.exe is replaced through Tessel_new.exe and Tessel_old.exe, a program to run "
          "goes to the desktop")
{
    Installation setup;
    REQUIRE(WriteWholeFile(setup.app / L"Tessel_old.exe", "older program"));
    REQUIRE(setup.server.AnswerAlways("/Tessel.exe", "new program"));
    REQUIRE(setup.server.AnswerAlways("/get.php", "setup program"));
    // With a matching digest; the other walks have none.
    const std::wstring attributes =
        L"name='Tessel.exe' sha256='" + Widen(HexSha256("new program")) + L"'";
    CHECK(setup.Run(setup.Listed(attributes, L"/Tessel.exe") +
                    setup.Listed(L"", L"/get.php?f=setup.exe")));
    CHECK(ReadWholeFile(setup.app / L"Tessel.exe") == "new program");
    CHECK(ReadWholeFile(setup.app / L"Tessel_old.exe") == "old program");
    CHECK(setup.app.Files() == std::vector<std::wstring>{L"Tessel.exe", L"Tessel_old.exe"});
    CHECK(ReadWholeFile(setup.desktop / L"setup.exe") == "setup program");
    CHECK(std::wstring(setup.program.Data()) == setup.desktop / L"setup.exe");
}

TEST_CASE("A ZIP entry backs up its file and the files it writes over, unpacks and deletes it")
{
    // A folder name outside the ANSI code page: the archive is unpacked
    // through wide paths.
    Installation setup(L"tessel-app-\u0141ukasz-\u4E2D");
    REQUIRE(WriteWholeFile(setup.app / L"stored.txt", "old stored"));
    REQUIRE(setup.server.AnswerAlways("/pack.zip", ReadWholeFile(ZipFixture(L"python.zip"))));
    CHECK(setup.Run(setup.Listed(L"name='Tessel.exe' zip='Tessel.zip'", L"/pack.zip")));
    for (const wchar_t* name : {L"deep\\er\\still\\leaf.dat", L"stored.txt"}) {
        CHECK(ReadWholeFile(setup.app / name) ==
              ReadWholeFile(ZipFixture(L"expected\\python.zip\\" + std::wstring(name))));
    }
    CHECK(ReadWholeFile(setup.app / L"stored_old.txt") == "old stored");
    CHECK(ReadWholeFile(setup.app / L"Tessel_old.exe") == "old program");
    CHECK_FALSE(Exists(setup.app / L"Tessel.exe"));
    CHECK_FALSE(Exists(setup.app / L"Tessel_new.zip"));
    CHECK(setup.program.IsEmpty());
}

TEST_CASE("Failed steps leave the installed files as they were")
{
    Installation setup;
    REQUIRE(setup.server.AnswerAlways("/Tessel.exe", "new program"));
    REQUIRE(setup.server.AnswerAlways("/notes.txt", "notes"));
    REQUIRE(setup.server.AnswerAlways("/missing.txt", "", 404));
    REQUIRE(setup.server.AnswerAlways("/broken.zip", "not a zip archive"));

    SUBCASE("an empty list ends the update after the download walk")
    {
        CHECK_FALSE(setup.Run(L""));
        CHECK(setup.server.Requests().empty());
        CHECK_FALSE(BackupWalk(UpdateFileList(), setup.app.Path().c_str()));
        CHECK(setup.app.Files() == std::vector<std::wstring>{L"Tessel.exe"});
    }
    SUBCASE("a later download fails")
    {
        CHECK_FALSE(setup.Run(setup.Listed(L"name='Tessel.exe'", L"/Tessel.exe") +
                              setup.Listed(L"name='notes.txt'", L"/missing.txt")));
        CHECK(setup.app.Files() == std::vector<std::wstring>{L"Tessel.exe", L"Tessel_new.exe"});
    }
    SUBCASE("the digest differs")
    {
        std::wstring wrong = L"sha256='" + std::wstring(64, L'0') + L"' name='Tessel.exe'";
        CHECK_FALSE(setup.Run(setup.Listed(wrong, L"/Tessel.exe")));
        CHECK(setup.app.Files() == std::vector<std::wstring>{L"Tessel.exe"});
    }
    SUBCASE("a listed file is not installed yet: the program moved aside comes back")
    {
        CHECK_FALSE(setup.Run(setup.Listed(L"name='Tessel.exe'", L"/Tessel.exe") +
                              setup.Listed(L"name='notes.txt'", L"/notes.txt")));
        CHECK(ReadWholeFile(setup.app / L"notes_new.txt") == "notes");
        CHECK_FALSE(Exists(setup.app / L"Tessel_old.exe"));
        CHECK_FALSE(Exists(setup.app / L"notes.txt"));
    }
    SUBCASE("an archive that cannot be unpacked: the program moved aside comes back")
    {
        CHECK_FALSE(setup.Run(setup.Listed(L"name='Tessel.exe' zip='Tessel.zip'", L"/broken.zip")));
        CHECK(setup.app.Files() == std::vector<std::wstring>{L"Tessel.exe"});
    }
    SUBCASE("a later archive that cannot be unpacked: the files the first wrote over come back")
    {
        REQUIRE(WriteWholeFile(setup.app / L"stored.txt", "old stored"));
        REQUIRE(WriteWholeFile(setup.app / L"notes.txt", "old notes"));
        REQUIRE(setup.server.AnswerAlways("/pack.zip", ReadWholeFile(ZipFixture(L"python.zip"))));
        CHECK_FALSE(setup.Run(setup.Listed(L"name='Tessel.exe' zip='Tessel.zip'", L"/pack.zip") +
                              setup.Listed(L"name='notes.txt' zip='notes.zip'", L"/broken.zip")));
        // Folders the archive made may stay; no file does.
        CHECK(ListTree(setup.app.Path(), false) ==
              std::vector<std::wstring>{L"Tessel.exe", L"notes.txt", L"stored.txt"});
        CHECK(ReadWholeFile(setup.app / L"stored.txt") == "old stored");
    }
    SUBCASE("a folder the program cannot write")
    {
        REQUIRE(WriteWholeFile(setup.app / L"notes.txt", "old notes"));
        const std::vector<std::wstring> before = setup.app.Files();
        {
            UnwritableFolder readOnly(setup.app.Path());
            REQUIRE_MESSAGE(readOnly.IsUnwritable(), "chattr could not make the folder unwritable");
            CHECK_FALSE(setup.Run(setup.Listed(L"name='Tessel.exe'", L"/Tessel.exe") +
                                  setup.Listed(L"name='notes.txt'", L"/notes.txt")));
        }
        CHECK(setup.app.Files() == before);
        CHECK(ReadWholeFile(setup.app / L"notes.txt") == "old notes");
    }
    CHECK(ReadWholeFile(setup.app / L"Tessel.exe") == "old program");
}

TEST_CASE("Names that leave the application folder, or meet in any spelling, through a short "
          "name or a derived name, refuse the whole list before any download")
{
    Installation setup;
    REQUIRE(setup.server.AnswerAlways("/x", "x"));
    const std::wstring url = setup.server.Url(L"/x");
    TempFolder outside{L"tessel-outside"};
    REQUIRE(WriteWholeFile(setup.app / L"Documentation Notes.txt", "notes"));
    wchar_t shortPath[MAX_PATH] = {};
    const DWORD length =
        GetShortPathNameW((setup.app / L"Documentation Notes.txt").c_str(), shortPath, MAX_PATH);
    REQUIRE(length > 0);
    const std::wstring shortPathText = shortPath;
    const std::wstring shortName = shortPathText.substr(shortPathText.find_last_of(L'\\') + 1);
    REQUIRE(shortName != L"Documentation Notes.txt");

    const std::wstring refused[][2] = {
        // One name of each kind that leaves the folder, alone; the names
        // the rules refuse are listed with them.
        {L"name='..\\tessel-outside-" + std::to_wstring(GetCurrentProcessId()) + L"\\x'"},
        {L"name='" + outside / L"x" + L"'"},
        {L"name='a.txt' zip='..\\..\\x.zip'"},
        {L"name='NUL'"},
        {L"name='Tessel.exe.'"},
        // One name in other cases or with the other separator.
        {L"name='Tessel.exe'", L"name='TESSEL.EXE'"},
        {L"name='sub/x'", L"name='sub\\x'"},
        {L"name='a.txt' zip='p.zip'", L"name='b.txt' zip='P.ZIP'"},
        // One file under its long and its short name.
        {L"name='Documentation Notes.txt'", L"name='" + shortName + L"'"},
        // A name that is another entry's download or backup.
        {L"name='Tessel.exe'", L"name='Tessel_new.exe'"},
        {L"name='Tessel.exe'", L"name='tessel_OLD.exe'"},
        // An archive's download that is another entry's file.
        {L"name='a.txt' zip='notes.txt'", L"name='notes_new.txt'"},
    };
    for (const auto& entries : refused) {
        INFO(Narrow(entries[0] + L" " + entries[1]));
        CHECK_FALSE(setup.Run(Entry(entries[0], url) +
                              (entries[1].empty() ? L"" : Entry(entries[1], url))));
    }
    CHECK(setup.server.Requests().empty());
    CHECK(outside.Files().empty());
    CHECK(setup.app.Files() ==
          std::vector<std::wstring>{L"Documentation Notes.txt", L"Tessel.exe"});
    CHECK(ReadWholeFile(setup.app / L"Tessel.exe") == "old program");

    UpdateFileList list;
    ReadList(Entry(L"name='Tessel.exe'", url) +
                 Entry(L"sha256='" + std::wstring(64, L'a') + L"' size='1' name='notes.txt'", url),
             list);
    CHECK(IsSafeFileList(list, setup.app.Path().c_str(), 0));
    // With a signed answer every download must be bound to it by a digest.
    CHECK_FALSE(IsSafeFileList(list, setup.app.Path().c_str(), 1));
    list.pop_front();
    CHECK(IsSafeFileList(list, setup.app.Path().c_str(), 1));
}

TEST_CASE("The archive unpacked is the one whose digest was checked, and no other")
{
    Installation setup;
    const std::string archive = ReadWholeFile(ZipFixture(L"python.zip"));
    const std::string other = ReadWholeFile(ZipFixture(L"infozip.zip"));
    REQUIRE(setup.server.AnswerAlways("/pack.zip", archive));
    UpdateFileList list;
    ReadList(
        Entry(L"name='Tessel.exe' zip='Tessel.zip' sha256='" + Widen(HexSha256(archive)) + L"'",
              setup.server.Url(L"/pack.zip")),
        list);
    const wchar_t* folder = setup.app.Path().c_str();
    REQUIRE(DownloadWalk(list, folder, setup.desktop.Path().c_str(), setup.client, setup.program));
    REQUIRE(BackupWalk(list, folder));

    SUBCASE("swapped after the download's check: refused")
    {
        REQUIRE(WriteWholeFile(setup.app / L"Tessel_new.zip", other));
        CHECK_FALSE(InstallWalk(list, folder));
    }
    SUBCASE("missing: a file under another name is not taken instead")
    {
        REQUIRE(MoveFileW((setup.app / L"Tessel_new.zip").c_str(),
                          (setup.app / L"Tessel_new.zip.zip").c_str()));
        CHECK_FALSE(InstallWalk(list, folder));
        DeleteFileW((setup.app / L"Tessel_new.zip.zip").c_str());
    }
    CHECK(setup.app.Files() == std::vector<std::wstring>{L"Tessel_old.exe"});
}

TEST_CASE("A program to run starts only as its digest says")
{
    TempFolder desktop{L"tessel-run-checked"};
    const std::wstring program = desktop / L"setup.cmd";
    const std::wstring marker = desktop / L"tessel-update-marker.txt";
    const std::string script = "@echo started> \"%~dp0tessel-update-marker.txt\"\r\n";
    REQUIRE(WriteWholeFile(program, script));
    const std::wstring digestText = Widen(HexSha256(script));

    REQUIRE(WriteWholeFile(program, script + "rem changed on the desktop\r\n"));
    CHECK_FALSE(RunCheckedProgram(program.c_str(), digestText.c_str()));
    REQUIRE(WriteWholeFile(program, script));
    CHECK(RunCheckedProgram(program.c_str(), digestText.c_str()));
    CHECK(WaitForFile(marker));
}
