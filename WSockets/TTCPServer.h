#pragma once
// The asynchronous TCP server: listens on Port, accepts any number of
// connections and keeps their handles in Clients, in accept order.
#include "WSockets/TClientList.h"
#include "WSockets/TCustomWSocket.h"

#include <string>
#include <string_view>

class TTCPServer : public TCustomWSocket {
public:
  // Connections the system holds for accepting before the server takes
  // them; a crowd of clients arriving at once is not turned away.
  static constexpr int Backlog = 128;

  explicit TTCPServer(platform::NotificationLoop &loop);
  ~TTCPServer() override;

  std::string Port;
  TOnData OnData;
  TOnAccept OnAccept;
  TOnClose OnClose;
  TClientList Clients;

  // Starts listening; only from ssClosed. A port in use is reported (10048)
  // and leaves ssClosed; a bad port text raises EConvertError.
  void Open();
  // Closes every connection and the listening socket; raises no event.
  void Close();
  // The three act only on the server's current connections; any other
  // handle is reported as 10038 and nothing is written, read or closed.
  void WriteTo(platform::socket_t s, std::string_view text);
  std::string ReadFrom(platform::socket_t s);
  bool Disconnect(platform::socket_t s);

protected:
  void WndProc(platform::socket_t s, int event, int error) override;

private:
  void AcceptConnection();
};
