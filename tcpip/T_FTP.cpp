#include "tcpip/T_FTP.h"

#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"
#include "platform/FileStreams.h"
#include "platform/NotificationLoop.h"
#include "platform/Socket.h"
#include "tcpip/Lent.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

namespace {

// A server that does not answer QUIT must not keep the client, or whatever
// is destroying it, waiting.
constexpr int QuitWaitMs = 5000;

// The six numbers of a PASV reply, "h1,h2,h3,h4,p1,p2", inside parentheses
// or, as some servers write it, after the first digit of the text.
bool PassivePort(const std::string &text, std::uint16_t &port) {
  std::size_t at = text.find('(');
  if (at == std::string::npos) {
    at = text.find_first_of("0123456789");
    if (at == std::string::npos)
      return false;
  } else {
    ++at;
  }
  int numbers[6];
  for (int i = 0; i < 6; ++i) {
    if (at >= text.size() || text[at] < '0' || text[at] > '9')
      return false;
    int n = 0;
    std::size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
      n = n * 10 + (text[at++] - '0');
      ++digits;
    }
    if (n > 255)
      return false;
    numbers[i] = n;
    if (i < 5) {
      if (at >= text.size() || text[at] != ',')
        return false;
      ++at;
    }
  }
  const int value = numbers[4] * 256 + numbers[5];
  if (value == 0)
    return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

// The port of an EPSV reply, "(|||port|)", the three delimiters being any
// one printable character.
bool ExtendedPassivePort(const std::string &text, std::uint16_t &port) {
  const std::size_t open = text.find('(');
  if (open == std::string::npos || open + 4 >= text.size())
    return false;
  const char d = text[open + 1];
  if (d < 33 || d > 126 || (d >= '0' && d <= '9') || text[open + 2] != d || text[open + 3] != d)
    return false;
  std::size_t at = open + 4;
  std::uint32_t value = 0;
  std::size_t digits = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 6) {
    value = value * 10 + static_cast<std::uint32_t>(text[at++] - '0');
    ++digits;
  }
  if (digits == 0 || value == 0 || value > 65535 || at + 1 >= text.size() || text[at] != d ||
      text[at + 1] != ')')
    return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

// A socket is let go of by the loop however the wait for it ends.
struct Registration {
  platform::NotificationLoop &loop;
  socket_t s;
  ~Registration() { loop.Cancel(s); }
};

} // namespace

T_FTP::T_FTP() { Wire(); }

T_FTP::T_FTP(const T_FTP &other) : T_TcpIp(other), TFtpSettings(other), reach_(other.DirChanges) {
  Wire();
}

void T_FTP::Wire() {
  for (TConnection *conn : {&data_, &listener_}) {
    conn->SetTrace(&OnTrace);
    conn->SetCounts(&Counts);
    conn->SetCancel(&Cancel);
  }
}

T_FTP::~T_FTP() {
  // No traces while the object goes away; the logon still ends with QUIT.
  OnTrace = nullptr;
  if (Connected || Connection.IsOpen())
    Logout();
}

std::int32_t T_FTP::Reply() {
  TReply reply;
  try {
    reply = Connection.ReadNumberedReply("FTP");
  } catch (const ETcpIpError &) {
    // The control connection ended or carried something that cannot be a
    // reply: it cannot be used again, and the next operation logs on anew.
    DropDeadControl();
    throw;
  }
  ReplyCode = reply.Code;
  ReplyText = reply.Text;
  return ReplyCode;
}

std::int32_t T_FTP::Command(const std::string &command) {
  SendCommand(command);
  return Reply();
}

void T_FTP::RaiseRefusal() const {
  if (Refused(ReplyCode))
    throw EProtocolError("FTP", ReplyText, static_cast<std::uint16_t>(ReplyCode));
}

void T_FTP::ReadReply() {
  Reply();
  RaiseRefusal();
}

void T_FTP::Perform(const std::string &command) {
  Command(command);
  RaiseRefusal();
}

void T_FTP::DropDeadControl() noexcept {
  CloseDataConnection();
  Connection.Close();
  Connected = false;
  state_ = TTransferState::Idle;
}

