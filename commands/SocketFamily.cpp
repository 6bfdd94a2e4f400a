#include "commands/SocketFamily.h"

#include "host/ErrorCodes.h"
#include "host/Library.h"
#include "ip_misc/Convert.h"
#include "WSockets/TTCPClient.h"
#include "WSockets/TTCPServer.h"

#include <functional>
#include <utility>
#include <vector>

using platform::socket_t;
using TRoute = RelayRouter::TRoute;
using TPeer = TSocketConnection::TPeer;

// The server's connections as the relay router sees them.
class SocketFamily::ServerConnections : public RelayRouter::Connections {
public:
  explicit ServerConnections(TTCPServer &server) : server_(server) {}
  void Ids(std::vector<socket_t> &ids) const override {
    ids.reserve(server_.Clients.Count());
    for (const TSocketConnection *c : server_.Clients)
      ids.push_back(c->Handle());
  }
  const std::string *AddressOf(socket_t id) const override {
    const TSocketConnection *c = server_.Clients.Find(id);
    return c ? &c->Peer.Address : nullptr;
  }
  void WriteTo(socket_t id, std::string_view text) override { server_.WriteTo(id, text); }

private:
  TTCPServer &server_;
};

namespace {

// Runs a handler body; nothing a handler raises may reach the notification
// loop, which runs outside every failure frame.
template <typename Body> void Guarded(Body &&body) {
  try {
    body();
  } catch (...) {
  }
}

} // namespace

SocketFamily::SocketFamily(Library &library)
    : lib_(library), connections_(std::make_unique<ServerConnections>(library.Server())),
      router_(*connections_) {
  TTCPServer &server = lib_.Server();
  TTCPClient &client = lib_.Client();
  server.OnData = [this](TCustomWSocket &, socket_t s) { Guarded([&] { ServerData(s); }); };
  server.OnAccept = [this](TCustomWSocket &, socket_t s) { Guarded([&] { Accepted(s); }); };
  server.OnClose = [this](TCustomWSocket &, socket_t s) { Guarded([&] { ServerClosed(s); }); };
  server.OnError = [this](TCustomWSocket &, int, const std::string &msg) {
    Guarded([&] { Failed(msg); });
  };
  client.OnData = [this](TCustomWSocket &, socket_t s) { Guarded([&] { ClientData(s); }); };
  client.OnConnect = [this](TCustomWSocket &, socket_t) { Guarded([&] { Connected(); }); };
  client.OnClose = [this](TCustomWSocket &, socket_t) { Guarded([&] { ClientClosed(); }); };
  client.OnError = [this](TCustomWSocket &, int, const std::string &msg) {
    Guarded([&] { Failed(msg); });
  };
}

// The socket objects are released before the families and close without
// events; nothing to undo here.
SocketFamily::~SocketFamily() = default;

SocketFamily::EventFields SocketFamily::ParseEventRecord(std::string_view record) {
  EventFields f;
  const auto next = [](std::string_view &rest) {
    const std::size_t bar = rest.find('|');
    const std::string_view field = rest.substr(0, bar);
    rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
    return std::string(field);
  };
  std::string_view rest = record;
  f.Name = next(rest);
  if (f.Name == "ERROR") {
    f.IsError = true;
    f.Error = std::string(rest);
    return f;
  }
  f.Address = next(rest);
  f.Port = next(rest);
  if (f.Name == "NETWORK") {
    f.Id = next(rest);
    f.Data = std::string(rest);
    f.HasData = true;
  } else {
    f.Id = std::string(rest);
  }
  return f;
}

// ---- reporting

void SocketFamily::Report(const char *name, const TPeer &peer) {
  if (hostEvents_) {
    senderAddr_ = peer.Address;
    senderPort_ = peer.Port;
    senderId_ = peer.Id;
    lib_.RaiseEvent(name);
    return;
  }
  Queue(std::string(name) + "|" + peer.Address + "|" + peer.Port + "|" + peer.Id);
}

void SocketFamily::Queue(std::string record) {
  TEventQueue &queue = lib_.EventQueue();
  queue.push_front(std::move(record));
  if (queue.size() < MaxQueuedEvents && queue.Bytes() < MaxQueuedEventBytes)
    return;
  peersHeld_ = true;
  lib_.Server().HoldAccepting();
  lib_.Server().HoldReading();
  lib_.Client().HoldReading();
}

void SocketFamily::ReleasePeers() {
  peersHeld_ = false;
  lib_.Server().ReleaseAccepting();
  lib_.Server().ReleaseReading();
  lib_.Client().ReleaseReading();
}

void SocketFamily::ReportNetwork(const TPeer &peer, std::string_view data) {
  if (hostEvents_) {
    socketData_ = data;
    Report("NETWORK", peer);
    return;
  }
  std::string record = "NETWORK|" + peer.Address + "|" + peer.Port + "|" + peer.Id + "|";
  record += data;
  Queue(std::move(record));
}

