// C++ code on the installed classes' headers and archive.
#include "ip_misc/ip_misc.h"

#include <cstdio>

int main() {
  std::printf("%s\n", Base64Encode("scriptnet").c_str());
  return 0;
}
