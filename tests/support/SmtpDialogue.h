#pragma once
// The scripted side of an SMTP server that takes one message, for the suites
// that send mail to a fake server.
#include "support/FakeServer.h"

// Greets, takes the sender and `recipients` recipients and the message up to
// its final ".", accepts it and closes; starts the server.
inline void AcceptOneMessage(FakeServer &server, int recipients) {
  server.Send("220 ready\r\n").ReadLine().Send("250 hello\r\n").ReadLine().Send("250 ok\r\n");
  for (int i = 0; i < recipients; ++i)
    server.ReadLine().Send("250 ok\r\n");
  server.ReadLine().Send("354 go\r\n").ReadLinesUntil(".").Send("250 queued\r\n").Close().Start();
}