void SocketFamily::Failed(const std::string &message) {
  if (hostEvents_) {
    socketErrorText_ = message;
    lib_.RaiseEvent("ERROR");
    return;
  }
  Queue("ERROR|" + message);
}

// ---- handlers

void SocketFamily::Accepted(socket_t s) {
  if (const TSocketConnection *conn = lib_.Server().Clients.Find(s))
    Report("ACCEPT", conn->Peer);
}

void SocketFamily::ServerClosed(socket_t s) {
  if (const TSocketConnection *conn = lib_.Server().Clients.Find(s))
    Report("CLOSEC", conn->Peer);
}

void SocketFamily::CloseConnection(socket_t s) {
  TTCPServer &server = lib_.Server();
  const TSocketConnection *conn = server.Clients.Find(s);
  if (!conn)
    return server.SocketError(platform::WSAENOTSOCK);
  const std::uint64_t serial = conn->Serial();
  Report("CLOSEC", conn->Peer);
  // The script may have dropped it already while hearing of it.
  if (server.Clients.Find(s, serial))
    server.Disconnect(s);
}

void SocketFamily::RawData(const TPeer &peer, const std::string &chunk) {
  if (hostEvents_) {
    socketData_ += chunk;
    Report("NETWORK", peer);
  } else {
    std::string data = socketData_ + chunk;
    socketData_.clear();
    ReportNetwork(peer, data);
  }
}

void SocketFamily::ServerData(socket_t s) {
  TTCPServer &server = lib_.Server();
  const TSocketConnection *conn = server.Clients.Find(s);
  if (!conn)
    return;
  const auto current = [&, serial = conn->Serial()] { return server.Clients.Find(s, serial); };
  Received(
      server, server.ReadFrom(s), current,
      [&](const TPeer &sender, std::string_view message) {
        // A failing message (an id that is not a number) is dropped
        // alone.
        Guarded([&] { RelayMessage(sender, message); });
      },
      [&] { server.Disconnect(s); });
}

void SocketFamily::ClientData(socket_t) {
  TTCPClient &client = lib_.Client();
  const TSocketConnection *conn = client.Connection();
  if (!conn)
    return;
  const auto current = [&, serial = conn->Serial()]() -> TSocketConnection * {
    TSocketConnection *c = client.Connection();
    return c && c->Serial() == serial ? c : nullptr;
  };
  // The client does not read route words: the server forwards only the
  // text of relay messages, so each message is reported whole.
  Received(
      client, client.Read(), current,
      [&](const TPeer &sender, std::string_view message) { ReportNetwork(sender, message); },
      [&] { client.Close(); });
}

void SocketFamily::Received(TCustomWSocket &socket, const std::string &chunk,
                            const std::function<TSocketConnection *()> &current,
                            const std::function<void(const TPeer &, std::string_view)> &handle,
                            const std::function<void()> &close) {
  // A failed read was reported, and the script may have closed anything.
  const TSocketConnection *conn = current();
  if (!conn || chunk.empty())
    return;
  if (!router_.Framing())
    return RawData(conn->Peer, chunk);
  // Messages of one connection never mix with another's, and every complete
  // one is handled now, in order. Replies to all of them leave together.
  socket.HoldOutput();
  struct Release {
    TCustomWSocket &socket;
    ~Release() { socket.ReleaseOutput(); }
  } release{socket};
  const auto input = [&]() -> std::string * {
    TSocketConnection *c = current();
    return c ? &c->Input : nullptr;
  };
  // Told as the sender's even when a handler closes it.
  const TPeer sender = conn->Peer;
  const bool fits = RelayRouter::Receive(input, chunk, [&](std::string_view message) {
    handle(sender, message);
    return current() && router_.Framing();
  });
  if (fits)
    return;
  socket.SocketError(platform::WSAEMSGSIZE);
  if ((conn = current()))
    Report("CLOSEC", conn->Peer);
  // The script may have dropped it already while hearing of it.
  if (current())
    close();
}

void SocketFamily::RelayMessage(const TPeer &sender, std::string_view message) {
  const std::optional<RelayRouter::TMessage> heard = router_.Relay(message);
  if (!heard)
    return;
  // Host events give an unrouted message whole; a queued record keeps the
  // text after its first "|".
  ReportNetwork(sender, heard->Which.Route == TRoute::None && hostEvents_ ? message : heard->Text);
}

void SocketFamily::Connected() {
  if (const TSocketConnection *conn = lib_.Client().Connection())
    Report("CONNECT", conn->Peer);
}

void SocketFamily::ClientClosed() {
  if (const TSocketConnection *conn = lib_.Client().Connection())
    Report("CLOSEC", conn->Peer);
}

// ---- commands

