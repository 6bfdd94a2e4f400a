#include "tcpip/T_FTP.h"

#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"
#include "platform/FileStreams.h"
#include "platform/NotificationLoop.h"
#include "platform/Socket.h"

#include <cstdio>

namespace {

// How long the server may take to open an active-mode data connection
// after announcing the transfer.
constexpr int AcceptWaitMs = 60000;
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

} // namespace

T_FTP::T_FTP() = default;

T_FTP::~T_FTP() {
  // No traces while the object goes away; the logon still ends with QUIT.
  OnTrace = nullptr;
  if (Connected || ControlSocket != platform::InvalidSocket)
    Logout();
}

void T_FTP::SendCommand(const std::string &text) {
  // A name with a line break would smuggle a command of its own.
  if (text.find_first_of("\r\n") != std::string::npos)
    throw ETcpIpError("Line break in FTP command: " + text.substr(0, text.find_first_of("\r\n")));
  SendString(ControlSocket, text + "\r\n");
  Trace(text, tlCommand);
}

void T_FTP::ReadReply() {
  Reply reply;
  try {
    reply = ReadNumberedReply(ControlSocket, "FTP", true);
  } catch (const ETcpIpError &) {
    // The control connection ended or carried something that cannot be a
    // reply: it cannot be used again, and the next operation logs on anew.
    DropDeadControl();
    throw;
  }
  ReplyCode = reply.Code;
  ReplyText = reply.Text;
  if (ReplyCode >= 400)
    throw EProtocolError("FTP", ReplyText, static_cast<std::uint16_t>(ReplyCode));
}

void T_FTP::DropDeadControl() {
  CloseDataConnection();
  Unwatch(false);
  CloseSocketHandle(ControlSocket);
  Connected = false;
  Busy = false;
}

void T_FTP::Login() {
  RemotePort = Port;
  T_TcpIp::Login();
  ControlSocket = Socket;
  Socket = platform::InvalidSocket;
  try {
    ReadReply();
    SendCommand("USER " + Username);
    ReadReply();
    // 230 logs on without a password; 331 and 332 ask for one.
    if (ReplyCode >= 300 && ReplyCode < 400) {
      if (Password.find_first_of("\r\n") != std::string::npos)
        throw ETcpIpError("Line break in FTP password");
      SendString(ControlSocket, "PASS " + Password + "\r\n");
      Trace("PASS ******", tlCommand);
      ReadReply();
    }
    SendCommand("TYPE I");
    ReadReply();
  } catch (...) {
    // A refused logon ends the connection, so the next operation logs on
    // again with whatever user and password are set by then.
    Logout();
    throw;
  }
}

void T_FTP::Logout() {
  if (Busy) {
    try {
      Abort();
    } catch (...) {
    }
  }
  if (Connected && ControlSocket != platform::InvalidSocket) {
    try {
      SendCommand("QUIT");
      // A server that does not answer QUIT must not keep the client, or
      // whatever is destroying it, waiting.
      if (platform::WaitReadable(ControlSocket, QuitWaitMs))
        ReadReply();
    } catch (...) {
    }
  }
  CloseDataConnection();
  Unwatch(false);
  CloseSocketHandle(ControlSocket);
  CloseSocketHandle(Socket);
  Connected = false;
  Busy = false;
}

void T_FTP::Abort() {
  if (!Busy)
    return;
  SendCommand("ABOR");
  try {
    ReadReply();
  } catch (const EProtocolError &e) {
    if (e.Code != 426)
      throw;
    // 426 for the aborted transfer, then the answer to ABOR itself.
    ReadReply();
  }
  CloseDataConnection();
  Busy = false;
}

void T_FTP::Prepare() {
  if (Busy)
    throw EProtocolBusy();
  if (!Connected)
    Login();
}

void T_FTP::CloseDataConnection() {
  Unwatch(true);
  if (Socket != platform::InvalidSocket)
    platform::Shutdown(Socket, 1);
  CloseSocketHandle(Socket);
  CloseSocketHandle(listener_);
}