void T_FTP::Login() {
  RemotePort = Port;
  T_TcpIp::Login();
  epsvRefused_ = false;
  DirChanges.clear();
  try {
    if (Security == TSecurity::Implicit)
      StartTls(Connection, Hostname);
    ReadReply();
    if (Security == TSecurity::StartTls) {
      if (Refused(Command("AUTH TLS")))
        throw ETcpIpError("The FTP server does not offer TLS: " + std::to_string(ReplyCode) + " " +
                          ReplyText);
      StartTls(Connection, Hostname);
    }
    Perform("USER " + Username);
    // 230 logs on without a password; 331 and 332 ask for one.
    if (ReplyCode >= 300 && ReplyCode < 400) {
      Connection.SendSecret("PASS ", Password, "******");
      ReadReply();
    }
    if (Connection.Secure()) {
      // The data connections are protected too.
      Perform("PBSZ 0");
      Perform("PROT P");
    }
    Perform("TYPE I");
    for (const std::string &path : reach_) {
      Perform("CWD " + path);
      DirChanges.push_back(path);
    }
    reach_.clear();
  } catch (...) {
    // A refused logon ends the connection, so the next operation logs on
    // again with whatever user and password are set by then.
    Logout();
    throw;
  }
}

void T_FTP::Logout() {
  if (Busy()) {
    try {
      Abort();
    } catch (...) {
    }
  }
  if (Connected && Connection.IsOpen()) {
    try {
      SendCommand("QUIT");
      Connection.TimeoutMs = QuitWaitMs;
      Reply();
    } catch (...) {
    }
  }
  DropDeadControl();
}

void T_FTP::Abort() {
  if (!Busy())
    return;
  // 426 for the aborted transfer, then the answer to ABOR itself.
  if (Command("ABOR") == 426)
    Reply();
  RaiseRefusal();
  CloseDataConnection();
  state_ = TTransferState::Idle;
}

void T_FTP::Prepare() {
  if (Busy())
    throw EProtocolBusy();
  if (!Connected)
    Login();
}

void T_FTP::CloseDataConnection() noexcept {
  data_.ShutdownSend();
  data_.Close();
  listener_.Close();
}

bool T_FTP::ExtendedPassive(std::uint16_t &port) {
  // A server that does not know EPSV (or will not use it) says so with a
  // permanent refusal; any other answer but 229 is a failure of its own.
  const std::int32_t code = Command("EPSV");
  if (code >= 500 && code <= 599) {
    epsvRefused_ = true;
    return false;
  }
  if (code != 229)
    throw EProtocolError("FTP", ReplyText, static_cast<std::uint16_t>(ReplyCode));
  if (!ExtendedPassivePort(ReplyText, port))
    throw EProtocolError("FTP", "No data port in the extended passive reply: " + ReplyText, 229);
  return true;
}

void T_FTP::OpenDataConnection() {
  CloseDataConnection();
  platform::SocketAddress server = RemoteAddress;
  Connection.PeerName(server);
  data_.TimeoutMs = TimeoutMs;
  data_.LowSpeed = LowSpeed;

  if (Passive) {
    // EPSV names no address and works over IPv4 and IPv6 alike; PASV is
    // for the servers that refuse it.
    std::uint16_t port = 0;
    if (epsvRefused_ || !ExtendedPassive(port)) {
      if (Command("PASV") != 227)
        throw EProtocolError("FTP", ReplyText, static_cast<std::uint16_t>(ReplyCode));
      if (!PassivePort(ReplyText, port))
        throw EProtocolError("FTP", "No data port in the passive reply: " + ReplyText, 227);
    }
    // Only the port is taken from the reply: the data connection goes to the
    // server the control connection reached, wherever the reply points.
    server.Port = port;
    data_.Connect(server);
    return;
  }

  // Active: listen on a free port of the address the server already
  // reaches us on, and announce it (PORT takes IPv4 only).
  platform::SocketAddress local;
  Connection.LocalName(local);
  local.Port = 0;
  listener_.Listen(local);
  listener_.LocalName(local);
  listener_.TimeoutMs = TimeoutMs;
  listener_.LowSpeed = LowSpeed;
  if (local.Family == platform::SocketAddress::V4 || local.IsV4Mapped()) {
    const std::string dotted = platform::FormatAddress(local);
    SendCommand("PORT " + ReplaceAll(dotted, ".", ",") + "," + std::to_string(local.Port >> 8) +
                "," + std::to_string(local.Port & 0xFF));
  } else {
    // The zone of a link-local address means nothing to the server.
    local.ScopeId = 0;
    SendCommand("EPRT |2|" + platform::FormatAddress(local) + "|" + std::to_string(local.Port) +
                "|");
  }
  ReadReply();
}

