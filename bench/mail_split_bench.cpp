// The split of a retrieved message into its parts on its own, without the
// network: bench/mail.sh sets it beside GETMAIL (retrieve and split) and
// curl (retrieve only), so the gap between the two reads against the work
// curl does not do. The message is taken in as GETMAIL keeps it (one text,
// a line at a time), then split the way GETMAIL splits it (base64 parts
// left encoded where they stand, for SAVEATTACHMENT to decode).
//   mail_split_bench MESSAGE-FILE ATTACHMENT-FILE [RUNS]
// Checks that the split gives the attachment back byte for byte and prints
// "take-in-ms split-ms take-in-cpu-ms split-cpu-ms", the medians of the runs
// in wall time and in processor time (on a busy machine the wall time holds
// the waits for a processor as well).
#include "ip_misc/TLineText.h"
#include "ip_misc/ip_misc.h"
#include "tcpip/T_Mime.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string ReadFile(const std::string &name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", name.c_str());
    std::exit(2);
  }
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The lines as the connection hands them over: without their line ends.
void TakeIn(std::string_view message, TLineText &text) {
  text.Clear();
  text.Reserve(message.size());
  while (!message.empty()) {
    const std::size_t end = message.find('\n');
    std::string_view line = message.substr(0, end);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    text.Append(line);
    message.remove_prefix(end == std::string_view::npos ? message.size() : end + 1);
  }
}

struct Clocks {
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  std::clock_t cpu = std::clock();
  // Milliseconds since the start, wall and processor.
  void Add(std::vector<double> &walls, std::vector<double> &cpus) const {
    walls.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall).count());
    cpus.push_back(static_cast<double>(std::clock() - cpu) * 1000.0 / CLOCKS_PER_SEC);
  }
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: mail_split_bench MESSAGE-FILE ATTACHMENT-FILE [RUNS]\n");
    return 2;
  }
  const std::string message = ReadFile(argv[1]);
  const std::string attachment = ReadFile(argv[2]);
  const int runs = std::max(1, argc > 3 ? std::atoi(argv[3]) : 5);
  std::vector<double> takeIn, split, takeInCpu, splitCpu;
  for (int i = 0; i < runs; ++i) {
    TLineText text;
    const Clocks takingIn;
    TakeIn(message, text);
    takingIn.Add(takeIn, takeInCpu);
    T_Mime mime;
    const Clocks splitting;
    T_Mime::Parser(mime, T_Mime::Base64Parts::LeftEncoded).End(text);
    splitting.Add(split, splitCpu);
    const auto isAttachment = [&](const auto &part) {
      if (!part->Encoded)
        return false;
      std::string decoded;
      TBase64LineDecoder().Decode(text, part->Encoded->First, part->Encoded->Last, decoded);
      return decoded == attachment;
    };
    const bool found = std::any_of(mime.Attachments.begin(), mime.Attachments.end(), isAttachment);
    if (!found) {
      std::fprintf(stderr, "the split did not give the attachment back\n");
      return 1;
    }
  }
  std::printf("%.1f %.1f %.1f %.1f\n", Median(takeIn), Median(split), Median(takeInCpu),
              Median(splitCpu));
  return 0;
}