void T_FTP::OpenDataConnection() {
  CloseDataConnection();
  std::uint32_t serverAddress = RemoteAddress;
  std::uint16_t ignoredPort = 0;
  platform::PeerName(ControlSocket, serverAddress, ignoredPort);

  if (Passive) {
    SendCommand("PASV");
    ReadReply();
    if (ReplyCode != 227)
      throw EProtocolError("FTP", ReplyText, static_cast<std::uint16_t>(ReplyCode));
    std::uint16_t port = 0;
    if (!PassivePort(ReplyText, port))
      throw EProtocolError("FTP", "No data port in the passive reply: " + ReplyText, 227);
    // Only the port is taken from the reply: the data connection goes to the
    // server the control connection reached, wherever the reply points.
    Socket = CreateSocket();
    if (Socket == platform::InvalidSocket)
      throw ESocketError(static_cast<std::uint16_t>(platform::LastSocketError()));
    ConnectSocket(Socket, port, serverAddress);
    if (Socket == platform::InvalidSocket)
      throw ESocketError(static_cast<std::uint16_t>(platform::LastSocketError()));
    return;
  }

  // Active: listen on a free port of the address the server already
  // reaches us on, and announce it.
  std::uint32_t localAddress = 0;
  std::uint16_t controlPort = 0;
  if (!platform::LocalName(ControlSocket, localAddress, controlPort))
    throw ESocketError(static_cast<std::uint16_t>(platform::LastSocketError()));
  OpenInputSocket(listener_, 0, localAddress);
  std::uint16_t dataPort = 0;
  if (listener_ == platform::InvalidSocket ||
      !platform::LocalName(listener_, localAddress, dataPort))
    throw ESocketError(static_cast<std::uint16_t>(platform::LastSocketError()));
  const std::string dotted = platform::FormatDotted(localAddress);
  std::string command = "PORT " + ReplaceAll(dotted, ".", ",") + "," +
                        std::to_string(dataPort >> 8) + "," + std::to_string(dataPort & 0xFF);
  SendCommand(command);
  ReadReply();
}

void T_FTP::AcceptDataConnection() {
  if (listener_ == platform::InvalidSocket)
    return;
  if (!platform::WaitReadable(listener_, AcceptWaitMs))
    throw ETcpIpError("The server did not open the data connection");
  std::uint32_t peer = 0;
  socket_t data = AcceptInputSocket(listener_, &peer);
  CloseSocketHandle(listener_);
  if (data == platform::InvalidSocket)
    throw ESocketError(static_cast<std::uint16_t>(platform::LastSocketError()));
  std::uint32_t serverAddress = RemoteAddress;
  std::uint16_t ignoredPort = 0;
  platform::PeerName(ControlSocket, serverAddress, ignoredPort);
  if (peer != serverAddress) {
    CloseSocketHandle(data);
    throw ETcpIpError("Data connection from " + platform::FormatDotted(peer) +
                      ", not from the server");
  }
  Socket = data;
}

bool T_FTP::ReceiveChunk() {
  if (Socket == platform::InvalidSocket)
    return false;
  std::vector<char> &buffer = TransferBuffer();
  const long n = ReceiveBuf(Socket, buffer.data(), buffer.size());
  if (n <= 0)
    return false;
  transferred_ += n;
  if (TransferKind == tftp_download && sink_)
    sink_->Write(buffer.data(), static_cast<std::size_t>(n));
  else if (TransferKind == tftp_download)
    Stream.Write(buffer.data(), static_cast<std::size_t>(n));
  else if (TransferKind == tftp_getdir)
    DirStream.Write(buffer.data(), static_cast<std::size_t>(n));
  if (OnDataReceived)
    OnDataReceived(*this, TransferKind, static_cast<std::int32_t>(n));
  return true;
}

bool T_FTP::SendChunk() {
  if (Socket == platform::InvalidSocket)
    return false;
  std::vector<char> &buffer = TransferBuffer();
  const std::size_t n = source_ ? source_->Read(buffer.data(), buffer.size())
                                : Stream.Read(buffer.data(), buffer.size());
  if (n == 0)
    return false;
  SendBuf(Socket, buffer.data(), n);
  return true;
}

