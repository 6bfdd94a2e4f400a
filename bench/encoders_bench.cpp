// Times the coders on the files that bench/encoders.sh prepares and checks
// that their results are the expected ones. Prints "job seconds" lines, the
// best of several runs each.
#include "ip_misc/Errors.h"
#include "ip_misc/ip_misc.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace {

std::string ReadFile(const std::string &name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", name.c_str());
    std::exit(2);
  }
  return std::string(std::istreambuf_iterator<char>(in), {});
}

double Best(int runs, const std::function<void()> &job) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    job();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

void Check(bool ok, const char *what) {
  if (!ok) {
    std::fprintf(stderr, "wrong result: %s\n", what);
    std::exit(1);
  }
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: encoders_bench DIR JOB [RUNS]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::string job = argv[2];
  const int runs = argc > 3 ? std::atoi(argv[3]) : 1;
  const std::string binary = ReadFile(dir + "/binary.bin");
  std::string out;
  double t = 0;
  if (job == "base64-encode") {
    t = Best(runs, [&] { out = Base64Encode(binary); });
    Check(out == ReadFile(dir + "/base64-flat.txt"), "base64 encode");
  } else if (job == "base64-encode-lines") {
    TStringList lines;
    t = Best(runs, [&] {
      TMemoryStream stream;
      stream.Assign(binary);
      lines = EncodeBase64Lines(stream);
    });
    Check(lines.size() == (binary.size() + 44) / 45 && lines.front().size() == 60, "base64 lines");
  } else if (job == "base64-decode") {
    const std::string base64 = ReadFile(dir + "/base64.txt");
    t = Best(runs, [&] { out = Base64DecodeText(base64); });
    Check(out == binary, "base64 decode");
  } else if (job == "qp-encode") {
    const std::string text = ReadFile(dir + "/text.txt");
    t = Best(runs, [&] { out = QPEncodeText(text); });
    Check(out.size() >= text.size(), "quoted-printable encode");
  } else if (job == "url-decode") {
    const std::string form = ReadFile(dir + "/form.txt");
    t = Best(runs, [&] { out = UrlDecode(form); });
    Check(out == ReadFile(dir + "/text.txt"), "URL decode");
  } else {
    std::fprintf(stderr, "unknown job %s\n", job.c_str());
    return 2;
  }
  std::printf("%.6f\n", t);
  return 0;
}
