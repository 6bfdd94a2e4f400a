#pragma once
// Reports how far a transfer has come (HTTP and FTP DOWNLOAD and UPLOAD, POP3
// GETMAIL, SMTP SEND) to a host's routine: the bytes moved so far, counted
// from the clients' traces of each receive or send in the transfer's
// direction, and its size when the client knows it. A report at the start, at
// most one every tenth of a second, and one at the end.
#include "scriptnet.h"
#include "tcpip/TConnection.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

class ProgressMeter {
public:
  using Proc = ScriptnetProgressProc;
  // The transfer's size as far as it is known; -1 while it is not.
  using TotalFn = std::function<std::int64_t()>;

  void SetProc(Proc proc, void *context);
  bool Active() const { return proc_ != nullptr; }
  // A transfer begins; sending: count what is sent, else what is received.
  void Begin(std::string operation, bool sending, TotalFn total);
  // One trace of a client; counts in the transfer's direction move it on.
  void Add(const std::string &text, TTraceLevel level);
  // The transfer has ended (done or failed): the last report.
  void End();

private:
  void Report();

  Proc proc_ = nullptr;
  void *context_ = nullptr;
  std::string operation_;
  bool sending_ = false;
  TotalFn total_;
  std::int64_t done_ = 0;
  std::chrono::steady_clock::time_point last_{};
};
