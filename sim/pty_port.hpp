#pragma once

// The simulator's end of the line: a pseudo-terminal linked as COM<n> in the
// ports folder, with a lock file that keeps a second simulator off the same
// port. The link and the lock file go when this object does.

#include <stdexcept>
#include <string>

namespace talmir880::sim {

// COM<n> belongs to another simulator that is still running.
class PortHeld : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PtyPort {
 public:
  // Throws PortHeld, or std::runtime_error for any other failure.
  explicit PtyPort(int port);
  ~PtyPort();
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  int master() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }
  const std::string& link_path() const { return link_path_; }

  // Closes the pseudo-terminal, so the panel sees the device go, and removes
  // the link. The lock is kept until this object goes.
  void vanish();

 private:
  void take_lock(const std::string& name);
  bool holds_named_lock() const;
  void release_lock();
  void remove_link();

  std::string lock_path_;
  int lock_ = -1;
  int master_ = -1;
  int slave_ = -1;
  bool linked_ = false;
  std::string slave_path_;
  std::string link_path_;
};

}  // namespace talmir880::sim
