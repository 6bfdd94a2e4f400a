#include "WSockets/TTCPClient.h"

using platform::FD_CLOSE;
using platform::FD_CONNECT;
using platform::FD_READ;
using platform::FD_WRITE;
using platform::socket_t;

TTCPClient::~TTCPClient() {
  OnData = nullptr;
  OnConnect = nullptr;
  OnClose = nullptr;
  OnError = nullptr;
  Close();
}

void TTCPClient::Open() {
  if (Status != ssClosed)
    return;
  std::vector<TSockAddr> addrs;
  if (!GetSockAddrs(Host, Port, addrs))
    return;
  untried_.assign(addrs.begin() + 1, addrs.end());
  if (StartConnect(addrs.front()))
    Status = ssOpen;
}

bool TTCPClient::StartConnect(const TSockAddr &addr) {
  platform::SocketHolder socket(platform::CreateTcpSocket(addr.Family));
  if (!socket.IsOpen()) {
    SocketError(platform::LastSocketError());
    return false;
  }
  const TSocketConnection *c = AddConnection(socket, FD_READ | FD_CONNECT | FD_CLOSE | FD_WRITE);
  if (!c)
    return false;
  if (platform::Connect(c->Handle(), addr) != 0) {
    const int err = platform::LastSocketError();
    if (err != platform::WSAEWOULDBLOCK) {
      // Refused before it could start (common on loopback): the outcome
      // still arrives as the connect notification, as it would elsewhere.
      loop_.Post(c->Handle(), FD_CONNECT, err);
    }
  }
  return true;
}

TSocketConnection *TTCPClient::Connection() const {
  return connections_.Count() == 0 ? nullptr : *connections_.begin();
}

void TTCPClient::Write(std::string_view text) {
  if (TSocketConnection *c = Connection())
    return SocketWrite(*c, text);
  if (!text.empty())
    SocketError(platform::WSAENOTSOCK);
}

std::string TTCPClient::Read() {
  if (TSocketConnection *c = Connection())
    return SocketRead(*c);
  SocketError(platform::WSAENOTSOCK);
  return {};
}

void TTCPClient::Abandon() {
  if (TSocketConnection *c = Connection()) {
    loop_.Cancel(c->Handle());
    connections_.Remove(c->Handle());
  }
}

void TTCPClient::Close() {
  untried_.clear();
  if (Status == ssNotStarted || Status == ssClosed)
    return;
  if (TSocketConnection *c = Connection())
    SocketClose(*connections_.Remove(c->Handle()));
  Status = ssClosed;
}

void TTCPClient::WndProc(socket_t s, int event, int error) {
  switch (event) {
  case FD_READ:
    if (error != 0)
      return SocketError(error);
    if (OnData)
      OnData(*this, s);
    return;
  case FD_CONNECT: {
    TSocketConnection *c = Connection();
    if (error != 0 && !untried_.empty() && c && c->Handle() == s) {
      // The next address has its turn; only the last one's failure is told.
      Abandon();
      const TSockAddr next = untried_.front();
      untried_.erase(untried_.begin());
      if (!StartConnect(next))
        Status = ssClosed;
      return;
    }
    untried_.clear();
    if (error != 0)
      return SocketError(error);
    if (!c || c->Handle() != s)
      return;
    if (loop_.Select(s, FD_READ | FD_CLOSE | FD_WRITE, Handler()) != 0)
      return SocketError(platform::LastSocketError());
    Describe(*c);
    const std::uint64_t serial = c->Serial();
    if (OnConnect)
      OnConnect(*this, s);
    // The handler may have closed the client.
    if (Status == ssOpen && connections_.Find(s, serial))
      Status = ssConnected;
    return;
  }
  case FD_CLOSE: {
    if (error == platform::WSAENETDOWN)
      return SocketError(error);
    TSocketConnection *c = Connection();
    const bool current = c && c->Handle() == s;
    const std::uint64_t serial = current ? c->Serial() : 0;
    // Never connected, it is named as it can be now.
    if (current && c->Peer.Port.empty())
      Describe(*c);
    if (OnClose)
      OnClose(*this, s);
    // The handler may have closed the client already.
    if (current && connections_.Find(s, serial))
      Close();
    return;
  }
  default:
    if (error != 0)
      SocketError(error);
  }
}
