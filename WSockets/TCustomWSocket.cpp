#include "WSockets/TCustomWSocket.h"

#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"

#include <utility>

using platform::socket_t;

namespace {

struct ErrorEntry {
  int Number;
  const char *Text;
};

constexpr ErrorEntry ErrorTexts[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on nonsocket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Protocol not available"},
    {10043, "Protocol not supported"},
    {10044, "Socket not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references:can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name is too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory is not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disk quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unusable"},
    {10092, "Winsock DLL cannot support this application"},
    {10093, "Winsock not initialized"},
    {11001, "Host not found"},
    {11002, "Non authoritative - host not found"},
    {11003, "Non recoverable error"},
    {11004, "Valid name, no data record of requested type"},
};

// A service name, else a decimal port; anything else is a conversion failure
// before any socket exists.
std::uint16_t PortOf(const std::string &text) {
  const int service = platform::LookupService(text);
  if (service >= 0)
    return static_cast<std::uint16_t>(service);
  const std::int32_t value = StrToInt(text);
  if (value < 0 || value > 65535)
    throw EConvertError("'" + text + "' is not a valid port");
  return static_cast<std::uint16_t>(value);
}

// One end of a connection (name: platform::LocalName or PeerName) as text,
// its address or its port; empty when the query fails.
std::string EndText(bool (*name)(socket_t, TSockAddr &), socket_t s, bool port) {
  TSockAddr a;
  if (!name(s, a))
    return {};
  return port ? std::to_string(a.Port) : platform::FormatAddress(a);
}

} // namespace

// No start-up to do here: the object starts ready, as after a successful
// WSAStartup.
TCustomWSocket::TCustomWSocket(platform::NotificationLoop &loop, std::int32_t protocol,
                               std::int32_t socketType)
    : Protocol(protocol), SocketType(socketType), loop_(loop) {}

// The subclasses close gracefully before; what is left goes without that.
TCustomWSocket::~TCustomWSocket() {
  for (TSocketConnection *c : connections_)
    loop_.Cancel(c->Handle());
}

platform::NotificationHandler TCustomWSocket::Handler() {
  return [this](socket_t s, int event, int error) {
    // Stale notifications of a socket just closed are dropped.
    if (Status == ssClosed || Status == ssNotStarted)
      return;
    if (event == platform::FD_WRITE) {
      if (TSocketConnection *c = connections_.Find(s))
        FlushOutput(*c);
      return;
    }
    if (event == platform::FD_READ && error == 0 && readingHeld_) {
      // Unread, the data waits in the system and TCP holds the peer back.
      if (TSocketConnection *c = connections_.Find(s))
        c->readWaiting_ = true;
      return;
    }
    WndProc(s, event, error);
  };
}

bool TCustomWSocket::GetSockAddrs(const std::string &host, const std::string &port,
                                  std::vector<TSockAddr> &addrs) {
  const std::uint16_t number = PortOf(port);
  addrs.clear();
  std::string name = host;
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
    name = name.substr(1, name.size() - 2);
  TSockAddr numeric;
  if (platform::ParseAddress(name, numeric)) {
    addrs.push_back(numeric);
  } else {
    platform::HostEntry entry;
    int error = 0;
    if (name.empty() || !platform::LookupHost(name, entry, error)) {
      SocketError(error ? error : platform::WSAHOST_NOT_FOUND);
      return false;
    }
    addrs = entry.All;
  }
  for (TSockAddr &a : addrs)
    a.Port = number;
  return true;
}

bool TCustomWSocket::GetSockAddr(const std::string &host, const std::string &port,
                                 TSockAddr &addr) {
  std::vector<TSockAddr> addrs;
  if (!GetSockAddrs(host, port, addrs))
    return false;
  addr = addrs.front();
  return true;
}

bool TCustomWSocket::GetAnySockAddr(const std::string &port, TSockAddr &addr,
                                    TSockAddr::TFamily family) {
  addr = TSockAddr::Any(family, PortOf(port));
  return true;
}

std::string TCustomWSocket::GetLocalAddress(socket_t s) {
  return EndText(platform::LocalName, s, false);
}

std::string TCustomWSocket::GetLocalPort(socket_t s) {
  return EndText(platform::LocalName, s, true);
}

