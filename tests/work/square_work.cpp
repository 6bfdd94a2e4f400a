// One job that a peer's input drives, at a size given on the command line,
// for tests/work/square_work.sh: callgrind counts the instructions spent
// inside MeasuredWork alone (input made and servers started outside it), and
// the script compares the counts of two sizes. Instruction counts are the
// same from run to run, whatever else the machine does; durations are not.
//   square_work JOB N      JOB: from, mechanisms, fold or uidl
#include "ip_misc/MailText.h"
#include "support/FakeServer.h"
#include "tcpip/MailAuth.h"
#include "tcpip/T_Pop3.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

extern "C" [[gnu::noinline]] void MeasuredWork(const std::function<void()> &job) { job(); }

namespace {

// A POP3 server that logs anna on and lists messages 1 to count, then
// answers the next command with answer.
void Serve(FakeServer &server, int count, const std::string &answer) {
  std::string listing;
  for (int i = 1; i <= count; ++i)
    listing += std::to_string(i) + " 10\r\n";
  server.Send("+OK ready\r\n").ReadLine().Send("-ERR\r\n").ReadLine().Send("+OK\r\n");
  server.ReadLine().Send("+OK\r\n").ReadLine().Send("+OK\r\n" + listing + ".\r\n");
  server.ReadLine().Send(answer).Close().Start();
}

void LogOn(T_Pop3 &pop, const FakeServer &server) {
  pop.Hostname = "127.0.0.1";
  pop.RemotePort = server.Port();
  pop.UserName = "anna";
  pop.Login();
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 3)
    return 2;
  const std::string job = argv[1];
  const int n = std::atoi(argv[2]);
  if (job == "from") {
    // Many starts of an encoded word, none of them ended.
    std::string text;
    for (int i = 0; i < n; ++i)
      text += "=?x ";
    MeasuredWork([&] { std::printf("%zu\n", DecodeWords(text).size()); });
  } else if (job == "mechanisms") {
    std::string auth = "AUTH";
    for (int i = 0; i < n; ++i)
      auth += " M" + std::to_string(i);
    const TStringList ehlo = {auth};
    MeasuredWork([&] { std::printf("%zu\n", OfferedMechanisms(ehlo).size()); });
  } else if (job == "fold") {
    // A From folded over n lines.
    std::string top = "+OK\r\nFrom: a\r\n";
    for (int i = 0; i < n; ++i)
      top += " folded\r\n";
    FakeServer server;
    Serve(server, 1, top + "\r\n.\r\n");
    T_Pop3 pop;
    LogOn(pop, server);
    MeasuredWork([&] {
      pop.GetHeaders();
      std::printf("%zu\n", pop.MailLines[0].size());
    });
    server.Join();
  } else if (job == "uidl") {
    // The ids of n messages backwards, and as many lines for messages that
    // are not listed.
    std::string uidl = "+OK\r\n";
    for (int i = n; i >= 1; --i)
      uidl += std::to_string(i) + " id" + std::to_string(i) + "\r\n";
    for (int i = 1; i <= n; ++i)
      uidl += std::to_string(n + i) + " gone\r\n";
    FakeServer server;
    Serve(server, n, uidl + ".\r\n");
    T_Pop3 pop;
    LogOn(pop, server);
    MeasuredWork([&] { std::printf("%s\n", pop.UniqueId(0).c_str()); });
    server.Join();
  } else {
    return 2;
  }
  return 0;
}
