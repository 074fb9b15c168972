// VXI-11's core channel fed untrusted TCP streams: record marking, the RPC
// envelope, the VXI-11 structures and the procedures on the real instrument
// over a fake port, with time moved by the input.
//
// The input is a script of steps, each an opcode byte and its operands:
//   0-2  n, then n bytes: bytes that arrive on connection (op)
//   3    t: time moves on by t * 32 ms and the channel's deadlines are checked
//   4    the device acknowledges every command it waits on
//   5    c: connection c % 3 goes away and a new one takes its place
//   6    n: the device reports n sweep points
//   7    the watchdog runs out (a silent device)
// Any other opcode does nothing. As the transport does, a connection's
// bytes are read only while none of its calls is open.
//
// Checked after every step: each call gets at most one reply, and each
// reply is an RPC reply to it; links never outnumber the instrument's
// clients; a record reader that failed has its connection dropped. At the
// end, with a willing device and time far ahead, no call is left open, and
// with every connection gone no link is left.

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "scpi/instrument.hpp"
#include "support/fake_serial_port.hpp"
#include "support/manual_countdown.hpp"
#include "vxi11/core_channel.hpp"
#include "vxi11/record_marking.hpp"

namespace {

using talmir880::fuzzing::check;
using talmir880::fuzzing::shown;
using namespace talmir880::vxi11;

constexpr std::size_t kConnections = 3;
constexpr std::size_t kMaxSteps = 4000;

std::uint32_t word_at(std::string_view bytes, std::size_t index) {
  std::uint32_t w = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    w = (w << 8) | static_cast<unsigned char>(bytes[4 * index + i]);
  }
  return w;
}

struct Peer final : ConnectionEvents {
  void reply(std::string message) override {
    check(expecting, "a reply comes only to an open call", shown(message));
    check(message.size() >= 12, "a reply has its xid, REPLY and a status", shown(message));
    check(word_at(message, 0) == xid, "a reply carries its call's xid", shown(message));
    check(word_at(message, 1) == 1, "a reply is marked REPLY", shown(message));
    check(message.size() <= CoreChannel::kMaxUnread + 1024, "a reply is bounded");
    expecting = false;
  }
  void overflow() override { overflowed = true; }

  ConnectionId id = 0;
  RecordReader records;
  std::string inbox;  // arrived, not read yet
  std::uint32_t xid = 0;
  bool expecting = false;
  bool overflowed = false;
};

class Session {
 public:
  Session() {
    watchdog_.ran_out = [this] { instrument_.watchdog_ran_out(); };
    stall_.ran_out = [this] { instrument_.stall_ran_out(); };
    quiet_.ran_out = [this] { instrument_.quiet_ran_out(); };
    reopen_.ran_out = [this] { instrument_.reopen_ran_out(); };
    for (std::size_t i = 0; i < kConnections; ++i) reconnect(i);
  }
  ~Session() {
    for (std::size_t i = 0; i < kConnections; ++i) channel_.close(peers_[i].id);
  }

  void arrive(std::size_t i, std::string_view bytes) {
    peers_[i].inbox.append(bytes);
    pump();
  }
  void later(std::uint64_t ms) {
    now_ += std::chrono::milliseconds(ms);
    channel_.tick(now_);
    pump();
  }
  void acknowledge_all() {
    for (int n = 0; n < 10000 && watchdog_.running(); ++n) port_.receive("R");
    pump();
  }
  void drop(std::size_t i) {
    channel_.close(peers_[i].id);
    reconnect(i);
    check_links();
  }
  void points(std::size_t n) {
    port_.receive(std::string(4 * n, '.'));
    quiet_.run_out();
    pump();
  }
  void silence() {
    watchdog_.run_out();
    pump();
  }

  void finish() {
    for (int round = 0; round < 100; ++round) {
      acknowledge_all();
      stall_.run_out();
      quiet_.run_out();
      reopen_.run_out();
      later(std::uint64_t{50} * 24 * 3600 * 1000);
    }
    for (std::size_t i = 0; i < kConnections; ++i) {
      check(!channel_.busy(peers_[i].id), "no call waits past every deadline");
    }
    for (std::size_t i = 0; i < kConnections; ++i) channel_.close(peers_[i].id);
    check(channel_.links() == 0, "no link outlives its connection");
    for (std::size_t i = 0; i < kConnections; ++i) reconnect(i);
  }

 private:
  void reconnect(std::size_t i) {
    peers_[i] = Peer{};
    peers_[i].id = channel_.open(peers_[i]);
  }

  // Each connection read as the transport reads it.
  void pump() {
    bool moved = true;
    while (moved) {
      moved = false;
      for (std::size_t i = 0; i < kConnections; ++i) {
        Peer& peer = peers_[i];
        if (peer.overflowed || peer.records.failed()) {
          drop(i);
          moved = true;
          continue;
        }
        if (peer.inbox.empty() || channel_.busy(peer.id)) continue;
        const std::size_t used = peer.records.feed(peer.inbox);
        check(used <= peer.inbox.size(), "the reader takes no more than it is given");
        peer.inbox.erase(0, used);
        moved = moved || used > 0;
        if (!peer.records.has_record()) continue;
        const std::string record = peer.records.take_record();
        check(record.size() <= RecordReader::kMaxRecord, "a record is bounded");
        peer.xid = record.size() >= 4 ? word_at(record, 0) : 0;
        peer.expecting = true;
        channel_.call(peer.id, record, now_);
        talmir880::testing::deliver();
        // Not a call, or unreadable: no reply, and none may come later.
        if (!channel_.busy(peer.id)) peer.expecting = false;
        check_links();
      }
    }
  }

  void check_links() {
    check(channel_.links() <= talmir880::scpi::Instrument::kMaxClients,
          "links never outnumber the instrument's clients");
  }

  talmir880::testing::FakeSerialPort port_;
  talmir880::testing::ManualCountdown watchdog_;
  talmir880::testing::ManualCountdown stall_;
  talmir880::testing::ManualCountdown quiet_;
  talmir880::testing::ManualCountdown reopen_;
  talmir880::scpi::Instrument instrument_{port_, {watchdog_, stall_, quiet_, reopen_}};
  CoreChannel channel_{instrument_};
  std::array<Peer, kConnections> peers_;
  Clock::time_point now_{};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const auto byte = [&in]() -> std::uint8_t {
    if (in.empty()) return 0;
    const auto b = static_cast<std::uint8_t>(in.front());
    in.remove_prefix(1);
    return b;
  };
  Session session;
  for (std::size_t step = 0; step < kMaxSteps && !in.empty(); ++step) {
    const std::uint8_t op = byte();
    switch (op) {
      case 0:
      case 1:
      case 2: {
        const std::size_t n = std::min<std::size_t>(byte(), in.size());
        session.arrive(op, in.substr(0, n));
        in.remove_prefix(n);
        break;
      }
      case 3:
        session.later(32u * byte());
        break;
      case 4:
        session.acknowledge_all();
        break;
      case 5:
        session.drop(byte() % kConnections);
        break;
      case 6:
        session.points(byte());
        break;
      case 7:
        session.silence();
        break;
      default:
        break;
    }
  }
  session.finish();
  return 0;
}
