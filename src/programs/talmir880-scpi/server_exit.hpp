#pragma once

// How the server ends, at a stop signal or when its session on standard
// input ends. With --off-at-exit the faces close, the lines already
// received run, then every generator's switch-off, then the loop ends; a
// second request ends it at once.

#include <cstddef>

#include "programs/talmir880-scpi/faces.hpp"
#include "programs/talmir880-scpi/options.hpp"

namespace talmir880::programs {

class ServerExit {
 public:
  ServerExit(const ServerOptions& options, ServedGenerators& generators, ServerFaces& faces)
      : options_(options), generators_(generators), faces_(faces) {}

  void request();

 private:
  const ServerOptions& options_;
  ServedGenerators& generators_;
  ServerFaces& faces_;
  bool stopping_ = false;
  std::size_t switching_off_ = 0;
};

}  // namespace talmir880::programs