void T_FTP::Download() {
  Prepare();
  if (URI.empty())
    return;
  FileSize = 0;
  try {
    SendCommand("SIZE " + URI);
    ReadReply();
    FileSize = StrToInt64(Trim(ReplyText));
  } catch (const EProtocolError &) {
    // A server without SIZE still serves the file; a lost connection is
    // another matter.
    if (!Connected)
      throw;
  } catch (const EConvertError &) {
  }
  if (FileSize < 0)
    FileSize = 0;

  try {
    OpenDataConnection();
    SendCommand("RETR " + URI);
    ReadReply();
    AcceptDataConnection();
    TransferKind = tftp_download;
    Busy = true;
    finalReplyPending_ = true;
    transferred_ = 0;
    Stream.Clear();
    // Reserved ahead, a large file is not copied as the stream grows.
    if (!sink_)
      Stream.Reserve(FileSize);
    ReceiveTransfer();
    CloseDataConnection();
  } catch (...) {
    TransferFailed();
    throw;
  }
  Busy = false;
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
  try {
    OpenDataConnection();
    SendCommand("STOR " + URI);
    ReadReply();
    AcceptDataConnection();
    TransferKind = tftp_upload;
    Busy = true;
    finalReplyPending_ = true;
    FileSize = source_ ? source_->Size() : Stream.Size();
    Stream.SetPosition(0);
    if (Async) {
      AsyncTransfer();
    } else {
      while (SendChunk()) {
      }
      // The server learns that the file is complete from the data connection's end.
      CloseDataConnection();
      PeerClosed = false;
      finalReplyPending_ = false;
      ReadReply();
    }
  } catch (...) {
    TransferFailed();
    throw;
  }
  Busy = false;
  if (OnActionComplete)
    OnActionComplete(*this, tftp_upload);
}

void T_FTP::List(const std::string &path) {
  Prepare();
  DirListing.clear();
  DirIndex = 0;
  try {
    OpenDataConnection();
    SendCommand("TYPE A");
    ReadReply();
    SendCommand(path.empty() ? std::string("LIST") : "LIST " + path);
    ReadReply();
    AcceptDataConnection();
    TransferKind = tftp_getdir;
    Busy = true;
    finalReplyPending_ = true;
    DirStream.Clear();
    ReceiveTransfer();
    CloseDataConnection();
    SendCommand("TYPE I");
    ReadReply();
  } catch (...) {
    TransferFailed();
    // Binary transfers must not go on in text mode after a failed listing.
    if (Connected) {
      try {
        SendCommand("TYPE I");
        ReadReply();
      } catch (...) {
      }
    }
    throw;
  }
  DirListing = SplitLines(DirStream.Bytes());
  DirStream.Clear();
  DirIndex = 0;
  Busy = false;
  if (OnActionComplete)
    OnActionComplete(*this, tftp_getdir);
}

std::vector<char> &T_FTP::TransferBuffer() {
  if (!sink_ && !source_)
    return Buffer;
  // Files move in larger pieces: fewer system calls on both sides.
  if (fileBuffer_.empty())
    fileBuffer_.resize(FileBufferSize);
  return fileBuffer_;
}

void T_FTP::ReceiveTransfer() {
  if (Async)
    return AsyncTransfer();
  while (ReceiveChunk()) {
  }
  PeerClosed = false;
  finalReplyPending_ = false;
  ReadReply();
}

void T_FTP::TransferFailed() {
  CloseDataConnection();
  Busy = false;
  if (finalReplyPending_) {
    finalReplyPending_ = false;
    DropDeadControl();
  }
}

void T_FTP::DownloadToFile(const std::string &path) {
  platform::FileWriter file(path);
  sink_ = &file;
  try {
    Download();
  } catch (...) {
    sink_ = nullptr;
    throw;
  }
  sink_ = nullptr;
  file.Commit();
}

void T_FTP::UploadFromFile(const std::string &path) {
  platform::FileReader file(path);
  source_ = &file;
  try {
    Upload();
  } catch (...) {
    source_ = nullptr;
    throw;
  }
  source_ = nullptr;
}

void T_FTP::ChangeDir(const std::string &path) {
  Prepare();
  SendCommand("CWD " + path);
  ReadReply();
}

void T_FTP::MakeDir(const std::string &path) {
  Prepare();
  SendCommand("MKD " + path);
  ReadReply();
}

void T_FTP::RemoveDir(const std::string &path) {
  Prepare();
  SendCommand("RMD " + path);
  ReadReply();
}

void T_FTP::DeleteFile(const std::string &name) {
  Prepare();
  SendCommand("DELE " + name);
  ReadReply();
}

