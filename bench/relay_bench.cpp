// Load driver of the relay benchmark: connects clients to a relay server,
// sends CR LF framed relay messages as fast as the server takes them, and
// counts what the clients receive. Two phases: every one of ALL_CLIENTS
// clients sends to ALL (each message reaches every client), then PAIRS pairs
// of clients send to each other by id. Prints delivered messages per second.
//
//   relay_bench PORT DELIVERIES [ALL_CLIENTS PAIRS]
// DELIVERIES messages are delivered in all, half in each phase.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Client {
  int Fd = -1;
  std::string Id;
  std::string Out;      // messages still to send, preformatted
  std::size_t Sent = 0; // bytes of Out written
  long Expected = 0;    // messages still to arrive
  char Last = 0;        // last byte received, to find CR LF across reads
  std::string Pending;  // partial greeting line
};

int ConnectTo(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
    std::perror("connect");
    std::exit(1);
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// Reads the greeting "id:N" CR LF (blocking).
std::string Greeting(int fd) {
  std::string line;
  char c;
  while (::read(fd, &c, 1) == 1) {
    if (c == '\n')
      break;
    if (c != '\r')
      line += c;
  }
  if (line.rfind("id:", 0) != 0) {
    std::fprintf(stderr, "bad greeting '%s'\n", line.c_str());
    std::exit(1);
  }
  return line.substr(3);
}

double RunPhase(std::vector<Client> &clients, int timeoutSeconds) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::vector<pollfd> fds(clients.size());
  std::vector<char> buffer(1 << 16);
  for (;;) {
    bool busy = false;
    for (std::size_t i = 0; i < clients.size(); ++i) {
      Client &c = clients[i];
      fds[i].fd = c.Fd;
      fds[i].events = static_cast<short>((c.Expected > 0 ? POLLIN : 0) |
                                         (c.Sent < c.Out.size() ? POLLOUT : 0));
      busy = busy || fds[i].events != 0;
    }
    if (!busy)
      break;
    if (Clock::now() - start > std::chrono::seconds(timeoutSeconds)) {
      std::fprintf(stderr, "phase timed out\n");
      std::exit(1);
    }
    if (::poll(fds.data(), fds.size(), 1000) < 0)
      continue;
    for (std::size_t i = 0; i < clients.size(); ++i) {
      Client &c = clients[i];
      if (fds[i].revents & POLLOUT) {
        const std::size_t chunk = std::min<std::size_t>(c.Out.size() - c.Sent, 16384);
        const ssize_t n = ::send(c.Fd, c.Out.data() + c.Sent, chunk, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0)
          c.Sent += static_cast<std::size_t>(n);
      }
      if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
        const ssize_t n = ::recv(c.Fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n == 0) {
          std::fprintf(stderr, "server closed a connection\n");
          std::exit(1);
        }
        for (ssize_t k = 0; k < n; ++k) {
          if (buffer[static_cast<std::size_t>(k)] == '\n' && c.Last == '\r')
            --c.Expected;
          c.Last = buffer[static_cast<std::size_t>(k)];
        }
      }
    }
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: relay_bench PORT DELIVERIES [ALL_CLIENTS PAIRS]\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const long deliveries = std::atol(argv[2]);
  const int allClients = argc > 3 ? std::atoi(argv[3]) : 10;
  const int pairs = argc > 4 ? std::atoi(argv[4]) : 10;

  // Phase 1: every client sends to ALL; each message reaches every client.
  std::vector<Client> group(static_cast<std::size_t>(allClients));
  for (Client &c : group) {
    c.Fd = ConnectTo(port);
    c.Id = Greeting(c.Fd);
  }
  const long perSender = deliveries / 2 / allClients / allClients;
  for (Client &c : group) {
    for (long m = 0; m < perSender; ++m)
      c.Out += "ALL|m" + std::to_string(m) + " from " + c.Id + "\r\n";
    c.Expected = perSender * allClients;
  }
  const double allSeconds = RunPhase(group, 300);
  const long allDelivered = perSender * allClients * allClients;
  for (Client &c : group)
    ::close(c.Fd);

  if (pairs == 0) {
    std::printf("all %ld %.3f %.0f\n", allDelivered, allSeconds,
                static_cast<double>(allDelivered) / allSeconds);
    return 0;
  }

  // Phase 2: pairs of clients send to each other by id.
  std::vector<Client> pairClients(static_cast<std::size_t>(2 * pairs));
  for (Client &c : pairClients) {
    c.Fd = ConnectTo(port);
    c.Id = Greeting(c.Fd);
  }
  const long perPeer = deliveries / 2 / (2 * pairs);
  for (std::size_t i = 0; i < pairClients.size(); ++i) {
    Client &c = pairClients[i];
    const std::string &partner = pairClients[i ^ 1].Id;
    for (long m = 0; m < perPeer; ++m)
      c.Out += "ID|" + partner + ";m" + std::to_string(m) + "\r\n";
    c.Expected = perPeer;
  }
  const double idSeconds = RunPhase(pairClients, 300);
  const long idDelivered = perPeer * 2 * pairs;
  for (Client &c : pairClients)
    ::close(c.Fd);

  const double total = static_cast<double>(allDelivered + idDelivered) / (allSeconds + idSeconds);
  std::printf("all %ld %.3f %.0f\n", allDelivered, allSeconds, static_cast<double>(allDelivered) / allSeconds);
  std::printf("id %ld %.3f %.0f\n", idDelivered, idSeconds, static_cast<double>(idDelivered) / idSeconds);
  std::printf("total %ld %.3f %.0f\n", allDelivered + idDelivered, allSeconds + idSeconds, total);
  return 0;
}
