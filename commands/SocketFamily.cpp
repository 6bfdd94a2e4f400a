#include "commands/SocketFamily.h"

#include "host/ErrorCodes.h"
#include "host/Library.h"
#include "ip_misc/Convert.h"
#include "WSockets/TTCPClient.h"
#include "WSockets/TTCPServer.h"

#include <utility>
#include <vector>

using platform::socket_t;

// What the service keeps per connection: its relay buffer, and the address,
// port and id it reports (taken when the connection began, so a close after
// a reset still names its peer).
struct SocketFamily::Connection {
  std::string Buffer;
  std::string Address, Port, Id;
  bool Gone = false;
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

SocketFamily::SocketFamily(Library &library) : lib_(library) {
  TTCPServer &server = lib_.Server();
  TTCPClient &client = lib_.Client();
  server.OnData = [this](TCustomWSocket &, socket_t s) { Guarded([&] { ServerData(s); }); };
  server.OnAccept = [this](TCustomWSocket &, socket_t s) { Guarded([&] { Accepted(s); }); };
  server.OnClose = [this](TCustomWSocket &, socket_t s) { Guarded([&] { ServerClosed(s); }); };
  server.OnError = [this](TCustomWSocket &, int, const std::string &msg) {
    Guarded([&] { Failed(msg); });
  };
  client.OnData = [this](TCustomWSocket &, socket_t s) { Guarded([&] { ClientData(s); }); };
  client.OnConnect = [this](TCustomWSocket &, socket_t s) { Guarded([&] { Connected(s); }); };
  client.OnClose = [this](TCustomWSocket &, socket_t s) { Guarded([&] { ClientClosed(s); }); };
  client.OnError = [this](TCustomWSocket &, int, const std::string &msg) {
    Guarded([&] { Failed(msg); });
  };
}

// The socket objects are released before the families and close without
// events; nothing to undo here.
SocketFamily::~SocketFamily() = default;

void SocketFamily::SplitRoute(std::string_view message, std::string_view &route,
                              std::string_view &payload) {
  const std::size_t bar = message.find('|');
  if (bar == std::string_view::npos) {
    route = {};
    payload = message;
    return;
  }
  route = message.substr(0, bar);
  payload = message.substr(bar + 1);
}

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

std::shared_ptr<SocketFamily::Connection> SocketFamily::Describe(TCustomWSocket &socket,
                                                                  socket_t s) {
  auto conn = std::make_shared<Connection>();
  conn->Address = socket.GetRemoteAddress(s);
  conn->Port = socket.GetRemotePort(s);
  conn->Id = std::to_string(s);
  return conn;
}

std::shared_ptr<SocketFamily::Connection> SocketFamily::ConnectionOf(socket_t s) {
  const auto it = connections_.find(s);
  if (it != connections_.end())
    return it->second;
  return connections_[s] = Describe(lib_.Server(), s);
}

// ---- reporting

void SocketFamily::Report(const char *name, const Connection &conn) {
  if (hostEvents_) {
    senderAddr_ = conn.Address;
    senderPort_ = conn.Port;
    senderId_ = conn.Id;
    lib_.RaiseEvent(name);
    return;
  }
  Queue(std::string(name) + "|" + conn.Address + "|" + conn.Port + "|" + conn.Id);
}

void SocketFamily::Queue(std::string record) {
  TEventQueue &queue = lib_.EventQueue();
  queue.push_front(std::move(record));
  if (queue.size() < MaxQueuedEvents && queue.Bytes() < MaxQueuedEventBytes)
    return;
  peersHeld_ = true;
  lib_.Server().HoldAccepting();
}

void SocketFamily::ReleasePeers() {
  peersHeld_ = false;
  TTCPServer &server = lib_.Server();
  server.ReleaseAccepting();
  for (socket_t s : heldReads_)
    if (server.Clients.Contains(s))
      server.ResumeReading(s);
  heldReads_.clear();
  TTCPClient &client = lib_.Client();
  if (std::exchange(clientHeld_, false) && client.Socket != platform::InvalidSocket)
    client.ResumeReading(client.Socket);
}

void SocketFamily::ReportNetwork(const Connection &conn, std::string_view data) {
  if (hostEvents_) {
    socketData_ = data;
    Report("NETWORK", conn);
    return;
  }
  std::string record = "NETWORK|" + conn.Address + "|" + conn.Port + "|" + conn.Id + "|";
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
  // A new connection starts with a buffer of its own, whatever an earlier
  // connection with the same handle left.
  auto conn = Describe(lib_.Server(), s);
  connections_[s] = conn;
  Report("ACCEPT", *conn);
}

void SocketFamily::ServerClosed(socket_t s) {
  const auto conn = ConnectionOf(s);
  Report("CLOSEC", *conn);
  conn->Gone = true;
  const auto it = connections_.find(s);
  if (it != connections_.end() && it->second == conn)
    connections_.erase(it);
}

void SocketFamily::DropServerConnection(socket_t s) {
  const auto it = connections_.find(s);
  if (it != connections_.end()) {
    it->second->Gone = true;
    connections_.erase(it);
  }
  if (lib_.Server().Clients.Contains(s))
    lib_.Server().Disconnect(s);
}

void SocketFamily::ForgetConnections() {
  for (auto &[s, conn] : connections_)
    conn->Gone = true;
  connections_.clear();
}

void SocketFamily::RawData(const Connection &conn, const std::string &chunk) {
  if (hostEvents_) {
    socketData_ += chunk;
    Report("NETWORK", conn);
  } else {
    std::string data = socketData_ + chunk;
    socketData_.clear();
    ReportNetwork(conn, data);
  }
}

void SocketFamily::ServerData(socket_t s) {
  TTCPServer &server = lib_.Server();
  // Unread, the data waits in the system and TCP holds the peer back.
  if (peersHeld_)
    return heldReads_.push_back(s);
  const auto conn = ConnectionOf(s);
  const std::string chunk = server.ReadFrom(s);
  if (conn->Gone || chunk.empty())
    return;
  if (!autoMode_)
    return RawData(*conn, chunk);
  // Messages of one connection never mix with another's, and every complete
  // one is handled now, in order. Replies to all of them leave together.
  // Only the new bytes (and the one before them) can complete a message.
  const std::size_t scanFrom = conn->Buffer.empty() ? 0 : conn->Buffer.size() - 1;
  conn->Buffer += chunk;
  if (conn->Buffer.find("\r\n", scanFrom) == std::string::npos) {
    if (conn->Buffer.size() > MaxRelayMessage)
      Overflow(s, conn);
    return;
  }
  server.HoldOutput();
  struct Release {
    TTCPServer &server;
    ~Release() { server.ReleaseOutput(); }
  } release{server};
  std::string buffer;
  buffer.swap(conn->Buffer);
  const std::size_t used = SplitMessages(buffer, [&](std::string_view message) {
    // A failing message (an id that is not a number) is dropped alone.
    Guarded([&] { RelayMessage(s, conn, message); });
    return !conn->Gone && autoMode_;
  });
  if (conn->Gone)
    return;
  // What the handlers may have added meanwhile follows what was left.
  conn->Buffer = buffer.substr(used) + conn->Buffer;
  if (conn->Buffer.size() > MaxRelayMessage)
    Overflow(s, conn);
}

void SocketFamily::Overflow(socket_t s, const std::shared_ptr<Connection> &conn) {
  conn->Buffer.clear();
  conn->Buffer.shrink_to_fit();
  lib_.Server().SocketError(platform::WSAEMSGSIZE);
  if (conn->Gone)
    return;
  Report("CLOSEC", *conn);
  if (!conn->Gone)
    DropServerConnection(s);
}

void SocketFamily::RelayMessage(socket_t s, const std::shared_ptr<Connection> &conn,
                                std::string_view message) {
  TTCPServer &server = lib_.Server();
  std::string_view route, payload;
  SplitRoute(message, route, payload);
  if (route == "ALL") {
    const std::string text = std::string(payload) + terminator_;
    const std::vector<socket_t> targets(server.Clients.begin(), server.Clients.end());
    for (socket_t c : targets)
      if (server.Clients.Contains(c))
        server.WriteTo(c, text);
    ReportNetwork(*conn, payload);
  } else if (route == "ID" || route == "ADDR") {
    const std::size_t semi = payload.find(';');
    const std::string target(payload.substr(0, semi == std::string_view::npos ? 0 : semi));
    const std::string text =
        std::string(semi == std::string_view::npos ? payload : payload.substr(semi + 1)) +
        terminator_;
    if (route == "ID") {
      server.WriteTo(StrToInt(target), text);
      return;
    }
    const std::vector<socket_t> targets(server.Clients.begin(), server.Clients.end());
    for (socket_t c : targets) {
      const auto it = connections_.find(c);
      if (it != connections_.end() && it->second->Address == target && server.Clients.Contains(c))
        server.WriteTo(c, text);
    }
  } else if (route == "SERVER") {
    ReportNetwork(*conn, payload);
  } else if (hostEvents_) {
    ReportNetwork(*conn, message);
  } else {
    ReportNetwork(*conn, payload);
  }
  (void)s;
}

void SocketFamily::Connected(socket_t s) {
  clientConnection_ = Describe(lib_.Client(), s);
  Report("CONNECT", *clientConnection_);
}

void SocketFamily::ClientClosed(socket_t s) {
  if (!clientConnection_)
    clientConnection_ = Describe(lib_.Client(), s);
  const auto conn = clientConnection_;
  Report("CLOSEC", *conn);
  conn->Gone = true;
}

void SocketFamily::ClientData(socket_t s) {
  TTCPClient &client = lib_.Client();
  if (peersHeld_) {
    clientHeld_ = true;
    return;
  }
  if (!clientConnection_)
    clientConnection_ = Describe(client, s);
  const auto conn = clientConnection_;
  const std::string chunk = client.Read();
  if (conn->Gone || chunk.empty())
    return;
  if (!autoMode_)
    return RawData(*conn, chunk);
  // The client does not read route words: the server forwards only the
  // text of relay messages, so each message is reported whole.
  const std::size_t scanFrom = conn->Buffer.empty() ? 0 : conn->Buffer.size() - 1;
  conn->Buffer += chunk;
  std::string buffer;
  if (conn->Buffer.find("\r\n", scanFrom) != std::string::npos)
    buffer.swap(conn->Buffer);
  const std::size_t used = SplitMessages(buffer, [&](std::string_view message) {
    ReportNetwork(*conn, message);
    return !conn->Gone && autoMode_;
  });
  if (conn->Gone)
    return;
  if (!buffer.empty())
    conn->Buffer = buffer.substr(used) + conn->Buffer;
  if (conn->Buffer.size() > MaxRelayMessage) {
    conn->Buffer.clear();
    conn->Buffer.shrink_to_fit();
    client.SocketError(platform::WSAEMSGSIZE);
    if (conn->Gone)
      return;
    Report("CLOSEC", *conn);
    conn->Gone = true;
    client.Close();
  }
}

// ---- commands

void SocketFamily::Command() {
  TTCPServer &server = lib_.Server();
  TTCPClient &client = lib_.Client();
  switch (lib_.LookupNext(Commands)) {
  case CmdAUTO:
    autoMode_ = SwitchOn(lib_.NextArgument());
    terminator_ = autoMode_ ? "\r\n" : "";
    return;
  case CmdADDR: client.Host = lib_.NextArgument(); return;
  case CmdPORT:
    client.Port = lib_.NextArgument();
    server.Port = client.Port;
    return;
  case CmdSERVER:
    serverRole_ = true;
    return server.Open();
  case CmdCLIENT:
    serverRole_ = false;
    if (client.Status == ssClosed) {
      if (clientConnection_)
        clientConnection_->Gone = true;
      clientConnection_.reset();
    }
    return client.Open();
  case CmdCLOSE: return Close();
  case CmdSENDALL: return SendAll(lib_.NextArgument());
  case CmdSENDSERVER: return SendServer(lib_.NextArgument());
  case CmdSENDID: {
    const std::string id = lib_.NextArgument();
    return SendId(id, lib_.NextArgument());
  }
  case CmdSENDADDR: {
    const std::string address = lib_.NextArgument();
    return SendAddr(address, lib_.NextArgument());
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
  if (serverRole_) {
    ForgetConnections();
    lib_.Server().Close();
  } else {
    if (clientConnection_)
      clientConnection_->Gone = true;
    clientConnection_.reset();
    lib_.Client().Close();
  }
  socketData_.clear();
  senderAddr_.clear();
  senderPort_.clear();
  senderId_.clear();
}

void SocketFamily::SendAll(const std::string &text) {
  if (serverRole_) {
    TTCPServer &server = lib_.Server();
    const std::string message = text + terminator_;
    const std::vector<socket_t> targets(server.Clients.begin(), server.Clients.end());
    for (socket_t c : targets)
      if (server.Clients.Contains(c))
        server.WriteTo(c, message);
  } else if (autoMode_) {
    lib_.Client().Write("ALL|" + text + terminator_);
  }
}

void SocketFamily::SendServer(const std::string &text) {
  if (serverRole_)
    return;
  lib_.Client().Write(autoMode_ ? "SERVER|" + text + terminator_ : text);
}

void SocketFamily::SendId(const std::string &id, const std::string &text) {
  if (serverRole_)
    lib_.Server().WriteTo(StrToInt(id), text + terminator_);
  else if (autoMode_)
    lib_.Client().Write("ID|" + id + ";" + text + terminator_);
}

void SocketFamily::SendAddr(const std::string &address, const std::string &text) {
  if (serverRole_) {
    TTCPServer &server = lib_.Server();
    const std::string message = text + terminator_;
    const std::vector<socket_t> targets(server.Clients.begin(), server.Clients.end());
    for (socket_t c : targets)
      if (server.Clients.Contains(c) && ConnectionOf(c)->Address == address)
        server.WriteTo(c, message);
  } else if (autoMode_) {
    lib_.Client().Write("ADDR|" + address + ";" + text + terminator_);
  }
}

void SocketFamily::CloseId(const std::string &id) {
  if (!serverRole_)
    return;
  TTCPServer &server = lib_.Server();
  const socket_t s = StrToInt(id);
  if (!server.Clients.Contains(s))
    return server.SocketError(platform::WSAENOTSOCK);
  const auto conn = ConnectionOf(s);
  Report("CLOSEC", *conn);
  if (!conn->Gone)
    DropServerConnection(s);
}

void SocketFamily::CloseAddr(const std::string &address) {
  if (!serverRole_)
    return;
  TTCPServer &server = lib_.Server();
  // Each report may change the list; scan again from the start after each.
  for (bool found = true; found;) {
    found = false;
    for (socket_t c : server.Clients) {
      const auto conn = ConnectionOf(c);
      if (conn->Address != address)
        continue;
      Report("CLOSEC", *conn);
      if (!conn->Gone)
        DropServerConnection(c);
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
    result = serverRole_ ? lib_.Server().Port : lib_.Client().GetLocalPort(lib_.Client().Socket);
    return;
  case FnSENDERADDR: result = senderAddr_; return;
  case FnSENDERPORT: result = senderPort_; return;
  case FnSENDERID: result = senderId_; return;
  case FnDATA: result = TakeData(); return;
  case FnEVENT: result = TakeEvent(); return;
  default: lib_.SetError(ErrUnknownSubfunction);
  }
}