void SocketFamily::Command() {
  TTCPServer &server = lib_.Server();
  TTCPClient &client = lib_.Client();
  switch (lib_.LookupNext(Commands)) {
  case CmdAUTO: return router_.SetFraming(SwitchOn(lib_.NextArgument()));
  case CmdADDR: client.Host = lib_.NextArgument(); return;
  case CmdPORT:
    client.Port = lib_.NextArgument();
    server.Port = client.Port;
    return;
  case CmdSERVER:
    serverRole_ = true;
    return server.Open();
  case CmdCLIENT: serverRole_ = false; return client.Open();
  case CmdCLOSE: return Close();
  case CmdSENDALL: return Send({TRoute::All, {}}, lib_.NextArgument());
  case CmdSENDSERVER: return Send({TRoute::Server, {}}, lib_.NextArgument());
  case CmdSENDID: {
    const std::string id = lib_.NextArgument();
    return Send({TRoute::Id, id}, lib_.NextArgument());
  }
  case CmdSENDADDR: {
    const std::string address = lib_.NextArgument();
    return Send({TRoute::Address, address}, lib_.NextArgument());
  }
  case CmdCLOSECID: return CloseId(lib_.NextArgument());
  case CmdCLOSECADDR: return CloseAddr(lib_.NextArgument());
  case CmdTOQEVENTS:
    // Host events are not queued: nothing to hold the peers back for.
    if ((hostEvents_ = SwitchOn(lib_.NextArgument())) && peersHeld_)
      ReleasePeers();
    return;
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

void SocketFamily::Close() {
  if (serverRole_)
    lib_.Server().Close();
  else
    lib_.Client().Close();
  socketData_.clear();
  senderAddr_.clear();
  senderPort_.clear();
  senderId_.clear();
}

void SocketFamily::Send(RelayRouter::TWhich which, const std::string &text) {
  if (serverRole_) {
    if (which.Route != TRoute::Server)
      router_.SendTo(which, text);
  } else if (router_.Framing()) {
    lib_.Client().Write(RelayRouter::Envelope(which, text));
  } else if (which.Route == TRoute::Server) {
    lib_.Client().Write(text);
  }
}

void SocketFamily::CloseId(const std::string &id) {
  if (serverRole_)
    CloseConnection(StrToInt(id));
}

void SocketFamily::CloseAddr(const std::string &address) {
  if (!serverRole_)
    return;
  const TClientList &clients = lib_.Server().Clients;
  // Each report may change the list; scan again from the start after each.
  for (bool found = true; found;) {
    found = false;
    for (const TSocketConnection *c : clients) {
      if (c->Peer.Address != address)
        continue;
      CloseConnection(c->Handle());
      found = true;
      break;
    }
  }
}

// ---- functions

std::string SocketFamily::Status() const {
  if (serverRole_) {
    switch (lib_.Server().Status) {
    case ssClosed: return "closed";
    case ssListening: return "listening";
    case ssNotStarted:
    case ssConnected:
    case ssOpen: return "";
    }
    return "";
  }
  switch (lib_.Client().Status) {
  case ssOpen: return "open";
  case ssConnected: return "connected";
  case ssClosed: return "closed";
  case ssNotStarted:
  case ssListening: return "";
  }
  return "";
}

std::string SocketFamily::TakeData() {
  if (socketData_.size() <= DataChunk) {
    std::string all;
    all.swap(socketData_);
    return all;
  }
  std::string first = socketData_.substr(0, DataChunk);
  socketData_.erase(0, DataChunk);
  return first;
}

std::string SocketFamily::TakeEvent() {
  TEventQueue &queue = lib_.EventQueue();
  if (queue.empty())
    return {};
  const std::string record = queue.TakeOldest();
  if (peersHeld_ && queue.size() <= MaxQueuedEvents / 2 && queue.Bytes() <= MaxQueuedEventBytes / 2)
    ReleasePeers();
  EventFields f = ParseEventRecord(record);
  if (f.IsError) {
    socketErrorText_ = std::move(f.Error);
    return f.Name;
  }
  senderAddr_ = std::move(f.Address);
  senderPort_ = std::move(f.Port);
  senderId_ = std::move(f.Id);
  if (f.HasData)
    socketData_ = std::move(f.Data);
  return f.Name;
}

void SocketFamily::Function(std::string &result) {
  TCustomWSocket &role = serverRole_ ? static_cast<TCustomWSocket &>(lib_.Server())
                                     : static_cast<TCustomWSocket &>(lib_.Client());
  switch (lib_.LookupNext(Functions)) {
  case FnERROR: result = socketErrorText_; return;
  case FnSTATUS: result = Status(); return;
  case FnCLIENTS:
    result = serverRole_ ? std::to_string(lib_.Server().Clients.Count()) : std::string();
    return;
  case FnADDR: result = role.GetLocalHostAddress(); return;
  case FnPORT:
    if (serverRole_)
      result = lib_.Server().Port;
    else if (const TSocketConnection *c = lib_.Client().Connection())
      result = lib_.Client().GetLocalPort(c->Handle());
    return;
  case FnSENDERADDR: result = senderAddr_; return;
  case FnSENDERPORT: result = senderPort_; return;
  case FnSENDERID: result = senderId_; return;
  case FnDATA: result = TakeData(); return;
  case FnEVENT: result = TakeEvent(); return;
  default: lib_.SetError(ErrUnknownSubfunction);
  }
}
