#include "commands/RelayRouter.h"

#include "ip_misc/Convert.h"

namespace {

constexpr std::string_view RouteWords[] = {"ALL", "ID", "ADDR", "SERVER"};

std::string_view RouteWord(RelayRouter::TRoute route) {
  return route == RelayRouter::TRoute::None ? std::string_view()
                                            : RouteWords[static_cast<int>(route)];
}

} // namespace

void RelayRouter::SendTo(TWhich which, std::string_view text) {
  std::string framed;
  framed.reserve(text.size() + 2);
  framed.append(text).append(Terminator());
  if (which.Route == TRoute::Id)
    return connections_.WriteTo(StrToInt(std::string(which.Target)), framed);
  std::vector<platform::socket_t> ids;
  connections_.Ids(ids);
  // A write may run handlers that close connections: each one is looked up
  // again before it is written to.
  for (const platform::socket_t id : ids) {
    const std::string *address = connections_.AddressOf(id);
    if (address && (which.Route == TRoute::All || *address == which.Target))
      connections_.WriteTo(id, framed);
  }
}

std::string RelayRouter::Envelope(TWhich which, std::string_view text) {
  std::string message(RouteWord(which.Route));
  message += '|';
  if (which.Route == TRoute::Id || which.Route == TRoute::Address)
    message.append(which.Target).append(";");
  message.append(text).append("\r\n");
  return message;
}

RelayRouter::TMessage RelayRouter::Parse(std::string_view message) {
  TMessage m;
  const std::size_t bar = message.find('|');
  if (bar == std::string_view::npos) {
    m.Text = message;
    return m;
  }
  const std::string_view word = message.substr(0, bar);
  m.Text = message.substr(bar + 1);
  for (const TRoute route : {TRoute::All, TRoute::Id, TRoute::Address, TRoute::Server})
    if (word == RouteWord(route))
      m.Which.Route = route;
  if (m.Which.Route == TRoute::Id || m.Which.Route == TRoute::Address) {
    const std::size_t semi = m.Text.find(';');
    if (semi != std::string_view::npos) {
      m.Which.Target = m.Text.substr(0, semi);
      m.Text.remove_prefix(semi + 1);
    }
  }
  return m;
}

std::optional<RelayRouter::TMessage> RelayRouter::Relay(std::string_view message) {
  const TMessage m = Parse(message);
  switch (m.Which.Route) {
  case TRoute::All: SendTo(m.Which, m.Text); return m;
  case TRoute::Id:
  case TRoute::Address: SendTo(m.Which, m.Text); return std::nullopt;
  case TRoute::Server:
  case TRoute::None: return m;
  }
  return m;
}

bool RelayRouter::Receive(const std::function<std::string *()> &input, std::string_view chunk,
                          const std::function<bool(std::string_view)> &take) {
  std::string *in = input();
  // Only the new bytes, and the one before them, can complete a message.
  const std::size_t scanFrom = in->empty() ? 0 : in->size() - 1;
  in->append(chunk);
  if (in->find("\r\n", scanFrom) != std::string::npos) {
    // Handled from a copy of its own: take may close the connection, or
    // add to its input (a handler that waits for more).
    std::string pending;
    pending.swap(*in);
    const std::size_t used = SplitMessages(pending, take);
    in = input();
    if (!in)
      return true;
    in->insert(0, pending, used);
  }
  if (in->size() <= MaxMessage)
    return true;
  std::string().swap(*in);
  return false;
}
