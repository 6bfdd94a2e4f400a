#pragma once
// The script family "SOCKET": one listening server and one client, one of
// which is the current role, a relay mode in which clients exchange CR LF
// framed messages through the server, and the handlers that turn the
// sockets' events into host events or queued event records.
#include "host/KeywordLookup.h"
#include "platform/Socket.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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
  // Unterminated relay data past this is not a message but a fault: the
  // connection is reported (ERROR, then CLOSEC) and dropped.
  static constexpr std::size_t MaxRelayMessage = 1u << 20;
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

  // Splits off every complete message of buffer (from its front, terminated
  // by CR LF) and hands each to take, in order; returns how many bytes were
  // consumed. take returns false to stop early. Shared with the fuzz target.
  template <typename Take> static std::size_t SplitMessages(std::string_view buffer, Take &&take);
  // One relay message into its route and payload ("ALL|x" → "ALL", "x"; no
  // "|" → "", the whole message).
  static void SplitRoute(std::string_view message, std::string_view &route,
                         std::string_view &payload);
  // An event record into the variables EVENT sets; returns the event name.
  struct EventFields {
    std::string Name, Address, Port, Id, Data, Error;
    bool HasData = false;
    bool IsError = false;
  };
  static EventFields ParseEventRecord(std::string_view record);

private:
  struct Connection;

  void ServerData(platform::socket_t s);
  void ClientData(platform::socket_t s);
  // Without relay framing every chunk is one NETWORK report.
  void RawData(const Connection &conn, const std::string &chunk);
  void RelayMessage(platform::socket_t s, const std::shared_ptr<Connection> &conn,
                    std::string_view message);
  void Accepted(platform::socket_t s);
  void ServerClosed(platform::socket_t s);
  void Connected(platform::socket_t s);
  void ClientClosed(platform::socket_t s);
  void Failed(const std::string &message);

  void Queue(std::string record);
  void ReleasePeers();
  void Report(const char *name, const Connection &conn);
  void ReportNetwork(const Connection &conn, std::string_view data);
  void DropServerConnection(platform::socket_t s);
  void Overflow(platform::socket_t s, const std::shared_ptr<Connection> &conn);
  void ForgetConnections();
  std::shared_ptr<Connection> ConnectionOf(platform::socket_t s);
  std::shared_ptr<Connection> Describe(TCustomWSocket &socket, platform::socket_t s);

  void Close();
  void SendAll(const std::string &text);
  void SendServer(const std::string &text);
  void SendId(const std::string &id, const std::string &text);
  void SendAddr(const std::string &address, const std::string &text);
  void CloseId(const std::string &id);
  void CloseAddr(const std::string &address);
  std::string Status() const;
  std::string TakeData();
  std::string TakeEvent();

  Library &lib_;
  bool serverRole_ = false;
  bool autoMode_ = true;
  std::string terminator_ = "\r\n";
  bool hostEvents_ = true;
  std::string socketData_;
  std::string senderAddr_, senderPort_, senderId_;
  std::string socketErrorText_;
  std::unordered_map<platform::socket_t, std::shared_ptr<Connection>> connections_;
  std::shared_ptr<Connection> clientConnection_;
  // Set while the queue is full: reads that came meanwhile were left
  // unanswered, and the connections they belong to wait here.
  bool peersHeld_ = false;
  std::vector<platform::socket_t> heldReads_;
  bool clientHeld_ = false;
};

template <typename Take>
std::size_t SocketFamily::SplitMessages(std::string_view buffer, Take &&take) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = buffer.find("\r\n", start);
    if (end == std::string_view::npos)
      return start;
    const std::string_view message = buffer.substr(start, end - start);
    start = end + 2;
    if (!take(message))
      return start;
  }
}
