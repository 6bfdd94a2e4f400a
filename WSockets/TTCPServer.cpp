#include "WSockets/TTCPServer.h"

#include <utility>

using platform::FD_ACCEPT;
using platform::FD_CLOSE;
using platform::FD_READ;
using platform::FD_WRITE;
using platform::InvalidSocket;
using platform::socket_t;

TTCPServer::TTCPServer(platform::NotificationLoop &loop) : TCustomWSocket(loop) {
  Protocol = 6;
  SocketType = 1;
}

TTCPServer::~TTCPServer() {
  loop_.CancelTimer(acceptPause_);
  OnData = nullptr;
  OnAccept = nullptr;
  OnClose = nullptr;
  OnError = nullptr;
  Close();
}

void TTCPServer::Open() {
  if (Status != ssClosed)
    return;
  // One socket for IPv6 and IPv4 clients alike (IPv4 ones appear as
  // IPv4-mapped addresses); an IPv4 socket where the system has no IPv6.
  TSockAddr addr;
  if (!GetAnySockAddr(Port, addr, TSockAddr::V6))
    return;
  socket_t s = platform::CreateTcpSocket(TSockAddr::V6);
  if (s != InvalidSocket && platform::SetV6Only(s, false) != 0) {
    platform::CloseSocket(s);
    s = InvalidSocket;
  }
  if (s == InvalidSocket) {
    addr = TSockAddr::Any(TSockAddr::V4, addr.Port);
    s = platform::CreateTcpSocket(TSockAddr::V4);
  }
  if (s == InvalidSocket) {
    SocketError(platform::LastSocketError());
    return;
  }
  // Reusing the address lets a server listen again at once on the port it
  // just closed; a port another socket listens on is still refused.
  const auto prepare = [&] {
    return platform::SetNonBlocking(s, true) == 0 && platform::SetReuseAddress(s, true) == 0 &&
           loop_.Select(s, FD_ACCEPT, Handler()) == 0;
  };
  bool ok = prepare() && platform::Bind(s, addr) == 0;
  int err = ok ? 0 : platform::LastSocketError();
  // A system with IPv6 sockets but IPv6 turned off has no "::" to bind.
  if (!ok && addr.Family == TSockAddr::V6 &&
      (err == platform::WSAEADDRNOTAVAIL || err == platform::WSAEAFNOSUPPORT)) {
    loop_.Cancel(s);
    platform::CloseSocket(s);
    addr = TSockAddr::Any(TSockAddr::V4, addr.Port);
    s = platform::CreateTcpSocket(TSockAddr::V4);
    if (s == InvalidSocket) {
      SocketError(platform::LastSocketError());
      return;
    }
    ok = prepare() && platform::Bind(s, addr) == 0;
    err = ok ? 0 : platform::LastSocketError();
  }
  if (ok && platform::Listen(s, Backlog) != 0) {
    ok = false;
    err = platform::LastSocketError();
  }
  if (!ok) {
    loop_.Cancel(s);
    platform::CloseSocket(s);
    SocketError(err);
    return;
  }
  Socket = s;
  Status = ssListening;
}

void TTCPServer::Close() {
  if (Status == ssNotStarted || Status == ssClosed)
    return;
  const TClientList connections = Clients;
  Clients.Clear();
  failed_.clear();
  loop_.CancelTimer(std::exchange(acceptPause_, 0));
  for (socket_t c : connections)
    SocketClose(c);
  SocketClose(Socket);
  if (Socket == InvalidSocket)
    Status = ssClosed;
}

void TTCPServer::WriteTo(socket_t s, std::string_view text) {
  if (!Clients.Contains(s))
    return SocketError(platform::WSAENOTSOCK);
  if (!failed_.contains(s))
    SocketWrite(s, text);
}

void TTCPServer::SendFailed(socket_t s, int error) {
  if (!Clients.Contains(s) || !failed_.insert(s).second)
    return;
  ForgetOutput(s);
  // Closed from the loop, not here: the writer may be inside a handler
  // that walks the connections.
  loop_.Post(s, FD_CLOSE, 0);
  SocketError(error);
}

std::string TTCPServer::ReadFrom(socket_t s) {
  if (!Clients.Contains(s)) {
    SocketError(platform::WSAENOTSOCK);
    return {};
  }
  return SocketRead(s);
}

bool TTCPServer::Disconnect(socket_t s) {
  if (!Clients.Contains(s)) {
    SocketError(platform::WSAENOTSOCK);
    return false;
  }
  Clients.Remove(s);
  failed_.erase(s);
  SocketClose(s);
  // A descriptor is free again: a connection waiting for one can come in.
  if (acceptPause_ != 0)
    ResumeAccepting();
  return true;
}

void TTCPServer::ReleaseAccepting() {
  acceptHeld_ = false;
  if (Status == ssListening && acceptPause_ == 0)
    loop_.Reenable(Socket, FD_ACCEPT);
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
    loop_.Reenable(Socket, FD_ACCEPT);
}

void TTCPServer::AcceptConnection() {
  const socket_t c = platform::Accept(Socket);
  if (c == InvalidSocket) {
    const int err = platform::LastSocketError();
    // The connection stays waiting while descriptors (or memory) lack:
    // accepting again at once would fail again, as fast as it can.
    if (err == platform::WSAEMFILE || err == platform::WSAENOBUFS) {
      PauseAccepting();
      if (!std::exchange(shortageReported_, true))
        SocketError(err);
      return;
    }
    loop_.Reenable(Socket, FD_ACCEPT);
    // Another notification may have taken it already.
    if (err != platform::WSAEWOULDBLOCK)
      SocketError(err);
    return;
  }
  shortageReported_ = false;
  loop_.Reenable(Socket, FD_ACCEPT);
  if (platform::SetNonBlocking(c, true) != 0 ||
      loop_.Select(c, FD_READ | FD_CLOSE | FD_WRITE, Handler()) != 0 ||
      platform::SetOobInline(c, true) != 0) {
    const int err = platform::LastSocketError();
    loop_.Cancel(c);
    platform::CloseSocket(c);
    SocketError(err);
    return;
  }
  if (!Clients.Add(c)) {
    socket_t dropped = c;
    SocketClose(dropped);
    return;
  }
  if (OnAccept)
    OnAccept(*this, c);
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
  case FD_CLOSE:
    if (error == platform::WSAENETDOWN)
      return SocketError(error);
    if (!Clients.Contains(s))
      return;
    if (OnClose)
      OnClose(*this, s);
    // The handler may already have dropped it, or closed the server.
    if (Clients.Contains(s))
      Disconnect(s);
    return;
  default:
    if (error != 0)
      SocketError(error);
  }
}
