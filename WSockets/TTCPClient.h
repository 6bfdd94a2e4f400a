#pragma once
// The asynchronous TCP client: connects to Host:Port and exchanges text with
// it, reporting the connect, arriving data, the peer's close and failures
// through its events.
#include "WSockets/TCustomWSocket.h"

#include <string>
#include <string_view>
#include <vector>

class TTCPClient : public TCustomWSocket {
public:
  explicit TTCPClient(platform::NotificationLoop &loop) : TCustomWSocket(loop, 6, 1) {}
  ~TTCPClient() override;

  std::string Host;
  std::string Port;
  TOnData OnData;
  TOnConnect OnConnect;
  TOnClose OnClose;

  // Starts connecting; only from ssClosed. The host's addresses are tried
  // in turn until one accepts; the outcome arrives as OnConnect or OnError
  // (the last address's failure: 10061 refused, ...), the state reads
  // ssOpen meanwhile and until Close. A bad port text raises EConvertError; an unknown host is reported
  // and leaves ssClosed.
  void Open();
  // Graceful close; raises no event.
  void Close();
  // Without a connection, Write reports 10038 and Read gives nothing.
  void Write(std::string_view text);
  std::string Read();
  // The connection, from Open (connecting) until it closes; null when
  // there is none.
  TSocketConnection *Connection() const;

protected:
  void WndProc(platform::socket_t s, int event, int error) override;

private:
  // A new connection to addr; false (reported) when it could not even
  // start.
  bool StartConnect(const TSockAddr &addr);
  // Closes the connection without a goodbye, to try the next address.
  void Abandon();
  // The addresses still to try should the current one fail.
  std::vector<TSockAddr> untried_;
};