void T_FTP::RenameFile(const std::string &oldName, const std::string &newName) {
  Prepare();
  SendCommand("RNFR " + oldName);
  ReadReply();
  SendCommand("RNTO " + newName);
  ReadReply();
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

void T_FTP::Watch(bool data, int events) {
  const socket_t s = data ? Socket : ControlSocket;
  const int message = data ? WM_DATA_NOTIFY : WM_CONTROL_NOTIFY;
  platform::SetNonBlocking(s, true);
  if (Loop().Select(s, events, [this, message](socket_t socket, int event, int error) {
        WndProc(message, socket, event, error);
      }) != 0)
    throw ESocketError(static_cast<std::uint16_t>(platform::LastSocketError()));
  (data ? watchedData_ : watchedControl_) = s;
}

void T_FTP::Unwatch(bool data) {
  socket_t &s = data ? watchedData_ : watchedControl_;
  if (s == platform::InvalidSocket)
    return;
  Loop().Cancel(s);
  platform::SetNonBlocking(s, false);
  s = platform::InvalidSocket;
}

void T_FTP::WaitForNotification(socket_t s) {
  if (!Async) {
    T_TcpIp::WaitForNotification(s);
    return;
  }
  // A failure of the data side ends the wait for the control reply.
  RethrowAsyncError();
  // The receive that sent us here found nothing: hear about the next data.
  if (s == watchedControl_)
    Loop().Reenable(s, FD_READ);
  Loop().Process(1000);
  RethrowAsyncError();
}

void T_FTP::RethrowAsyncError() {
  if (!asyncError_)
    return;
  std::exception_ptr error = asyncError_;
  asyncError_ = nullptr;
  std::rethrow_exception(error);
}

void T_FTP::AsyncTransfer() {
  dataDone_ = Socket == platform::InvalidSocket;
  asyncError_ = nullptr;
  struct Quiet {
    T_FTP &ftp;
    ~Quiet() {
      ftp.PumpMessages = false;
      ftp.Unwatch(true);
      ftp.Unwatch(false);
    }
  } quiet{*this};
  Watch(false, FD_READ | FD_CLOSE);
  if (!dataDone_) {
    if (TransferKind == tftp_upload) {
      Watch(true, FD_WRITE | FD_CLOSE);
      Loop().Reenable(Socket, FD_WRITE);
    } else {
      Watch(true, FD_READ | FD_CLOSE);
    }
  }
  // An upload must have gone out whole before its end is signalled.
  if (TransferKind == tftp_upload) {
    while (!dataDone_ && !asyncError_)
      Loop().Process(1000);
    RethrowAsyncError();
    CloseDataConnection();
  }
  PeerClosed = false;
  PumpMessages = true;
  ReadReply();
  PumpMessages = false;
  finalReplyPending_ = false;
  RethrowAsyncError();
  // The final reply can overtake the last of the data: take what is left.
  Unwatch(true);
  if (TransferKind != tftp_upload) {
    while (ReceiveChunk()) {
    }
  }
  PeerClosed = false;
}

void T_FTP::WndProc(int message, socket_t s, int event, int error) {
  if (message == WM_CONTROL_NOTIFY && event == FD_CLOSE) {
    // Ends the wait: the receive then finds the connection gone.
    DataReady = true;
    return;
  }
  if (message != WM_DATA_NOTIFY) {
    T_TcpIp::WndProc(message, s, event, error);
    return;
  }
  if (s != Socket || dataDone_)
    return;
  // The handler runs inside the loop: it neither pumps again nor lets a
  // failure escape into the loop, which would swallow it.
  const bool pumping = PumpMessages;
  PumpMessages = false;
  try {
    switch (event) {
    case FD_READ:
      if (TransferKind == tftp_upload)
        break;
      if (ReceiveChunk())
        Loop().Reenable(s, FD_READ);
      else
        dataDone_ = true;
      break;
    case FD_CLOSE:
      if (TransferKind != tftp_upload)
        while (ReceiveChunk()) {
        }
      dataDone_ = true;
      break;
    case FD_WRITE:
      if (TransferKind != tftp_upload)
        break;
      if (SendChunk())
        Loop().Reenable(s, FD_WRITE);
      else
        dataDone_ = true;
      break;
    default: break;
    }
  } catch (...) {
    asyncError_ = std::current_exception();
    dataDone_ = true;
    // Ends a wait for the control reply too.
    DataReady = true;
  }
  PumpMessages = pumping;
}
