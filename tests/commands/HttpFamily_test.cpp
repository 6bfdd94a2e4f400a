#include "commands/HttpFamily.h"

#include "support/FakeServer.h"
#include "support/LibraryTest.h"
#include "support/TempFolder.h"
#include "support/Transcript.h"
#include "tcpip/T_HTTP.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string Page = "HTTP/1.0 200 OK\r\n\r\none\r\ntwo\nthree\r\n";

std::vector<std::string> progress;
void Progress(void *, const char *operation, std::int64_t done, std::int64_t total) {
  progress.push_back(std::string(operation) + " " + std::to_string(done) + " " +
                     std::to_string(total));
}

using HttpFamily = LibraryTest;

// Lines to the end mark, which repeats; DOWNLOAD leaves the lines alone.
TEST_F(HttpFamily, PageLinesEndWithACarriageReturnText) {
  FakeServer server;
  server.ReadLinesUntil("").Send("HTTP/1.0 200 OK\r\n\r\n").Close();
  server.Accept().ReadLinesUntil("").Send(Page).Close();
  server.Accept().ReadLinesUntil("").Send("HTTP/1.0 200 OK\r\n\r\n").Close();
  server.Accept().ReadLinesUntil("").Send(Page).Close();
  server.Start();
  const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/";
  ASSERT_EQ(Command({"HTTP", "get", url}), 0);
  EXPECT_EQ(Function({"HTTP"}), "one");
  const testsupport::TempFolder folder;
  const std::string file = folder / "download.txt";
  ASSERT_EQ(Command({"HTTP", "DOWNLOAD", url, file}), 0);
  EXPECT_EQ(Function({"HTTP"}), "two");
  EXPECT_EQ(Function({"HTTP"}), "three");
  EXPECT_EQ(Function({"HTTP"}), "\r");
  EXPECT_EQ(Function({"HTTP"}), "\r");
  EXPECT_EQ(lib.StatProc(), 0);
  EXPECT_TRUE(server.Join());
}

TEST_F(HttpFamily, FailuresGiveTheirCodes) {
  EXPECT_EQ(Command({"HTTP", "FETCH", "x"}), 14);
  EXPECT_EQ(Command({"HTTP", "GET", "127.0.0.1:0x/"}), 25);
  EXPECT_EQ(Command({"HTTP", "UPLOAD", "/no/such/file", "127.0.0.1/"}), 240);
  EXPECT_EQ(lib.LastErrorText().rfind("Cannot open file \"/no/such/file\"", 0), 0u)
      << lib.LastErrorText();
  // Before any page the end mark comes at once.
  EXPECT_EQ(Function({"HTTP"}), "\r");
}

// Emptying the proxy goes back to direct requests; the credentials stay.
TEST_F(HttpFamily, CredentialsOutliveTheProxy) {
  FakeServer server;
  server.ReadLinesUntil("").Send("HTTP/1.0 200 OK\r\n\r\n").Close();
  server.Accept().ReadLinesUntil("").Send("HTTP/1.0 200 OK\r\n\r\nx").Close();
  server.Start();
  ASSERT_EQ(Command({"HTTP", "PROXY", "", "", ""}), 0);
  const std::string url = "127.0.0.1:" + std::to_string(server.Port()) + "/p";
  ASSERT_EQ(Command({"HTTP", "GET", url}), 0);
  ASSERT_TRUE(server.Join());
  const std::vector<std::string> lines = server.Lines();
  EXPECT_EQ(lines[0], "HEAD /p HTTP/1.0");
  EXPECT_EQ(transcript::Line(lines, "Authorization:"), "Authorization: Basic Og==");
}

