// The split of a retrieved message into its parts on its own, without the
// network: bench/mail.sh sets it beside GETMAIL (retrieve and split) and
// curl (retrieve only), so the gap between the two reads against the work
// curl does not do. The message is taken in as GETMAIL keeps it (one text,
// a line at a time), then split the way GETMAIL splits it.
//   mail_split_bench MESSAGE-FILE ATTACHMENT-FILE [RUNS]
// Checks that the split gives the attachment back byte for byte and prints
// "take-in-ms split-ms", the median of the runs of each.
#include "ip_misc/TLineText.h"
#include "tcpip/T_Mime.h"

#include <algorithm>
#include <chrono>
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

double Milliseconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
      .count();
}

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
  std::vector<double> takeIn, split;
  for (int i = 0; i < runs; ++i) {
    TLineText text;
    auto start = std::chrono::steady_clock::now();
    TakeIn(message, text);
    takeIn.push_back(Milliseconds(start));
    T_Mime mime;
    start = std::chrono::steady_clock::now();
    mime.ParseText(text);
    split.push_back(Milliseconds(start));
    const bool found = std::any_of(mime.Attachments.begin(), mime.Attachments.end(),
                                   [&](const auto &part) {
                                     return part->Data.Bytes() == attachment;
                                   });
    if (!found) {
      std::fprintf(stderr, "the split did not give the attachment back\n");
      return 1;
    }
  }
  std::printf("%.1f %.1f\n", Median(takeIn), Median(split));
  return 0;
}
