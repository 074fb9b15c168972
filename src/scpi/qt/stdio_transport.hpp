#pragma once

#include <QSocketNotifier>
#include <QTimer>
#include <functional>

#include "scpi/instrument.hpp"
#include "scpi/line_splitter.hpp"

namespace talmir880::scpi {

// One session on standard input and output, for shell scripts: lines in,
// answers out, and at the end of input, once every command has run, done
// with status 0 when no error was queued during the session, 1 otherwise.
class StdioTransport {
 public:
  StdioTransport(Instrument& instrument, std::function<void(int status)> done);
  ~StdioTransport();
  StdioTransport(const StdioTransport&) = delete;
  StdioTransport& operator=(const StdioTransport&) = delete;

 private:
  static constexpr ClientId kSession = 1;

  void read();
  void finish_when_idle();

  Instrument& instrument_;
  std::function<void(int)> done_;
  QSocketNotifier input_;
  LineSplitter lines_;
  QTimer wait_;
};

}  // namespace talmir880::scpi
