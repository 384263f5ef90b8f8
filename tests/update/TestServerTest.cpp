#include <winsock2.h>
#include <windows.h>

#include <doctest.h>

#include <string>

#include "HttpTestServer.h"

namespace {

// Sends a raw request to the server and answers everything it sent back
// until it closed. (Wine's recv reports a reset connection either as an
// error or as a clean end.)
std::string Exchange(unsigned short port, const std::string& request)
{
    SOCKET connection = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const DWORD timeout = 5000;
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof(timeout));
    std::string answer;
    if (connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        (request.empty() ||
         send(connection, request.data(), static_cast<int>(request.size()), 0) > 0)) {
        char buffer[4096];
        int received;
        while ((received = recv(connection, buffer, sizeof(buffer), 0)) > 0) {
            answer.append(buffer, static_cast<size_t>(received));
        }
    }
    closesocket(connection);
    return answer;
}

} // namespace

TEST_CASE("The test server answers as scripted and records what it was sent")
{
    HttpTestServer server;
    REQUIRE(server.IsRunning());
    ScriptedAnswer answer;
    answer.path = "/file";
    answer.status = 206;
    answer.headers = {"Content-Disposition: attachment; filename=\"a.bin\""};
    answer.body = std::string("x\0y", 3);
    answer.length = ScriptedAnswer::kNoLength;
    REQUIRE(server.Answer(answer));

    const std::string post = "POST /file?q=1 HTTP/1.0\r\nContent-Length: 4\r\nX-Test: yes\r\n\r\n";
    const std::string reply = Exchange(server.Port(), post + std::string("ab\0c", 4));
    CHECK(reply.find("HTTP/1.1 206 ") == 0);
    CHECK(reply.find("Content-Length") == std::string::npos);
    CHECK(reply.find("Content-Disposition: attachment; filename=\"a.bin\"") != std::string::npos);
    CHECK(reply.substr(reply.size() - 7) == std::string("\r\n\r\nx\0y", 7));
    CHECK(Exchange(server.Port(), "GET /file HTTP/1.0\r\n\r\n").find("HTTP/1.1 404") == 0);

    const auto requests = server.Requests();
    REQUIRE(requests.size() == 2);
    CHECK(requests[0].method == "POST");
    CHECK(requests[0].target == "/file?q=1");
    CHECK(requests[0].path == "/file");
    CHECK(requests[0].query == "q=1");
    CHECK(requests[0].Header("x-test") == "yes");
    CHECK(requests[0].body == std::string("ab\0c", 4));
    REQUIRE(server.Clear());
    CHECK(server.Requests().empty());

    SUBCASE("a reset in the middle of the body")
    {
        answer.length = ScriptedAnswer::kAutoLength;
        answer.body = std::string(10000, 'z');
        answer.resetAfter = 100;
        REQUIRE(server.Answer(answer));
        const std::string cut = Exchange(server.Port(), "GET /file HTTP/1.0\r\n\r\n");
        // A reset may also discard what had arrived; the whole body never does.
        CHECK(cut.find(answer.body) == std::string::npos);
    }
    SUBCASE("the FTP form serves the files put there")
    {
        FtpTestServer ftp;
        REQUIRE(ftp.IsRunning());
        CHECK(ftp.PutFile("a.txt", "abc"));
        CHECK(Exchange(ftp.Port(), "").find("220") == 0);
    }
}

TEST_CASE("The server's framing survives any byte and refuses broken input")
{
    const std::vector<std::string> fields = {"", std::string("\0,:9", 4), "abc"};
    std::vector<std::string> back;
    REQUIRE(UnpackFields(PackFields(fields), back));
    CHECK(back == fields);
    CHECK_FALSE(UnpackFields("3:ab,", back));
    CHECK_FALSE(UnpackFields("99999999999999:a,", back));
    CHECK_FALSE(UnpackFields("1:a", back));
    CHECK(back == fields);
}