void T_FTP::AcceptDataConnection() {
  if (!listener_.IsOpen())
    return;
  platform::SocketAddress peer;
  data_ = listener_.Accept(&peer);
  listener_.Close();
  platform::SocketAddress server = RemoteAddress;
  Connection.PeerName(server);
  if (!peer.SameHost(server)) {
    data_.Close();
    throw ETcpIpError("Data connection from " + platform::FormatAddress(peer) +
                      ", not from the server");
  }
}

void T_FTP::Transfer(std::initializer_list<std::string> commands, t_ftp_mode kind) {
  try {
    OpenTransfer(commands, kind);
    MoveData();
    CloseTransfer();
  } catch (...) {
    AbandonTransfer();
    throw;
  }
}

void T_FTP::OpenTransfer(std::initializer_list<std::string> commands, t_ftp_mode kind) {
  OpenDataConnection();
  for (const std::string &command : commands)
    Perform(command);
  AcceptDataConnection();
  // The server starts its side of the handshake once it has announced the
  // transfer; it takes the control connection's session up again (servers
  // refuse a data connection that is not the same client's).
  if (Connection.Secure())
    StartTls(data_, Hostname, &Connection);
  TransferKind = kind;
  transferred_ = 0;
  state_ = TTransferState::Moving;
  switch (kind) {
  case tftp_download:
    Stream.Clear();
    // Reserved ahead, a large file is not copied as the stream grows.
    if (!sink_)
      Stream.Reserve(FileSize);
    break;
  case tftp_upload:
    FileSize = source_ ? source_->Size() : Stream.Size();
    Counts.Expect(TDirection::Sent, FileSize);
    Stream.SetPosition(0);
    break;
  case tftp_getdir:
    DirStream.Clear();
    listingCost_ = 0;
    break;
  }
}

void T_FTP::MoveData() {
  if (Async)
    return MoveDataByNotifications();
  if (TransferKind == tftp_upload) {
    while (SendChunk()) {
    }
    return;
  }
  while (ReceiveChunk()) {
  }
}

void T_FTP::CloseTransfer() {
  // An Abort from a data handler has ended the transfer already.
  if (state_ == TTransferState::Idle)
    throw ETcpIpError("Transfer aborted");
  state_ = TTransferState::Finishing;
  // The server learns that an upload is complete from the data connection's
  // end. A secured one is closed only once the server has closed its side:
  // a close with anything unread (a TLS goodbye, a late session ticket)
  // would reset the connection, and a server may take that for a broken
  // transfer.
  if (TransferKind == tftp_upload && data_.Secure()) {
    data_.ShutdownSend();
    std::vector<char> &buffer = TransferBuffer();
    try {
      while (data_.Receive(buffer.data(), buffer.size()) > 0) {
      }
    } catch (const ECutShortError &) {
      // Nothing was to come: the final reply says whether the upload arrived.
    }
  }
  CloseDataConnection();
  ReadReply();
  Connection.WaitHook = nullptr;
  state_ = TTransferState::Idle;
}

void T_FTP::AbandonTransfer() noexcept {
  Connection.WaitHook = nullptr;
  CloseDataConnection();
  if (state_ != TTransferState::Idle)
    DropDeadControl();
}

bool T_FTP::ReceiveChunk() {
  std::vector<char> &buffer = TransferBuffer();
  const std::size_t n = data_.Receive(buffer.data(), buffer.size());
  if (n == 0)
    return false;
  transferred_ += static_cast<std::int64_t>(n);
  if (TransferKind == tftp_getdir) {
    // Short lines cost the list more than their text: each is an entry.
    const auto breaks = std::count_if(buffer.data(), buffer.data() + n,
                                      [](char c) { return c == '\n' || c == '\r'; });
    listingCost_ += static_cast<std::int64_t>(n) + 32 * static_cast<std::int64_t>(breaks);
    if (listingCost_ > MaxListingBytes) {
      DirStream.Assign({});
      throw ETcpIpError("Directory listing larger than " + std::to_string(MaxListingBytes) +
                        " bytes (each line counted with 32 bytes more)");
    }
    DirStream.Write(buffer.data(), n);
  } else if (sink_)
    sink_->Write(buffer.data(), n);
  else
    Stream.Write(buffer.data(), n);
  if (OnDataReceived)
    OnDataReceived(*this, TransferKind, static_cast<std::int32_t>(n));
  return true;
}

