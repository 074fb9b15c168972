#pragma once

#include <QSocketNotifier>
#include <functional>
#include <string>

#include "scpi/instrument.hpp"
#include "scpi/line_splitter.hpp"

namespace talmir880::scpi {

// One session on standard input and output, for shell scripts: lines in,
// answers out, every line run however fast they come (input is read only
// as the instrument has room), and at the end of input, once every line has
// run, done with status 0 when no error was queued, 1 otherwise.
class StdioTransport {
 public:
  StdioTransport(Instrument& instrument, std::function<void(int status)> done);
  ~StdioTransport();
  StdioTransport(const StdioTransport&) = delete;
  StdioTransport& operator=(const StdioTransport&) = delete;

 private:
  static constexpr ClientId kSession = 1;

  void read();
  // Feeds what was read, a line at a time, while the instrument has room.
  void feed();
  void finish_when_idle();

  Instrument& instrument_;
  std::function<void(int)> done_;
  QSocketNotifier input_;
  LineSplitter lines_;
  std::string unfed_;
  bool ended_ = false;
  bool finished_ = false;
};

}  // namespace talmir880::scpi
