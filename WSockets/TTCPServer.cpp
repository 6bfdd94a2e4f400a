#include "WSockets/TTCPServer.h"

#include <utility>

using platform::FD_ACCEPT;
using platform::FD_CLOSE;
using platform::FD_READ;
using platform::FD_WRITE;
using platform::socket_t;

TTCPServer::~TTCPServer() {
  loop_.CancelTimer(acceptPause_);
  OnData = nullptr;
  OnAccept = nullptr;
  OnClose = nullptr;
  OnError = nullptr;
  Close();
  if (listener_.IsOpen())
    loop_.Cancel(listener_.Get());
}

void TTCPServer::Open() {
  if (Status != ssClosed)
    return;
  // One socket for IPv6 and IPv4 clients alike (IPv4 ones appear as
  // IPv4-mapped addresses); an IPv4 socket where the system has no IPv6.
  TSockAddr addr;
  if (!GetAnySockAddr(Port, addr, TSockAddr::V6))
    return;
  platform::SocketHolder s(platform::CreateTcpSocket(TSockAddr::V6));
  if (s.IsOpen() && platform::SetV6Only(s.Get(), false) != 0)
    s.Reset();
  if (!s.IsOpen()) {
    addr = TSockAddr::Any(TSockAddr::V4, addr.Port);
    s.Reset(platform::CreateTcpSocket(TSockAddr::V4));
  }
  if (!s.IsOpen()) {
    SocketError(platform::LastSocketError());
    return;
  }
  // Reusing the address lets a server listen again at once on the port it
  // just closed; a port another socket listens on is still refused.
  const auto prepare = [&] {
    return platform::SetNonBlocking(s.Get(), true) == 0 &&
           platform::SetReuseAddress(s.Get(), true) == 0 &&
           loop_.Select(s.Get(), FD_ACCEPT, Handler()) == 0;
  };
  bool ok = prepare() && platform::Bind(s.Get(), addr) == 0;
  int err = ok ? 0 : platform::LastSocketError();
  // A system with IPv6 sockets but IPv6 turned off has no "::" to bind.
  if (!ok && addr.Family == TSockAddr::V6 &&
      (err == platform::WSAEADDRNOTAVAIL || err == platform::WSAEAFNOSUPPORT)) {
    loop_.Cancel(s.Get());
    addr = TSockAddr::Any(TSockAddr::V4, addr.Port);
    s.Reset(platform::CreateTcpSocket(TSockAddr::V4));
    if (!s.IsOpen()) {
      SocketError(platform::LastSocketError());
      return;
    }
    ok = prepare() && platform::Bind(s.Get(), addr) == 0;
    err = ok ? 0 : platform::LastSocketError();
  }
  if (ok && platform::Listen(s.Get(), Backlog) != 0) {
    ok = false;
    err = platform::LastSocketError();
  }
  if (!ok) {
    loop_.Cancel(s.Get());
    s.Reset();
    SocketError(err);
    return;
  }
  listener_ = std::move(s);
  Status = ssListening;
}

std::uint16_t TTCPServer::ListeningPort() const {
  TSockAddr address;
  if (Status != ssListening || !platform::LocalName(listener_.Get(), address))
    return 0;
  return address.Port;
}

void TTCPServer::Close() {
  if (Status == ssNotStarted || Status == ssClosed)
    return;
  loop_.CancelTimer(std::exchange(acceptPause_, 0));
  for (const auto &c : connections_.RemoveAll())
    SocketClose(*c);
  SocketClose(listener_);
  if (!listener_.IsOpen())
    Status = ssClosed;
}

void TTCPServer::WriteTo(socket_t s, std::string_view text) {
  TSocketConnection *c = Clients.Find(s);
  if (!c)
    return SocketError(platform::WSAENOTSOCK);
  if (!c->Failed())
    SocketWrite(*c, text);
}

void TTCPServer::SendFailed(TSocketConnection &c, int error) {
  if (c.Failed())
    return;
  MarkFailed(c);
  ForgetOutput(c);
  // Closed from the loop, not here: the writer may be inside a handler
  // that walks the connections.
  loop_.Post(c.Handle(), FD_CLOSE, 0);
  SocketError(error);
}

std::string TTCPServer::ReadFrom(socket_t s) {
  TSocketConnection *c = Clients.Find(s);
  if (!c) {
    SocketError(platform::WSAENOTSOCK);
    return {};
  }
  return SocketRead(*c);
}

bool TTCPServer::Disconnect(socket_t s) {
  const std::unique_ptr<TSocketConnection> c = connections_.Remove(s);
  if (!c) {
    SocketError(platform::WSAENOTSOCK);
    return false;
  }
  SocketClose(*c);
  // A descriptor is free again: a connection waiting for one can come in.
  if (acceptPause_ != 0)
    ResumeAccepting();
  return true;
}

void TTCPServer::ReleaseAccepting() {
  acceptHeld_ = false;
  if (Status == ssListening && acceptPause_ == 0)
    loop_.Reenable(listener_.Get(), FD_ACCEPT);
}

void TTCPServer::PauseAccepting() {
  acceptPause_ = loop_.RunAfter(AcceptPauseMs, [this] {
    acceptPause_ = 0;
    ResumeAccepting();
  });
}

void TTCPServer::ResumeAccepting() {
  loop_.CancelTimer(std::exchange(acceptPause_, 0));
  if (Status == ssListening && !acceptHeld_)
    loop_.Reenable(listener_.Get(), FD_ACCEPT);
}

void TTCPServer::AcceptConnection() {
  platform::SocketHolder accepted(platform::Accept(listener_.Get()));
  if (!accepted.IsOpen()) {
    const int err = platform::LastSocketError();
    // The connection stays waiting while descriptors (or memory) lack:
    // accepting again at once would fail again, as fast as it can.
    if (err == platform::WSAEMFILE || err == platform::WSAENOBUFS) {
      PauseAccepting();
      if (!std::exchange(shortageReported_, true))
        SocketError(err);
      return;
    }
    loop_.Reenable(listener_.Get(), FD_ACCEPT);
    // Another notification may have taken it already.
    if (err != platform::WSAEWOULDBLOCK)
      SocketError(err);
    return;
  }
  shortageReported_ = false;
  loop_.Reenable(listener_.Get(), FD_ACCEPT);
  TSocketConnection *c = AddConnection(accepted, FD_READ | FD_CLOSE | FD_WRITE);
  if (!c)
    return;
  Describe(*c);
  if (OnAccept)
    OnAccept(*this, c->Handle());
}

void TTCPServer::WndProc(socket_t s, int event, int error) {
  switch (event) {
  case FD_READ:
    if (error != 0)
      return SocketError(error);
    if (OnData && Clients.Contains(s))
      OnData(*this, s);
    return;
  case FD_ACCEPT:
    if (error != 0)
      return SocketError(error);
    // Left unanswered, the notification comes again at Release or when
    // the pause ends.
    if (acceptHeld_ || acceptPause_ != 0)
      return;
    return AcceptConnection();
  case FD_CLOSE: {
    if (error == platform::WSAENETDOWN)
      return SocketError(error);
    const TSocketConnection *c = Clients.Find(s);
    if (!c)
      return;
    const std::uint64_t serial = c->Serial();
    if (OnClose)
      OnClose(*this, s);
    // The handler may already have dropped it, or closed the server.
    if (Clients.Find(s, serial))
      Disconnect(s);
    return;
  }
  default:
    if (error != 0)
      SocketError(error);
  }
}
