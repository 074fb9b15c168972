#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "scpi/instrument.hpp"
#include "scpi/line_feeder.hpp"
#include "vxi11/messages.hpp"

namespace talmir880::vxi11 {

struct Call;

using Clock = std::chrono::steady_clock;
using ConnectionId = std::uint64_t;

// Where the channel sends what concerns one connection. It may call these
// from inside any of its own calls and from the instrument's events; the
// transport must not call back into the channel from them.
class ConnectionEvents {
 public:
  virtual ~ConnectionEvents() = default;
  // One RPC reply, without record marking, in the order of the calls.
  virtual void reply(std::string message) = 0;
  // A link of the connection left more than kMaxUnread of answers unread:
  // drop the connection, as the raw socket drops such a client.
  virtual void overflow() {}
};

// VXI-11's core channel on the SCPI instrument. Each link is a client of
// the instrument like a TCP connection: its lines run in arrival order with
// everyone else's, it reads only its own answers, and the instrument's cap
// on clients counts it. A call that has to wait (a read before its answer,
// a write past the client's backlog, an operation while another link holds
// the lock) stays open until it can go on or its time runs out; the
// connection's next call waits behind it, so replies keep their order.
//
// Time comes from the caller: the time a call arrived, and tick() at
// next_deadline() or later.
//
// Its member functions by job: connections and the dispatch of a call
// (core_channel.cpp), RPC decoding (core_channel_rpc.cpp), the link table
// (core_channel_links.cpp), the device lock (core_channel_lock.cpp), what a
// link writes and reads (core_channel_io.cpp), calls parked until they can
// go on (core_channel_waits.cpp).
class CoreChannel {
 public:
  static constexpr std::size_t kMaxUnread = 1024 * 1024;

  // Device inst<i> is instruments[i], each with its own lock.
  explicit CoreChannel(std::vector<scpi::Instrument*> instruments);
  explicit CoreChannel(scpi::Instrument& instrument)
      : CoreChannel(std::vector<scpi::Instrument*>{&instrument}) {}
  ~CoreChannel();
  CoreChannel(const CoreChannel&) = delete;
  CoreChannel& operator=(const CoreChannel&) = delete;

  // A connection from `who` (its address and port, for the log), whose
  // links are clients of the instrument.
  ConnectionId open(ConnectionEvents& events, std::string who = {});
  // One RPC message of the connection.
  void call(ConnectionId connection, std::string_view message, Clock::time_point now);
  // A call of the connection is still open: hold its next one.
  bool busy(ConnectionId connection) const;
  // The connection has gone: its open call is dropped, its links end (their
  // complete lines still run) and a lock they held is released.
  void close(ConnectionId connection);

  void tick(Clock::time_point now);
  std::optional<Clock::time_point> next_deadline() const;

  std::size_t links() const { return links_.size(); }

 private:
  class LinkEvents;
  struct Link {
    std::size_t device = 0;
    scpi::Instrument* instrument = nullptr;
    ConnectionId connection = 0;
    ClientId client = 0;
    std::unique_ptr<LinkEvents> events;
    std::unique_ptr<scpi::LineFeeder> input;
    std::deque<std::string> output;  // answers, each with its LF
    std::size_t output_read = 0;     // of the first
    std::size_t output_bytes = 0;
  };
  enum class Blocked { no, lock, io };
  using Parms =
      std::variant<CreateLinkParms, WriteParms, ReadParms, GenericParms, LockParms, LinkParms>;
  struct Open {
    std::uint32_t xid = 0;
    std::uint32_t proc = 0;
    Parms parms;
    Clock::time_point lock_deadline;
    Clock::time_point io_deadline;
    std::size_t written = 0;  // device_write: the bytes taken so far
    Blocked blocked = Blocked::no;
  };
  struct Connection {
    ConnectionEvents* events = nullptr;
    std::string who;
    std::optional<Open> open;
    bool overflowed = false;
  };

  std::optional<Open> opened(std::string_view message, Clock::time_point now, std::string& reply);
  static bool read_envelope(std::string_view message, Call& call, std::string& reply);
  static bool read_parms(const Call& call, Open& open, std::string& reply);
  // The reply's results, or nothing with open.blocked set.
  std::optional<std::string> attempt(ConnectionId id, Open& open);
  std::optional<std::string> create_link(ConnectionId id, Open& open, const CreateLinkParms& p);
  std::optional<std::string> write(Link& link, Open& open, const WriteParms& p);
  std::optional<std::string> read(Link& link, Open& open, const ReadParms& p);
  std::optional<std::string> generic(Link& link, Open& open);
  std::string unlock(const Link& link, std::int32_t lid);
  std::string destroy_link(std::int32_t lid);
  // The results of the call's procedure carrying only an error.
  static std::string failure(const Open& open, std::int32_t error);
  std::optional<std::string> lock_refused(const Open& open);
  // Whether another link's lock keeps this one out; sets open.blocked when
  // the call may wait for it.
  bool locked_out(const Link& link, std::int32_t lid, std::int32_t flags, Open& open);
  Link* link_of(ConnectionId id, std::int32_t lid);
  void end_link(std::int32_t lid, bool orderly);
  void answered(std::int32_t lid, std::string text);

  void finish(ConnectionId id, std::string reply);
  void expire(Clock::time_point now);
  // Open calls that an answer, room or a released lock may let go on.
  void settle();
  void retry();

  std::vector<scpi::Instrument*> instruments_;
  std::map<ConnectionId, Connection> connections_;
  std::map<std::int32_t, Link> links_;
  std::vector<std::optional<std::int32_t>> lock_holders_;  // by device
  ConnectionId next_connection_ = 1;
  std::int32_t next_lid_ = 1;
  bool dirty_ = false;
};

// A link as a client of the instrument: its answers and its room come back
// to the channel.
class CoreChannel::LinkEvents final : public scpi::ClientEvents {
 public:
  LinkEvents(CoreChannel& channel, std::int32_t lid) : channel_(channel), lid_(lid) {}
  void answer(std::string text) override { channel_.answered(lid_, std::move(text)); }
  void room() override { channel_.settle(); }

 private:
  CoreChannel& channel_;
  std::int32_t lid_;
};

}  // namespace talmir880::vxi11