// The answer of a REQUEST is read through the HTTP function's sub-functions;
// without one the function still gives the page line by line. Bad operands
// are refused with their codes and change nothing.
TEST_F(HttpFamily, RequestsAndTheirAnswers) {
  FakeServer server;
  server.ReadLinesUntil("").Send("HTTP/1.1 422 Unprocessable Entity\r\nX-A: 1\r\nx-a: 2\r\n"
                                 "Content-Length: 12\r\n\r\n{\"e\":1}\nnext")
      .Close();
  server.Start();
  EXPECT_EQ(Command({"HTTP", "HEADER", "ADD", "X-Token: 1"}), 0);
  EXPECT_EQ(Command({"HTTP", "HEADER", "ADD", "Bad Header"}), 25);
  EXPECT_EQ(Command({"HTTP", "HEADER", "ADD", "Transfer-Encoding: chunked"}), 25);
  EXPECT_EQ(Command({"HTTP", "HEADER", "REMOVE", "X-Token"}), 14);
  EXPECT_EQ(lib.Http().RequestHeaders, (std::vector<std::string>{"X-Token: 1"}));
  EXPECT_EQ(Command({"HTTP", "BODY", "TEXT", "a"}), 0);
  EXPECT_EQ(Command({"HTTP", "FORM", "FIELD", "f", "v"}), 0);
  EXPECT_EQ(Command({"HTTP", "REQUEST", "POST", "127.0.0.1:1/"}), 25);
  EXPECT_EQ(Command({"HTTP", "FORM", "FILE", "f", "/no/such/file"}), 240);
  EXPECT_EQ(Command({"HTTP", "BODY", "FILE", "/no/such/file"}), 240);
  EXPECT_EQ(Command({"HTTP", "COOKIES", "/no/such/folder/jar.txt"}), 240);
  EXPECT_EQ(Command({"HTTP", "REQUEST", "GET", "http://" + server.Address() + "/x"}), 0);
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(server.Lines()[0], "GET /x HTTP/1.1");
  // Kept for the next request, until the trust settings change.
  EXPECT_EQ(lib.Http().KeptConnections(), 1u);
  EXPECT_EQ(Command({"TLS", "VERIFY", "on"}), 0);
  EXPECT_EQ(lib.Http().KeptConnections(), 0u);
  EXPECT_EQ(Function({"HTTP", "status"}), "422");
  EXPECT_EQ(Function({"HTTP", "REASON"}), "Unprocessable Entity");
  EXPECT_EQ(Function({"HTTP", "HEADER", "X-A"}), "1, 2");
  EXPECT_EQ(Function({"HTTP", "HEADERS"}), "3");
  EXPECT_EQ(Function({"HTTP", "HEADERLINE", "1"}), "x-a: 2");
  EXPECT_EQ(Function({"HTTP", "HEADERLINE", "3"}), "");
  EXPECT_EQ(Function({"HTTP", "HEADERLINE", "-1"}), "");
  EXPECT_EQ(lib.StatProc(), 0);
  EXPECT_EQ(Function({"HTTP", "HEADERLINE", "x"}), "");
  EXPECT_EQ(lib.StatProc(), 25);
  EXPECT_EQ(Function({"HTTP", "NOSUCH"}), "");
  EXPECT_EQ(lib.StatProc(), 13);
  EXPECT_EQ(Function({"HTTP"}), "{\"e\":1}");
  EXPECT_EQ(Function({"HTTP", ""}), "next");
  EXPECT_EQ(Function({"HTTP"}), "\r");
}

// The host's progress routine follows a REQUEST as one sum: its body, then
// its answer.
TEST_F(HttpFamily, RequestReportsItsBodyAndItsAnswerAsOneTransfer) {
  FakeServer server;
  server.ReadLinesUntil("").ReadBytes(5);
  server.Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc").Close();
  server.Start();
  progress.clear();
  lib.SetProgressProc(Progress, nullptr);
  EXPECT_EQ(Command({"HTTP", "BODY", "TEXT", "hello"}), 0);
  EXPECT_EQ(Command({"HTTP", "REQUEST", "POST", "http://" + server.Address() + "/"}), 0);
  lib.SetProgressProc(nullptr, nullptr);
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(progress.front(), "REQUEST 0 -1");
  EXPECT_EQ(progress.back(), "REQUEST 8 8");
}

} // namespace