bool T_FTP::SendChunk() {
  if (!data_.IsOpen())
    return false;
  std::vector<char> &buffer = TransferBuffer();
  const std::size_t n = source_ ? source_->Read(buffer.data(), buffer.size())
                                : Stream.Read(buffer.data(), buffer.size());
  if (n == 0)
    return false;
  data_.Send(buffer.data(), n);
  transferred_ += static_cast<std::int64_t>(n);
  return true;
}

std::vector<char> &T_FTP::TransferBuffer() {
  if (!sink_ && !source_)
    return Buffer;
  // Files move in larger pieces: fewer system calls on both sides.
  if (fileBuffer_.empty())
    fileBuffer_.resize(FileBufferSize);
  return fileBuffer_;
}

void T_FTP::Download() {
  Prepare();
  if (URI.empty())
    return;
  // A server without SIZE still serves the file.
  FileSize = 0;
  if (!Refused(Command("SIZE " + URI)))
    FileSize = std::max<std::int64_t>(TryStrToInt64(Trim(ReplyText)).value_or(0), 0);
  Counts.Expect(TDirection::Received, FileSize);
  Transfer({"RETR " + URI}, tftp_download);
  // A data connection that broke off early must not pass for the whole file.
  if (transferred_ < FileSize)
    throw ETcpIpError("Data connection closed after " + std::to_string(transferred_) + " of " +
                      std::to_string(FileSize) + " bytes");
  Stream.SetPosition(0);
  if (OnActionComplete)
    OnActionComplete(*this, tftp_download);
}

void T_FTP::Upload() {
  Prepare();
  if (URI.empty())
    return;
  Transfer({"STOR " + URI}, tftp_upload);
  if (OnActionComplete)
    OnActionComplete(*this, tftp_upload);
}

void T_FTP::List(const std::string &path) {
  Prepare();
  DirListing.clear();
  DirIndex = 0;
  try {
    Transfer({"TYPE A", path.empty() ? std::string("LIST") : "LIST " + path}, tftp_getdir);
  } catch (...) {
    // Binary transfers must not go on in text mode after a failed listing;
    // the listing's failure is the one reported.
    if (Connected) {
      try {
        Command("TYPE I");
      } catch (...) {
      }
    }
    throw;
  }
  Perform("TYPE I");
  DirListing = SplitLines(DirStream.Bytes());
  DirStream.Clear();
  DirIndex = 0;
  if (OnActionComplete)
    OnActionComplete(*this, tftp_getdir);
}

void T_FTP::DownloadToFile(const std::string &path) {
  platform::FileWriter file(path);
  DownloadTo(file);
  file.Commit();
}

void T_FTP::DownloadTo(platform::FileWriter &file) {
  const Lent<platform::FileWriter> lent{sink_, file};
  Download();
}

void T_FTP::UploadFromFile(const std::string &path) {
  platform::FileReader file(path);
  UploadFrom(file);
}

void T_FTP::UploadFrom(platform::FileReader &file) {
  const Lent<platform::FileReader> lent{source_, file};
  Upload();
}

void T_FTP::ChangeDir(const std::string &path) {
  Prepare();
  Perform("CWD " + path);
  DirChanges.push_back(path);
}

void T_FTP::MakeDir(const std::string &path) {
  Prepare();
  Perform("MKD " + path);
}

void T_FTP::RemoveDir(const std::string &path) {
  Prepare();
  Perform("RMD " + path);
}

void T_FTP::DeleteFile(const std::string &name) {
  Prepare();
  Perform("DELE " + name);
}

void T_FTP::RenameFile(const std::string &oldName, const std::string &newName) {
  Prepare();
  Perform("RNFR " + oldName);
  Perform("RNTO " + newName);
}

void T_FTP::Action() {
  Login();
  switch (Mode) {
  case tftp_download:
    Stream.Clear();
    Download();
    break;
  case tftp_upload:
    // The stream holds what is to be sent.
    Upload();
    break;
  case tftp_getdir:
    Stream.Clear();
    List(".");
    break;
  }
  Logout();
}

void T_FTP::GetDirEntry(t_filedata &rec) {
  rec = t_filedata{};
  const TDateTime now = Now();
  while (DirIndex >= 0 && static_cast<std::size_t>(DirIndex) < DirListing.size()) {
    t_filedata entry = ParseDirLine(DirListing[static_cast<std::size_t>(DirIndex)], now);
    ++DirIndex;
    if (entry.Kind != fkNone && entry.Name != "." && entry.Name != "..") {
      rec = std::move(entry);
      return;
    }
  }
}

