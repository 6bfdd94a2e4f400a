#pragma once
// The asynchronous TCP server: listens on Port, accepts any number of
// connections and keeps them in Clients, in accept order.
#include "WSockets/TClientList.h"
#include "WSockets/TCustomWSocket.h"

#include <cstdint>
#include <string>
#include <string_view>

class TTCPServer : public TCustomWSocket {
public:
  // Connections the system holds for accepting before the server takes
  // them; a crowd of clients arriving at once is not turned away.
  static constexpr int Backlog = 128;
  // When an accept fails for lack of descriptors (or memory), accepting
  // pauses this long, or until one of the connections closes, instead of
  // failing again at once for as long as the connection waits.
  static constexpr int AcceptPauseMs = 200;

  explicit TTCPServer(platform::NotificationLoop &loop) : TCustomWSocket(loop, 6, 1) {}
  ~TTCPServer() override;

  std::string Port;
  TOnData OnData;
  TOnAccept OnAccept;
  TOnClose OnClose;
  // The accepted connections, in accept order; connections come and go by
  // the server's doing alone.
  const TClientList &Clients = connections_;

  // Starts listening; only from ssClosed. A port in use is reported (10048)
  // and leaves ssClosed; a bad port text raises EConvertError.
  void Open();
  // Closes every connection and the listening socket; raises no event.
  void Close();
  // The port it listens on: Port, or the one the system chose when Port is
  // 0; 0 while not listening.
  std::uint16_t ListeningPort() const;
  // The three act only on the server's current connections; any other
  // handle is reported as 10038 and nothing is written, read or closed.
  // A connection whose output failed (see SendFailed) takes no more
  // writes, silently: its failure was reported once.
  void WriteTo(platform::socket_t s, std::string_view text);
  std::string ReadFrom(platform::socket_t s);
  bool Disconnect(platform::socket_t s);
  // While held, connections wait in the system's backlog, unaccepted, and
  // TCP holds their peers back; Release takes them again.
  void HoldAccepting() { acceptHeld_ = true; }
  void ReleaseAccepting();

protected:
  void WndProc(platform::socket_t s, int event, int error) override;
  // A connection whose send failed, or whose queue passed a cap, cannot be
  // written to in order any more: the error is reported once, its queued
  // output is dropped, and it closes at the next round of the loop as if
  // the peer had closed it (OnClose, then it leaves Clients).
  void SendFailed(TSocketConnection &c, int error) override;

private:
  void AcceptConnection();

  void PauseAccepting();
  void ResumeAccepting();

  platform::SocketHolder listener_;
  bool acceptHeld_ = false;
  // The pause after descriptors ran out: its timer, and whether the
  // shortage has been reported (once until an accept succeeds again).
  std::uint64_t acceptPause_ = 0;
  bool shortageReported_ = false;
};
