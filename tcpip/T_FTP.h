#pragma once
// The FTP client: logon, downloads into Stream, uploads from it, directory
// listings walked entry by entry, and the file and directory commands. The
// control connection stays open between operations until Logout; every
// transfer has a data connection of its own, passive by default. In Async
// mode the data moves through socket notifications while the transfer's
// final reply is awaited.
#include "ip_misc/TStringList.h"
#include "tcpip/FtpListParser.h"
#include "tcpip/T_TcpIp.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class FileWriter;
class FileReader;
class NotificationLoop;
}

enum t_ftp_mode { tftp_download = 0, tftp_upload = 1, tftp_getdir = 2 };

class T_FTP;
using TDataTransferProc = std::function<void(T_FTP &sender, t_ftp_mode mode, std::int32_t bytes)>;
using TFTPActionCompleteProc = std::function<void(T_FTP &sender, t_ftp_mode mode)>;

// The published settings of an FTP client, which a copy of it takes along.
struct TFtpSettings {
  // The most a directory listing may hold unless set otherwise: its text,
  // each line break counted with 32 bytes more for the room its entry takes
  // in DirListing.
  static constexpr std::int64_t DefaultMaxListingBytes = std::int64_t(64) << 20;

  std::string URI;
  std::string Password = "user@localhost";
  std::string Username = "ftp";
  bool Passive = true;
  // The server's control port.
  std::uint16_t Port = 21;
  t_ftp_mode Mode = tftp_download;
  std::int64_t MaxListingBytes = DefaultMaxListingBytes;
};

class T_FTP : public T_TcpIp, public TFtpSettings {
public:
  T_FTP();
  // A new client with the settings of other, not logged on, synchronous;
  // its first logon goes on to the folder other's logon had reached with
  // ChangeDir (a background job works where the script is).
  T_FTP(const T_FTP &other);
  ~T_FTP() override;

  TDataTransferProc OnDataReceived;
  TFTPActionCompleteProc OnActionComplete;
  bool Async = false;

  // The last reply: its code (999 when it has none) and its first line from
  // the fifth character on.
  std::int32_t ReplyCode = 0;
  std::string ReplyText;
  t_ftp_mode TransferKind = tftp_download;
  TStringList DirListing;
  std::int32_t DirIndex = 0;
  // SIZE of the file being downloaded (0 when the server would not say), or
  // the size of Stream for an upload.
  std::int64_t FileSize = 0;
  TMemoryStream DirStream;
  // The folders ChangeDir went to since the logon, in order.
  TStringList DirChanges;
  // A transfer runs: its data moves or its final reply is awaited.
  bool Busy() const { return state_ != TTransferState::Idle; }

  // Every operation below raises EProtocolBusy while a transfer runs, logs
  // on first when no logon is open, and raises EProtocolError ("FTP", reply
  // text, code) for a reply of 400 or more. A failed transfer closes its
  // data connection and leaves the logon usable.

  // Connects to Hostname:Port and logs on (USER, PASS, TYPE I). Raises the
  // ETcpIpError family; a refused logon closes the connection.
  void Login() override;
  // QUIT (ABOR first when busy). Never raises: the connections are closed
  // and Connected cleared even when the server is gone.
  void Logout() override;
  // Login, then Download, Upload or List(".") by Mode, then Logout.
  void Action() override;
  void WndProc(int message, socket_t s, int event, int error) override;

