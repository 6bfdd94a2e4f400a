#pragma once
// The script family "SOCKET": one listening server and one client, one of
// which is the current role, a relay mode in which clients exchange CR LF
// framed messages through the server (see RelayRouter), and the handlers
// that turn the sockets' events into host events or queued event records.
#include "WSockets/TSocketConnection.h"
#include "commands/RelayRouter.h"
#include "host/KeywordLookup.h"
#include "platform/Socket.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class Library;
class TCustomWSocket;

class SocketFamily {
public:
  static constexpr std::string_view Commands = "|AUTO|ADDR|PORT|SERVER|CLIENT|CLOSE|SENDALL|SENDSERVER|SENDID|SENDADDR|CLOSECID|CLOSECADDR|TOQEVENTS|";
  static constexpr int CmdAUTO = KeywordPosition(Commands, "AUTO");
  static constexpr int CmdADDR = KeywordPosition(Commands, "ADDR");
  static constexpr int CmdPORT = KeywordPosition(Commands, "PORT");
  static constexpr int CmdSERVER = KeywordPosition(Commands, "SERVER");
  static constexpr int CmdCLIENT = KeywordPosition(Commands, "CLIENT");
  static constexpr int CmdCLOSE = KeywordPosition(Commands, "CLOSE");
  static constexpr int CmdSENDALL = KeywordPosition(Commands, "SENDALL");
  static constexpr int CmdSENDSERVER = KeywordPosition(Commands, "SENDSERVER");
  static constexpr int CmdSENDID = KeywordPosition(Commands, "SENDID");
  static constexpr int CmdSENDADDR = KeywordPosition(Commands, "SENDADDR");
  static constexpr int CmdCLOSECID = KeywordPosition(Commands, "CLOSECID");
  static constexpr int CmdCLOSECADDR = KeywordPosition(Commands, "CLOSECADDR");
  static constexpr int CmdTOQEVENTS = KeywordPosition(Commands, "TOQEVENTS");
  static constexpr std::string_view Functions = "|ERROR|STATUS|CLIENTS|ADDR|PORT|SENDERADDR|SENDERPORT|SENDERID|DATA|EVENT|";
  static constexpr int FnERROR = KeywordPosition(Functions, "ERROR");
  static constexpr int FnSTATUS = KeywordPosition(Functions, "STATUS");
  static constexpr int FnCLIENTS = KeywordPosition(Functions, "CLIENTS");
  static constexpr int FnADDR = KeywordPosition(Functions, "ADDR");
  static constexpr int FnPORT = KeywordPosition(Functions, "PORT");
  static constexpr int FnSENDERADDR = KeywordPosition(Functions, "SENDERADDR");
  static constexpr int FnSENDERPORT = KeywordPosition(Functions, "SENDERPORT");
  static constexpr int FnSENDERID = KeywordPosition(Functions, "SENDERID");
  static constexpr int FnDATA = KeywordPosition(Functions, "DATA");
  static constexpr int FnEVENT = KeywordPosition(Functions, "EVENT");

  // DATA hands out at most this much per call; the rest waits for the next.
  static constexpr std::size_t DataChunk = 1020;
  // Queued records past these wait in the peers instead: once the queue
  // holds this many records or bytes, the server reads from no connection
  // and accepts none and the client does not read, so TCP holds the peers
  // back; all goes on once EVENT has taken the queue below half of both.
  static constexpr std::size_t MaxQueuedEvents = 65536;
  static constexpr std::size_t MaxQueuedEventBytes = 16u << 20;

  // Wires the server's and the client's events to the handlers below; the
  // library's socket objects must exist already.
  explicit SocketFamily(Library &library);
  ~SocketFamily();
  void Command();
  void Function(std::string &result);

  // An event record into the variables EVENT sets; returns the event name.
  struct EventFields {
    std::string Name, Address, Port, Id, Data, Error;
    bool HasData = false;
    bool IsError = false;
  };
  static EventFields ParseEventRecord(std::string_view record);

private:
  class ServerConnections;

  void ServerData(platform::socket_t s);
  void ClientData(platform::socket_t s);
  // What a connection of socket received: with relay framing each complete
  // message goes to handle, without it the chunk is reported. current gives
  // the connection while it is the same one. Unterminated data past
  // RelayRouter::MaxMessage is no message but a fault: ERROR, CLOSEC, and
  // close drops the connection.
  void
  Received(TCustomWSocket &socket, const std::string &chunk,
           const std::function<TSocketConnection *()> &current,
           const std::function<void(const TSocketConnection::TPeer &, std::string_view)> &handle,
           const std::function<void()> &close);
  // Without relay framing every chunk is one NETWORK report.
  void RawData(const TSocketConnection::TPeer &peer, const std::string &chunk);
  void RelayMessage(const TSocketConnection::TPeer &sender, std::string_view message);
  void Accepted(platform::socket_t s);
  void ServerClosed(platform::socket_t s);
  void Connected();
  void ClientClosed();
  void Failed(const std::string &message);

  void Queue(std::string record);
  void ReleasePeers();
  void Report(const char *name, const TSocketConnection::TPeer &peer);
  void ReportNetwork(const TSocketConnection::TPeer &peer, std::string_view data);
  // Reports the server's connection closed and drops it.
  void CloseConnection(platform::socket_t s);

  void Close();
  // The server sends text to the connections which names; the client asks
  // the server to, or sends it to the server itself.
  void Send(RelayRouter::TWhich which, const std::string &text);
  void CloseId(const std::string &id);
  void CloseAddr(const std::string &address);
  std::string Status() const;
  std::string TakeData();
  std::string TakeEvent();

  Library &lib_;
  std::unique_ptr<ServerConnections> connections_;
  RelayRouter router_;
  bool serverRole_ = false;
  bool hostEvents_ = true;
  std::string socketData_;
  std::string senderAddr_, senderPort_, senderId_;
  std::string socketErrorText_;
  // Set while the queue is full: the sockets read and accept nothing.
  bool peersHeld_ = false;
};
