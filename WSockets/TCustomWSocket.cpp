#include "WSockets/TCustomWSocket.h"

#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"

#include <algorithm>

using platform::InvalidSocket;
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

} // namespace

TCustomWSocket::TCustomWSocket(platform::NotificationLoop &loop) : loop_(loop) {
  // No start-up to do here: the object starts ready, as after a successful
  // WSAStartup.
  Status = ssClosed;
  LastError = 0;
}

TCustomWSocket::~TCustomWSocket() {
  if (Socket != InvalidSocket) {
    loop_.Cancel(Socket);
    platform::CloseSocket(Socket);
    Socket = InvalidSocket;
  }
}

platform::NotificationHandler TCustomWSocket::Handler() {
  return [this](socket_t s, int event, int error) {
    // Stale notifications of a socket just closed are dropped.
    if (Status == ssClosed || Status == ssNotStarted)
      return;
    if (event == platform::FD_WRITE) {
      FlushOutput(s);
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
  TSockAddr a;
  return platform::LocalName(s, a) ? platform::FormatAddress(a) : std::string();
}

std::string TCustomWSocket::GetLocalPort(socket_t s) {
  TSockAddr a;
  return platform::LocalName(s, a) ? std::to_string(a.Port) : std::string();
}

std::string TCustomWSocket::GetRemoteAddress(socket_t s) {
  TSockAddr a;
  return platform::PeerName(s, a) ? platform::FormatAddress(a) : std::string();
}

std::string TCustomWSocket::GetRemotePort(socket_t s) {
  TSockAddr a;
  return platform::PeerName(s, a) ? std::to_string(a.Port) : std::string();
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
                                 : platform::FormatDotted(entry.Addresses.front());
}

void TCustomWSocket::SocketClose(socket_t &s) {
  if (s == InvalidSocket)
    return;
  loop_.Cancel(s);
  // What the peer has not taken yet is handed to the system once; the
  // script asked for the close, so the rest goes with the connection.
  if (const auto it = output_.find(s); it != output_.end()) {
    const Output &out = it->second;
    if (out.Data.size() > out.Sent)
      (void)platform::Send(s, out.Data.data() + out.Sent, out.Data.size() - out.Sent);
    EraseOutput(it);
  }
  if (platform::Shutdown(s, 1) != 0) {
    const int err = platform::LastSocketError();
    if (err != platform::WSAENOTCONN && err != platform::WSAECONNRESET) {
      SocketError(err);
      return;
    }
  }
  while (platform::Receive(s, ReadBuffer, sizeof ReadBuffer) > 0) {
  }
  if (platform::CloseSocket(s) != 0) {
    SocketError(platform::LastSocketError());
    return;
  }
  s = InvalidSocket;
}

void TCustomWSocket::SocketWrite(socket_t s, std::string_view text) {
  if (text.empty())
    return;
  if (s == InvalidSocket) {
    SocketError(platform::WSAENOTSOCK);
    return;
  }
  auto it = output_.find(s);
  const bool queued = it != output_.end() && it->second.Data.size() > it->second.Sent;
  if (!queued && held_ == 0) {
    std::size_t sent = 0;
    while (sent < text.size()) {
      const long n = platform::Send(s, text.data() + sent, text.size() - sent);
      if (n < 0) {
        const int err = platform::LastSocketError();
        if (err != platform::WSAEWOULDBLOCK)
          return SendFailed(s, err);
        break;
      }
      sent += static_cast<std::size_t>(n);
    }
    if (sent == text.size())
      return;
    text.remove_prefix(sent);
  }
  if (QueuedOutput(s) + text.size() > MaxQueuedOutput)
    return SendFailed(s, platform::WSAENOBUFS);
  // The total counts what the queues take in memory, room reserved ahead
  // included (a new entry has taken nothing yet).
  const auto [entry, added] = output_.try_emplace(s);
  Output &out = entry->second;
  queuedTotal_ -= added ? 0 : out.Data.capacity();
  if (out.Sent > 0 && out.Sent >= out.Data.size() / 2) {
    out.Data.erase(0, out.Sent);
    out.Sent = 0;
  }
  out.Data.append(text);
  queuedTotal_ += out.Data.capacity();
  // Queues given up to get under the total are reported last: the reports
  // run the owner's handlers, which may close anything.
  std::vector<socket_t> givenUp;
  while (queuedTotal_ > MaxQueuedTotal && !output_.empty()) {
    givenUp.push_back(LongestQueue());
    ForgetOutput(givenUp.back());
  }
  // A queue given up is gone with its entry: out no longer exists.
  const bool kept = std::find(givenUp.begin(), givenUp.end(), s) == givenUp.end();
  if (kept && held_ > 0) {
    if (std::find(heldSockets_.begin(), heldSockets_.end(), s) == heldSockets_.end())
      heldSockets_.push_back(s);
  } else if (kept && !out.WaitingForWrite) {
    out.WaitingForWrite = true;
    loop_.Reenable(s, platform::FD_WRITE);
  }
  for (socket_t g : givenUp)
    SendFailed(g, platform::WSAENOBUFS);
}

socket_t TCustomWSocket::LongestQueue() const {
  socket_t longest = InvalidSocket;
  std::size_t length = 0;
  for (const auto &[c, out] : output_) {
    if (out.Data.capacity() >= length) {
      longest = c;
      length = out.Data.capacity();
    }
  }
  return longest;
}

void TCustomWSocket::SendFailed(socket_t, int error) { SocketError(error); }

void TCustomWSocket::ReleaseOutput() {
  if (held_ == 0 || --held_ > 0)
    return;
  std::vector<socket_t> sockets;
  sockets.swap(heldSockets_);
  for (socket_t s : sockets)
    FlushOutput(s);
}

void TCustomWSocket::FlushOutput(socket_t s) {
  const auto it = output_.find(s);
  if (it == output_.end())
    return;
  Output &out = it->second;
  out.WaitingForWrite = false;
  while (out.Sent < out.Data.size()) {
    const long n = platform::Send(s, out.Data.data() + out.Sent, out.Data.size() - out.Sent);
    if (n < 0) {
      const int err = platform::LastSocketError();
      if (err == platform::WSAEWOULDBLOCK) {
        out.WaitingForWrite = true;
        loop_.Reenable(s, platform::FD_WRITE);
        return;
      }
      EraseOutput(it);
      SendFailed(s, err);
      return;
    }
    out.Sent += static_cast<std::size_t>(n);
  }
  EraseOutput(it);
}

void TCustomWSocket::EraseOutput(OutputMap::iterator it) {
  queuedTotal_ -= it->second.Data.capacity();
  output_.erase(it);
}

void TCustomWSocket::ForgetOutput(socket_t s) {
  if (const auto it = output_.find(s); it != output_.end())
    EraseOutput(it);
}

std::size_t TCustomWSocket::QueuedOutput(socket_t s) const {
  const auto it = output_.find(s);
  return it == output_.end() ? 0 : it->second.Data.size() - it->second.Sent;
}

std::string TCustomWSocket::SocketRead(socket_t s) {
  const long n = platform::Receive(s, ReadBuffer, sizeof ReadBuffer);
  // Like recv under WinSock: reading re-enables the read notification.
  loop_.Reenable(s, platform::FD_READ);
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
