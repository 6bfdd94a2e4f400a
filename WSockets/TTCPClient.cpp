#include "WSockets/TTCPClient.h"

using platform::FD_CLOSE;
using platform::FD_CONNECT;
using platform::FD_READ;
using platform::FD_WRITE;
using platform::InvalidSocket;
using platform::socket_t;

TTCPClient::TTCPClient(platform::NotificationLoop &loop) : TCustomWSocket(loop) {
  Protocol = 6;
  SocketType = 1;
}

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
  socket_t s = platform::CreateTcpSocket(addr.Family);
  if (s == InvalidSocket) {
    SocketError(platform::LastSocketError());
    return false;
  }
  const auto fail = [&] {
    const int err = platform::LastSocketError();
    loop_.Cancel(s);
    platform::CloseSocket(s);
    SocketError(err);
    return false;
  };
  if (platform::SetNonBlocking(s, true) != 0 ||
      loop_.Select(s, FD_READ | FD_CONNECT | FD_CLOSE | FD_WRITE, Handler()) != 0 ||
      platform::SetOobInline(s, true) != 0)
    return fail();
  if (platform::Connect(s, addr) != 0) {
    const int err = platform::LastSocketError();
    if (err != platform::WSAEWOULDBLOCK) {
      // Refused before it could start (common on loopback): the outcome
      // still arrives as the connect notification, as it would elsewhere.
      loop_.Post(s, FD_CONNECT, err);
    }
  }
  Socket = s;
  return true;
}

void TTCPClient::Close() {
  untried_.clear();
  if (Status == ssNotStarted || Status == ssClosed)
    return;
  SocketClose(Socket);
  if (Socket == InvalidSocket)
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
  case FD_CONNECT:
    if (error != 0 && !untried_.empty() && s == Socket) {
      // The next address has its turn; only the last one's failure is told.
      loop_.Cancel(s);
      platform::CloseSocket(Socket);
      Socket = InvalidSocket;
      const TSockAddr next = untried_.front();
      untried_.erase(untried_.begin());
      if (!StartConnect(next))
        Status = ssClosed;
      return;
    }
    untried_.clear();
    if (error != 0)
      return SocketError(error);
    if (loop_.Select(s, FD_READ | FD_CLOSE | FD_WRITE, Handler()) != 0)
      return SocketError(platform::LastSocketError());
    if (OnConnect)
      OnConnect(*this, s);
    // The handler may have closed the client.
    if (Status == ssOpen && Socket == s)
      Status = ssConnected;
    return;
  case FD_CLOSE:
    if (error == platform::WSAENETDOWN)
      return SocketError(error);
    if (OnClose)
      OnClose(*this, s);
    if (Socket == s)
      Close();
    return;
  default:
    if (error != 0)
      SocketError(error);
  }
}