std::string TCustomWSocket::GetRemoteAddress(socket_t s) {
  return EndText(platform::PeerName, s, false);
}

std::string TCustomWSocket::GetRemotePort(socket_t s) {
  return EndText(platform::PeerName, s, true);
}

std::string TCustomWSocket::GetLocalHostAddress() {
  // A system without a host name has no address to give.
  const std::string name = platform::HostName();
  if (name.empty())
    return {};
  platform::HostEntry entry;
  int error = 0;
  if (!platform::LookupHost(name, entry, error))
    return {};
  return entry.Addresses.empty() ? platform::FormatAddress(entry.All.front())
                                 : platform::FormatAddress(platform::SocketAddress::FromV4(entry.Addresses.front()));
}

TSocketConnection *TCustomWSocket::AddConnection(platform::SocketHolder &socket, int mask) {
  const socket_t s = socket.Get();
  if (platform::SetNonBlocking(s, true) != 0 || loop_.Select(s, mask, Handler()) != 0 ||
      platform::SetOobInline(s, true) != 0) {
    const int err = platform::LastSocketError();
    loop_.Cancel(s);
    socket.Reset();
    SocketError(err);
    return nullptr;
  }
  TSocketConnection *c = connections_.Add(socket, ++serials_);
  if (!c) {
    // No memory for it: the peer sees the connection end at once.
    SocketClose(socket);
    socket.Reset();
  }
  return c;
}

void TCustomWSocket::Describe(TSocketConnection &c) {
  c.Peer.Address = GetRemoteAddress(c.Handle());
  c.Peer.Port = GetRemotePort(c.Handle());
}

bool TCustomWSocket::CloseGracefully(socket_t s) {
  if (platform::Shutdown(s, platform::TShutdown::Send) != 0) {
    const int err = platform::LastSocketError();
    if (err != platform::WSAENOTCONN && err != platform::WSAECONNRESET) {
      SocketError(err);
      return false;
    }
  }
  while (platform::Receive(s, ReadBuffer, sizeof ReadBuffer) > 0) {
  }
  if (platform::CloseSocket(s) != 0) {
    SocketError(platform::LastSocketError());
    return false;
  }
  return true;
}

void TCustomWSocket::SocketClose(platform::SocketHolder &socket) {
  if (!socket.IsOpen())
    return;
  loop_.Cancel(socket.Get());
  if (CloseGracefully(socket.Get()))
    socket.Release();
}

void TCustomWSocket::SocketClose(TSocketConnection &c) {
  if (!c.socket_.IsOpen())
    return;
  loop_.Cancel(c.Handle());
  // What the peer has not taken yet is handed to the system once; the
  // script asked for the close, so the rest goes with the connection.
  if (c.Queued() > 0)
    (void)platform::Send(c.Handle(), c.output_.data() + c.sent_, c.Queued());
  ForgetOutput(c);
  if (CloseGracefully(c.Handle()))
    c.socket_.Release();
}

void TCustomWSocket::SocketWrite(TSocketConnection &c, std::string_view text) {
  if (text.empty())
    return;
  const socket_t s = c.Handle();
  if (c.Queued() == 0 && held_ == 0) {
    std::size_t sent = 0;
    while (sent < text.size()) {
      const long n = platform::Send(s, text.data() + sent, text.size() - sent);
      if (n < 0) {
        const int err = platform::LastSocketError();
        if (err != platform::WSAEWOULDBLOCK)
          return SendFailed(c, err);
        break;
      }
      sent += static_cast<std::size_t>(n);
    }
    if (sent == text.size())
      return;
    text.remove_prefix(sent);
  }
  if (c.Queued() + text.size() > MaxQueuedOutput)
    return SendFailed(c, platform::WSAENOBUFS);
  if (c.sent_ > 0 && c.sent_ >= c.output_.size() / 2) {
    c.output_.erase(0, c.sent_);
    c.sent_ = 0;
  }
  c.output_.append(text);
  // The total counts what the queues take in memory, room reserved ahead
  // included.
  queuedTotal_ += c.output_.capacity() - c.counted_;
  c.counted_ = c.output_.capacity();
  // Queues given up to get under the total are reported last: the reports
  // run the owner's handlers, which may close anything.
  std::vector<std::pair<socket_t, std::uint64_t>> givenUp;
  while (queuedTotal_ > MaxQueuedTotal) {
    TSocketConnection *longest = LongestQueue();
    if (!longest)
      break;
    givenUp.emplace_back(longest->Handle(), longest->Serial());
    ForgetOutput(*longest);
  }
  // c's own queue may have been given up.
  if (c.Queued() > 0 && held_ > 0) {
    c.outputHeld_ = true;
  } else if (c.Queued() > 0 && !c.waitingForWrite_) {
    c.waitingForWrite_ = true;
    loop_.Reenable(s, platform::FD_WRITE);
  }
  for (const auto &[handle, serial] : givenUp)
    if (TSocketConnection *g = connections_.Find(handle, serial))
      SendFailed(*g, platform::WSAENOBUFS);
}

