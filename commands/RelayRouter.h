#pragma once
// The relay's rules apart from sockets: received bytes become messages
// terminated by CR LF, a message's route word sends it on to every
// connection, to one by its id or to those at one address, and a message
// that never ends is refused past a limit. The router sees the server's
// connections only as RelayRouter::Connections.
#include "platform/Socket.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class RelayRouter {
public:
  // Unterminated input past this is not a message but a fault: Receive
  // refuses it.
  static constexpr std::size_t MaxMessage = 1u << 20;

  enum class TRoute { All, Id, Address, Server, None };
  // Where a message goes: Target is the id of TRoute::Id and the address of
  // TRoute::Address.
  struct TWhich {
    TRoute Route = TRoute::None;
    std::string_view Target;
  };
  // A received message split at its separators: the route word before the
  // first "|" (TRoute::None for any other word, or none); for ID and ADDR
  // the target before the first ";" after it. Text is what goes on: after
  // the target, else after the first "|", else the whole message.
  struct TMessage {
    TWhich Which;
    std::string_view Text;
  };

  // The connections a router sends to, as a server has them.
  class Connections {
  public:
    virtual ~Connections() = default;
    // The ids of the current connections, in accept order.
    virtual void Ids(std::vector<platform::socket_t> &ids) const = 0;
    // A current connection's address; null when id is none.
    virtual const std::string *AddressOf(platform::socket_t id) const = 0;
    // Writes to one connection; an id that is no current connection is
    // reported by the server. May run handlers that close connections.
    virtual void WriteTo(platform::socket_t id, std::string_view text) = 0;
  };

  explicit RelayRouter(Connections &connections) : connections_(connections) {}

  // Relay framing: on, every message sent ends with CR LF and received
  // bytes are cut into messages; off, text goes as it is.
  bool Framing() const { return framing_; }
  void SetFraming(bool on) { framing_ = on; }
  std::string_view Terminator() const { return framing_ ? "\r\n" : ""; }

  // Sends text and the terminator to every connection which names, in
  // accept order: all of them, the one whose id is the target (read as a
  // number: EConvertError when it is none, and nothing is sent), or those
  // at the target address.
  void SendTo(TWhich which, std::string_view text);
  // The message a client sends for the server to route: "ID|7;text" CR LF,
  // "ALL|text" CR LF, ...
  static std::string Envelope(TWhich which, std::string_view text);
  static TMessage Parse(std::string_view message);
  // Sends a received message on as its route says; returns what the server
  // itself is to hear of it: ALL, SERVER and unrouted messages, not ID and
  // ADDR ones. Raises as SendTo.
  std::optional<TMessage> Relay(std::string_view message);

  // Adds chunk to a connection's unfinished input and hands every message
  // it completes to take, in order, while take returns true. input gives
  // the connection's input, or null once the connection is gone (take may
  // run handlers that close it); what take left unhandled stays in front of
  // anything added meanwhile. Returns false when the unfinished rest has
  // grown past MaxMessage: the input is then emptied.
  static bool Receive(const std::function<std::string *()> &input, std::string_view chunk,
                      const std::function<bool(std::string_view)> &take);
  // Splits off every complete message of buffer (from its front) and hands
  // each to take, in order, until take returns false; returns how many
  // bytes were consumed.
  template <typename Take> static std::size_t SplitMessages(std::string_view buffer, Take &&take);

private:
  Connections &connections_;
  bool framing_ = true;
};

template <typename Take>
std::size_t RelayRouter::SplitMessages(std::string_view buffer, Take &&take) {
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