platform::NotificationLoop &T_FTP::Loop() {
  if (loop_)
    return *loop_;
  if (!ownLoop_)
    ownLoop_ = std::make_unique<platform::NotificationLoop>();
  return *ownLoop_;
}

void T_FTP::MoveDataByNotifications() {
  platform::NotificationLoop &loop = Loop();
  const socket_t s = data_.Handle();
  const bool upload = TransferKind == tftp_upload;
  asyncError_ = nullptr;
  if (loop.Select(s, (upload ? FD_WRITE : FD_READ) | FD_CLOSE,
                  [this](socket_t socket, int event, int error) {
                    WndProc(WM_DATA_NOTIFY, socket, event, error);
                  }) != 0)
    throw ESocketError(static_cast<std::uint16_t>(platform::LastSocketError()));
  const Registration registered{loop, s};
  // The final reply, too, is awaited while the loop serves its other
  // sockets; the hook goes when the transfer ends.
  Connection.WaitHook = [this](socket_t socket, TConnection::TWait wait, int timeoutMs) {
    return ServeLoopUntilReady(socket, wait, timeoutMs);
  };
  if (upload)
    loop.Reenable(s, FD_WRITE);
  using Clock = std::chrono::steady_clock;
  auto lastProgress = Clock::now();
  std::int64_t seen = transferred_;
  // The data connection's own floor sees none of this wait.
  TSpeedFloor floor;
  while (state_ == TTransferState::Moving && !asyncError_) {
    const auto start = Clock::now();
    int waitMs = NoTimeout;
    if (TimeoutMs != NoTimeout) {
      const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(start - lastProgress);
      if (idle.count() >= TimeoutMs)
        throw TimedOut(TimeoutMs, "data on the data connection");
      waitMs = TimeoutMs - static_cast<int>(idle.count());
    }
    const int floorMs = floor.Left(LowSpeed, TimeoutMs);
    if (floorMs != NoTimeout && (waitMs == NoTimeout || floorMs < waitMs))
      waitMs = floorMs;
    loop.Process(waitMs);
    const auto now = Clock::now();
    floor.Moved(static_cast<std::size_t>(transferred_ - seen));
    floor.Waited(std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count(),
                 LowSpeed, TimeoutMs, [] { return std::string("data on the data connection"); });
    if (transferred_ != seen) {
      seen = transferred_;
      lastProgress = now;
    }
  }
  if (asyncError_)
    std::rethrow_exception(std::exchange(asyncError_, nullptr));
}

// Runs the loop until s is ready; false when it was not within timeoutMs.
bool T_FTP::ServeLoopUntilReady(socket_t s, TConnection::TWait wait, int timeoutMs) {
  platform::NotificationLoop &loop = Loop();
  bool ready = false;
  const int event = wait == TConnection::TWait::Readable ? FD_READ | FD_CLOSE : FD_WRITE;
  if (loop.Select(s, event, [&ready](socket_t, int, int) { ready = true; }) != 0)
    throw ESocketError(static_cast<std::uint16_t>(platform::LastSocketError()));
  const Registration registered{loop, s};
  if (event == FD_WRITE)
    loop.Reenable(s, FD_WRITE);
  const TTimeLeft time(timeoutMs);
  while (!ready) {
    const int left = time.Ms();
    if (left == 0)
      return false;
    loop.Process(left);
  }
  return true;
}

void T_FTP::WndProc(int message, socket_t s, int event, int error) {
  if (message != WM_DATA_NOTIFY) {
    T_TcpIp::WndProc(message, s, event, error);
    return;
  }
  if (s != data_.Handle() || state_ != TTransferState::Moving)
    return;
  // The handler runs inside the loop: a failure must not escape into the
  // loop, which would swallow it.
  try {
    switch (event) {
    case FD_READ:
      if (ReceiveChunk())
        Loop().Reenable(s, FD_READ);
      else
        state_ = TTransferState::Finishing;
      break;
    case FD_CLOSE:
      if (TransferKind != tftp_upload)
        while (ReceiveChunk()) {
        }
      state_ = TTransferState::Finishing;
      break;
    case FD_WRITE:
      if (SendChunk())
        Loop().Reenable(s, FD_WRITE);
      else
        state_ = TTransferState::Finishing;
      break;
    default: break;
    }
  } catch (...) {
    asyncError_ = std::current_exception();
  }
}