  // RETR URI into Stream.
  void Download();
  // STOR the whole Stream as URI.
  void Upload();
  // RETR URI straight into a local file, which appears (replacing an older
  // one) only when the transfer has succeeded. Raises EFileError when the
  // file cannot be written, before anything is sent when its folder is
  // missing.
  void DownloadToFile(const std::string &path);
  // RETR URI into file, which the caller commits.
  void DownloadTo(platform::FileWriter &file);
  // STOR a local file as URI, read piece by piece. Raises EFileError before
  // anything is sent when the file cannot be read.
  void UploadFromFile(const std::string &path);
  void UploadFrom(platform::FileReader &file);
  // LIST path into DirListing (the current directory when path is empty).
  // A listing past MaxListingBytes raises ETcpIpError; its transfer, and
  // with it the logon, ends (the server still sends).
  void List(const std::string &path);
  void ChangeDir(const std::string &path);
  void MakeDir(const std::string &path);
  void RemoveDir(const std::string &path);
  void DeleteFile(const std::string &name);
  void RenameFile(const std::string &oldName, const std::string &newName);
  // ABOR while busy; the transfer that was running then fails.
  void Abort();
  // The next real entry of DirListing ("." and ".." passed over), or the
  // empty record when none is left.
  void GetDirEntry(t_filedata &rec);
  // Reads one whole reply from the control connection into ReplyCode and
  // ReplyText; raises EProtocolError for 400 and more, and when the server
  // has closed the connection (the logon is then over).
  void ReadReply();

  // The loop that delivers the notifications of Async transfers; the other
  // sockets registered with it are served while a transfer runs. Without
  // one the object uses a loop of its own.
  void SetNotificationLoop(platform::NotificationLoop *loop) { loop_ = loop; }

private:
  enum class TTransferState {
    Idle,
    // The server has announced the transfer: the data moves.
    Moving,
    // The data side is done: the final reply is awaited.
    Finishing,
  };

  // The notification loop and the connections' hooks.
  void Wire();
  void Prepare();
  // A whole transfer: the data connection opened, the commands sent (the
  // last one's preliminary reply starts the transfer), the data moved, the
  // final reply read. Whatever fails, nothing of the transfer is left open.
  void Transfer(std::initializer_list<std::string> commands, t_ftp_mode kind);
  void OpenTransfer(std::initializer_list<std::string> commands, t_ftp_mode kind);
  void MoveData();
  void CloseTransfer();
  // After a failure: a transfer whose final reply was still due leaves the
  // control connection out of step, so the logon ends too.
  void AbandonTransfer() noexcept;
  void OpenDataConnection();
  // EPSV: true with the port of the server's reply; false when the server
  // refuses it (5xx), which is then remembered for the logon.
  bool ExtendedPassive(std::uint16_t &port);
  // Takes the server's connection in active mode, after the preliminary reply.
  void AcceptDataConnection();
  void CloseDataConnection() noexcept;
  void DropDeadControl() noexcept;
  // A reply of 400 or more refuses what was asked.
  static bool Refused(std::int32_t code) { return code >= 400; }
  // Reads one whole reply into ReplyCode and ReplyText and returns its
  // code, whatever it is: the caller decides what it means. Raises only when
  // the control connection fails (the logon is then over).
  std::int32_t Reply();
  // Sends command and returns the code of its reply, as Reply.
  std::int32_t Command(const std::string &command);
  // Raises EProtocolError when the last reply was a refusal.
  void RaiseRefusal() const;
  // Sends command and raises EProtocolError when the server refuses it.
  void Perform(const std::string &command);
  bool ReceiveChunk();
  bool SendChunk();
  std::vector<char> &TransferBuffer();

  // Async transfers: the data moves by notifications of the loop, and the
  // final reply is awaited while the loop keeps serving its other sockets.
  platform::NotificationLoop &Loop();
  void MoveDataByNotifications();
  bool ServeLoopUntilReady(socket_t s, TConnection::TWait wait, int timeoutMs);

  static constexpr std::size_t FileBufferSize = 256 * 1024;
  std::vector<char> fileBuffer_;
  TTransferState state_ = TTransferState::Idle;
  // This logon's server refused EPSV: PASV is asked for instead.
  bool epsvRefused_ = false;
  // Where the next logon goes on to (a copy's first).
  TStringList reach_;
  TConnection data_;
  TConnection listener_;
  platform::FileWriter *sink_ = nullptr;
  platform::FileReader *source_ = nullptr;
  std::int64_t transferred_ = 0;
  // What the listing being received will cost (see MaxListingBytes).
  std::int64_t listingCost_ = 0;
  platform::NotificationLoop *loop_ = nullptr;
  std::unique_ptr<platform::NotificationLoop> ownLoop_;
  std::exception_ptr asyncError_;
};
