#pragma once
// The asynchronous TCP client: connects to Host:Port and exchanges text with
// it, reporting the connect, arriving data, the peer's close and failures
// through its events.
#include "WSockets/TCustomWSocket.h"

#include <string>
#include <string_view>

class TTCPClient : public TCustomWSocket {
public:
  explicit TTCPClient(platform::NotificationLoop &loop);
  ~TTCPClient() override;

  std::string Host;
  std::string Port;
  TOnData OnData;
  TOnConnect OnConnect;
  TOnClose OnClose;

  // Starts connecting; only from ssClosed. The outcome arrives as OnConnect
  // or OnError (10061 refused, ...), the state then reads ssOpen until
  // Close. A bad port text raises EConvertError; an unknown host is reported
  // and leaves ssClosed.
  void Open();
  // Graceful close; raises no event.
  void Close();
  void Write(std::string_view text) { SocketWrite(Socket, text); }
  std::string Read() { return SocketRead(Socket); }

protected:
  void WndProc(platform::socket_t s, int event, int error) override;
};
