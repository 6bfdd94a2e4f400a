#pragma once
// Reports how far a transfer has come (HTTP and FTP DOWNLOAD and UPLOAD, HTTP
// REQUEST, POP3 GETMAIL, SMTP SEND) to a host's routine: the data the client
// has moved in the transfer's direction since it began, as its connections count it
// (commands and replies are not data), and the transfer's size when the
// client knows it. A report at the start,
// at most one every tenth of a second, and one at the end.
#include "scriptnet.h"
#include "tcpip/TByteCounts.h"

#include <chrono>
#include <cstdint>
#include <string>

class ProgressMeter {
public:
  using Proc = ScriptnetProgressProc;

  void SetProc(Proc proc, void *context);
  bool Active() const { return proc_ != nullptr; }
  // A transfer begins on the client whose counts are given, counted in the
  // direction given. The counts are followed until End.
  void Begin(std::string operation, TDirection direction, TByteCounts &counts);
  // The transfer has ended (done or failed): the last report.
  void End();

private:
  void Moved();
  void Report();

  Proc proc_ = nullptr;
  void *context_ = nullptr;
  std::string operation_;
  TDirection direction_ = TDirection::Received;
  TByteCounts *counts_ = nullptr;
  // The count when the transfer began.
  std::int64_t start_ = 0;
  std::chrono::steady_clock::time_point last_{};
};
