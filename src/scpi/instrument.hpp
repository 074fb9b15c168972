#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "link/countdown.hpp"
#include "link/serial_port.hpp"
#include "scpi/command_tree.hpp"
#include "scpi/generator.hpp"
#include "scpi/status.hpp"

namespace talmir880::scpi {

// A connection of the transport; ids are not reused.
using ClientId = std::uint64_t;

// The TALMIR-880 as one SCPI instrument shared by every client, with no
// clock, socket or thread of its own.
//
// Lines from all clients run one at a time in the order they arrived; each
// answer goes to the client whose line asked. A query needs no device and
// answers, in its turn, from what the device has acknowledged. A device
// command waits for its acknowledgement before anything later runs. While a
// sweep pass runs, a line that needs the device (and *WAI, *OPC?) waits for
// the pass to end, and everything after it waits too, so order is kept; of a
// continuous sweep, that line runs to its end before the next pass starts.
//
// A command error (-1xx) drops the rest of its line; any other error only
// its own command.
//
// The owner sets CommPort and Settings on the port, runs both countdowns
// (kAcknowledgeTimeout and kSweepStallTimeout) and calls the matching
// *_ran_out() when one runs out; the port's events come here by themselves.
class Instrument {
 public:
  // Lines a client may have waiting or running. Past it submit() refuses
  // (-363): the transport stops reading a client at its cap and reads on at
  // room().
  static constexpr std::size_t kMaxBacklog = 16;

  Instrument(SerialPort& port, Countdown& watchdog, Countdown& stall);
  Instrument(const Instrument&) = delete;
  Instrument& operator=(const Instrument&) = delete;

  // One complete input line, without its LF (and the CR before it).
  void submit(ClientId client, std::string line);
  // The client sent a line too long to keep; the transport dropped it. In
  // its turn it queues -363.
  void overrun(ClientId client);
  // The client has gone: its waiting lines are dropped, a device command of
  // its line already on the wire completes, its answers are discarded.
  void forget(ClientId client);
  std::size_t backlog(ClientId client) const;

  void watchdog_ran_out();
  void stall_ran_out();

  // Nothing waiting or running and no device command on the wire. A sweep
  // pass may still run: the device finishes it alone.
  bool idle() const;
  // Whether any error was queued since start, read since or not.
  bool error_seen() const { return status_.any_error(); }

  // One answer line, without its LF: a line's answers joined by ';'.
  std::function<void(ClientId, std::string)> answer;
  // A line of the client has finished: it may have room for more.
  std::function<void(ClientId)> room;

 private:
  struct Waiting {
    ClientId client;
    std::string line;
    bool overrun;
  };
  struct Running {
    ClientId client = 0;
    std::string line;
    std::vector<std::string_view> units;  // into line
    std::size_t next = 0;
    HeaderPath path;
    std::string answers;
    bool forgotten = false;
    bool held = false;
  };

  void pump();
  void start_line();
  void run_unit();
  void finish_line();

  Status status_;
  Generator generator_;
  std::deque<Waiting> waiting_;
  std::unordered_map<ClientId, std::size_t> backlog_;
  // Never moved: its units point into its line.
  std::optional<Running> running_;
  bool pumping_ = false;
};

}  // namespace talmir880::scpi
