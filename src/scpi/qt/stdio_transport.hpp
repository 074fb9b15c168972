#pragma once

#include <QSocketNotifier>
#include <functional>
#include <string>

#include "scpi/instrument.hpp"
#include "scpi/line_feeder.hpp"

namespace talmir880::scpi {

// One session on standard input and output, for shell scripts: lines in,
// answers out, every line run however fast they come (input is read only
// as the instrument has room), and at the end of input, once every line has
// run, the errors no one read go to standard error and it is done, with
// status 0 when no error was queued, 1 otherwise.
class StdioTransport final : public ClientEvents {
 public:
  StdioTransport(Instrument& instrument, std::function<void(int status)> done);
  ~StdioTransport() override;
  StdioTransport(const StdioTransport&) = delete;
  StdioTransport& operator=(const StdioTransport&) = delete;

 private:
  void answer(std::string text) override;
  void room() override;
  void finished() override;

  void read();
  // Feeds what was read, a line at a time, while the instrument has room.
  void feed();

  Instrument& instrument_;
  std::function<void(int)> done_;
  QSocketNotifier input_;
  LineFeeder lines_{instrument_};
  std::string unfed_;
  ClientId session_ = 0;
  bool ended_ = false;
  bool told_end_ = false;
};

}  // namespace talmir880::scpi