TSocketConnection *TCustomWSocket::LongestQueue() const {
  TSocketConnection *longest = nullptr;
  std::size_t length = 0;
  for (TSocketConnection *c : connections_) {
    if (c->counted_ > length) {
      longest = c;
      length = c->counted_;
    }
  }
  return longest;
}

void TCustomWSocket::SendFailed(TSocketConnection &, int error) { SocketError(error); }

void TCustomWSocket::ReleaseOutput() {
  if (held_ == 0 || --held_ > 0)
    return;
  // Failures are reported once every queue is on its way: the reports run
  // the owner's handlers, which may close any connection.
  struct Failure {
    socket_t Handle;
    std::uint64_t Serial;
    int Error;
  };
  std::vector<Failure> failures;
  for (TSocketConnection *c : connections_)
    if (std::exchange(c->outputHeld_, false))
      if (const int error = Flush(*c))
        failures.push_back({c->Handle(), c->Serial(), error});
  for (const Failure &f : failures)
    if (TSocketConnection *c = connections_.Find(f.Handle, f.Serial))
      SendFailed(*c, f.Error);
}

void TCustomWSocket::ReleaseReading() {
  readingHeld_ = false;
  for (TSocketConnection *c : connections_)
    if (std::exchange(c->readWaiting_, false))
      loop_.Reenable(c->Handle(), platform::FD_READ);
}

void TCustomWSocket::FlushOutput(TSocketConnection &c) {
  if (const int error = Flush(c))
    SendFailed(c, error);
}

int TCustomWSocket::Flush(TSocketConnection &c) {
  c.waitingForWrite_ = false;
  while (c.Queued() > 0) {
    const long n = platform::Send(c.Handle(), c.output_.data() + c.sent_, c.Queued());
    if (n < 0) {
      const int err = platform::LastSocketError();
      if (err == platform::WSAEWOULDBLOCK) {
        c.waitingForWrite_ = true;
        loop_.Reenable(c.Handle(), platform::FD_WRITE);
        return 0;
      }
      ForgetOutput(c);
      return err;
    }
    c.sent_ += static_cast<std::size_t>(n);
  }
  ForgetOutput(c);
  return 0;
}

void TCustomWSocket::ForgetOutput(TSocketConnection &c) {
  queuedTotal_ -= std::exchange(c.counted_, 0);
  std::string().swap(c.output_);
  c.sent_ = 0;
  c.waitingForWrite_ = false;
}

std::string TCustomWSocket::SocketRead(TSocketConnection &c) {
  const long n = platform::Receive(c.Handle(), ReadBuffer, sizeof ReadBuffer);
  // Like recv under WinSock: reading re-enables the read notification.
  loop_.Reenable(c.Handle(), platform::FD_READ);
  if (n < 0) {
    const int err = platform::LastSocketError();
    if (err != platform::WSAEWOULDBLOCK)
      SocketError(err);
    return {};
  }
  return std::string(ReadBuffer, static_cast<std::size_t>(n));
}

void TCustomWSocket::SocketError(int error) {
  LastError = error;
  if (OnError)
    OnError(*this, error, ErrorText(error));
}

std::string TCustomWSocket::ErrorText(int error) {
  for (const ErrorEntry &e : ErrorTexts)
    if (e.Number == error)
      return e.Text;
  return "Not a Winsock error";
}
