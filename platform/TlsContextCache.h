#pragma once
// What both TLS back ends keep of TlsContexts: the context made for each of
// the last few settings used (OpenSSL's SSL_CTX, Schannel's credentials),
// the latest used first, each shared with the sessions made from it.
#include "platform/Tls.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

template <class Context> class TlsContextCache {
public:
  // The context kept for the settings, else one made by make (null with
  // error set when it cannot be); without a cache in the settings, always a
  // new one.
  template <class Make>
  std::shared_ptr<Context> static For(const TlsSettings &settings, std::string &error,
                                      TlsContextCache *cache, Make make) {
    if (!cache)
      return make(settings, error);
    const std::lock_guard<std::mutex> hold(cache->lock_);
    auto &kept = cache->kept_;
    const auto same = std::find_if(kept.begin(), kept.end(), [&](const Entry &e) {
      return e.Verify == settings.Verify && e.CaFile == settings.CaFile;
    });
    if (same != kept.end()) {
      std::rotate(kept.begin(), same, same + 1);
      return kept.front().Made;
    }
    std::shared_ptr<Context> made = make(settings, error);
    if (!made)
      return nullptr;
    if (kept.size() == Most)
      kept.pop_back();
    kept.insert(kept.begin(), Entry{settings.Verify, settings.CaFile, made});
    return made;
  }

private:
  struct Entry {
    bool Verify;
    std::string CaFile;
    std::shared_ptr<Context> Made;
  };
  // A handful of settings at most.
  static constexpr std::size_t Most = 4;
  std::mutex lock_;
  std::vector<Entry> kept_;
};

} // namespace platform
