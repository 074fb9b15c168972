// The VXI-11 procedures on the real instrument, over a fake port, with time
// handed in by the test.
#include "vxi11/core_channel.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_serial_port.hpp"
#include "support/manual_countdown.hpp"
#include "vxi11/messages.hpp"
#include "vxi11/rpc.hpp"
#include "vxi11/xdr_words.hpp"

namespace talmir880::vxi11 {
namespace {

using namespace std::chrono_literals;
using testing::call_header;
using testing::Words;

std::uint32_t word_at(const std::string& bytes, std::size_t index) {
  std::uint32_t w = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    w = (w << 8) | static_cast<unsigned char>(bytes.at(4 * index + i));
  }
  return w;
}

class Client : public ConnectionEvents {
 public:
  void reply(std::string message) override { replies.push_back(std::move(message)); }
  void overflow() override { overflowed = true; }
  std::vector<std::string> replies;
  bool overflowed = false;
};

class CoreChannelTest : public ::testing::Test {
 protected:
  CoreChannelTest() {
    watchdog.ran_out = [this] { instrument.watchdog_ran_out(); };
    stall.ran_out = [this] { instrument.stall_ran_out(); };
    quiet.ran_out = [this] { instrument.quiet_ran_out(); };
    reopen.ran_out = [this] { instrument.reopen_ran_out(); };
  }

  // One call; its reply's results (after the six words of an accepted,
  // successful reply), or "(open)" while it waits.
  std::string call(ConnectionId id, std::uint32_t proc, const Words& args) {
    Client& client = clients.at(id - first);
    const std::size_t before = client.replies.size();
    const Words message = call_header(++xid, kDeviceCore, kDeviceCoreVersion, proc).raw(args);
    channel.call(id, message, now);
    talmir880::testing::deliver();
    if (client.replies.size() == before) return "(open)";
    return results(client.replies.back());
  }
  std::string results(const std::string& reply) {
    EXPECT_EQ(word_at(reply, 2), 0u) << "accepted";
    EXPECT_EQ(word_at(reply, 5), 0u) << "success";
    return reply.substr(24);
  }
  std::string last_results(ConnectionId id) {
    return results(clients.at(id - first).replies.back());
  }
  std::size_t replies(ConnectionId id) { return clients.at(id - first).replies.size(); }

  ConnectionId connect() {
    clients.emplace_back();
    return channel.open(clients.back());
  }
  std::int32_t link(ConnectionId id, const std::string& device = "inst0") {
    const std::string r = call(id, kCreateLink, Words{1, 0, 0}.opaque(device));
    EXPECT_EQ(word_at(r, 0), 0u);
    return static_cast<std::int32_t>(word_at(r, 1));
  }
  std::uint32_t write(ConnectionId id, std::int32_t lid, std::string data,
                      std::int32_t flags = kEnd, std::uint32_t lock_timeout = 0) {
    const std::string r = call(id, kDeviceWrite,
                               Words{static_cast<std::uint32_t>(lid), 1000, lock_timeout,
                                     static_cast<std::uint32_t>(flags)}
                                   .opaque(data));
    return r == "(open)" ? 0xffffffffu : word_at(r, 0);
  }
  // The error, the reason and the data of a read, as "error/reason/data".
  std::string read(ConnectionId id, std::int32_t lid, std::uint32_t size = 1024) {
    const std::string r =
        call(id, kDeviceRead, Words{static_cast<std::uint32_t>(lid), size, 1000, 0, 0, 0});
    return r == "(open)" ? r : read_results(r);
  }
  static std::string read_results(const std::string& r) {
    return std::to_string(word_at(r, 0)) + "/" + std::to_string(word_at(r, 1)) + "/" +
           r.substr(12, word_at(r, 2));
  }
  std::uint32_t generic(ConnectionId id, std::uint32_t proc, std::int32_t lid,
                        std::int32_t flags = 0) {
    const std::string r =
        call(id, proc,
             Words{static_cast<std::uint32_t>(lid), static_cast<std::uint32_t>(flags), 500, 1000});
    return r == "(open)" ? 0xffffffffu : word_at(r, 0);
  }
  void acknowledge_all() {
    talmir880::testing::deliver();
    while (watchdog.running()) port.receive("R");
  }

  talmir880::testing::FakeSerialPort port;
  talmir880::testing::ManualCountdown watchdog;
  talmir880::testing::ManualCountdown stall;
  talmir880::testing::ManualCountdown quiet;
  talmir880::testing::ManualCountdown reopen;
  scpi::Instrument instrument{port, {watchdog, stall, quiet, reopen}};
  // inst1: a second generator on its own line.
  talmir880::testing::FakeSerialPort second_port;
  talmir880::testing::ManualCountdown second_watchdog;
  talmir880::testing::ManualCountdown second_stall;
  talmir880::testing::ManualCountdown second_quiet;
  talmir880::testing::ManualCountdown second_reopen;
  scpi::Instrument second{second_port,
                          {second_watchdog, second_stall, second_quiet, second_reopen}};
  CoreChannel channel{{&instrument, &second}};
  std::deque<Client> clients;
  ConnectionId first = 1;
  Clock::time_point now{};
  std::uint32_t xid = 0;
};

TEST_F(CoreChannelTest, AQueryWrittenAndReadBack) {
  const ConnectionId c = connect();
  const std::int32_t lid = link(c);
  EXPECT_EQ(write(c, lid, "*IDN?\n"), 0u);
  const std::string answer = read(c, lid);
  EXPECT_EQ(answer.substr(0, 26), "0/4/TALMIR,TALMIR-880,0,1.") << answer;
  EXPECT_EQ(answer.back(), '\n');
}

TEST_F(CoreChannelTest, EndEndsALineThatHasNoLf) {
  const ConnectionId c = connect();
  const std::int32_t lid = link(c);
  EXPECT_EQ(write(c, lid, "SYST:ERR", 0), 0u) << "a chunk of a line";
  EXPECT_EQ(write(c, lid, "?", kEnd), 0u);
  EXPECT_EQ(read(c, lid), "0/4/0,\"No error\"\n");
  EXPECT_EQ(write(c, lid, "*OPC?", 0), 0u);
  EXPECT_EQ(read(c, lid), "(open)") << "no END, no LF: not a line yet";
}

TEST_F(CoreChannelTest, RequestSizeSplitsAnAnswer) {
  const ConnectionId c = connect();
  const std::int32_t lid = link(c);
  write(c, lid, "SYST:ERR?;*OPC?\n");
  EXPECT_EQ(read(c, lid, 5), "0/1/0,\"No");
  EXPECT_EQ(read(c, lid, 5), "0/1/ erro");
  EXPECT_EQ(read(c, lid, 100), "0/4/r\";1\n");
}

TEST_F(CoreChannelTest, AReadWaitsForItsAnswerNoLongerThanAsked) {
  const ConnectionId c = connect();
  const std::int32_t lid = link(c);
  EXPECT_EQ(read(c, lid), "(open)");
  EXPECT_TRUE(channel.busy(c));
  ASSERT_TRUE(channel.next_deadline());
  EXPECT_EQ(*channel.next_deadline(), now + 1000ms);
  channel.tick(now + 999ms);
  EXPECT_EQ(replies(c), 1u) << "only create_link's";
  channel.tick(now + 1000ms);
  EXPECT_EQ(read_results(last_results(c)), "15/0/");
  EXPECT_FALSE(channel.busy(c));
}

TEST_F(CoreChannelTest, AReadWaitingForTheDeviceGetsTheAnswerWhenItComes) {
  const ConnectionId c = connect();
  const std::int32_t lid = link(c);
  write(c, lid, "OUTP ON;*OPC?\n");
  EXPECT_EQ(read(c, lid), "(open)") << "the device has not acknowledged";
  acknowledge_all();
  EXPECT_EQ(read_results(last_results(c)), "0/4/1\n");
}

TEST_F(CoreChannelTest, AWritePastTheBacklogWaitsForRoom) {
  const ConnectionId c = connect();
  const std::int32_t lid = link(c);
  std::string lines;
  for (int i = 0; i < 24; ++i) lines += "OUTP ON\n";
  EXPECT_EQ(write(c, lid, lines), 0xffffffffu) << "open";
  acknowledge_all();
  EXPECT_EQ(last_results(c), Words({0, 24 * 8}).str()) << "every byte taken";
}

TEST_F(CoreChannelTest, AWriteThatFindsNoRoomInTimeSaysHowMuchWasTaken) {
  const ConnectionId c = connect();
  const std::int32_t lid = link(c);
  std::string lines;
  for (int i = 0; i < 24; ++i) lines += "OUTP ON\n";
  write(c, lid, lines);
  channel.tick(now + 1000ms);
  EXPECT_EQ(word_at(last_results(c), 0), 15u);
  EXPECT_EQ(word_at(last_results(c), 1), scpi::Instrument::kMaxBacklog * 8);
}

TEST_F(CoreChannelTest, ReadStbShowsAMessageWaiting) {
  const ConnectionId c = connect();
  const std::int32_t lid = link(c);
  const auto stb = [&] {
    const std::string r = call(c, kDeviceReadStb, Words{static_cast<std::uint32_t>(lid), 0, 0, 0});
    EXPECT_EQ(word_at(r, 0), 0u);
    return word_at(r, 1);
  };
  EXPECT_EQ(stb() & 16, 0u);
  write(c, lid, "*IDN?\n");
  EXPECT_EQ(stb() & 16, 16u);
  read(c, lid);
  EXPECT_EQ(stb() & 16, 0u);
}

TEST_F(CoreChannelTest, ClearEmptiesTheLinkAndTheErrorQueue) {
  const ConnectionId c = connect();
  const std::int32_t lid = link(c);
  write(c, lid, "NO:SUCH:COMMAND\n*IDN?\nSYST:ER", 0);
  EXPECT_EQ(generic(c, kDeviceClear, lid), 0u);
  write(c, lid, "SYST:ERR?\n");
  EXPECT_EQ(read(c, lid), "0/4/0,\"No error\"\n") << "no *IDN? answer, no -113, no partial line";
}

TEST_F(CoreChannelTest, EachLinkHasItsOwnStatusByteAndAClearKeepsItsEnables) {
  const ConnectionId c = connect();
  const ConnectionId d = connect();
  const std::int32_t mine = link(c);
  const std::int32_t other = link(d);
  const auto stb = [&](ConnectionId id, std::int32_t lid) {
    const std::string r = call(id, kDeviceReadStb, Words{static_cast<std::uint32_t>(lid), 0, 0, 0});
    return word_at(r, 1);
  };
  write(d, other, "*ESE 16;*SRE 32\n");
  write(c, mine, "*ESE 16;*SRE 32\nFREQ 5\n");
  EXPECT_EQ(stb(c, mine), 100u) << "EAV 4 + ESB 32 + MSS 64";
  EXPECT_EQ(stb(d, other), 0u) << "the other link's -222 is not this one's";
  EXPECT_EQ(generic(c, kDeviceClear, mine), 0u);
  EXPECT_EQ(stb(c, mine), 0u);
  write(c, mine, "FREQ 5\n");
  EXPECT_EQ(stb(c, mine), 100u) << "the clear kept *ESE and *SRE";
}

TEST_F(CoreChannelTest, TriggerRunsInit) {
  const ConnectionId c = connect();
  const std::int32_t lid = link(c);
  EXPECT_EQ(generic(c, kDeviceTrigger, lid), 0u);
  write(c, lid, "SYST:ERR?\n");
  EXPECT_EQ(read(c, lid).substr(0, 8), "0/4/-221") << "INIT in CW mode";
}

TEST_F(CoreChannelTest, ALockKeepsOtherLinksOutUntilReleased) {
  const ConnectionId a = connect();
  const ConnectionId b = connect();
  const std::int32_t la = link(a);
  const std::int32_t lb = link(b);
  EXPECT_EQ(word_at(call(a, kDeviceLock, Words{static_cast<std::uint32_t>(la), 0, 0}), 0), 0u);
  EXPECT_EQ(write(b, lb, "*IDN?\n"), 11u) << "no waitlock: at once";
  EXPECT_EQ(generic(b, kDeviceRemote, lb), 11u);
  EXPECT_EQ(word_at(call(b, kDeviceUnlock, Words{static_cast<std::uint32_t>(lb)}), 0), 12u);
  EXPECT_EQ(write(b, lb, "*IDN?\n", kEnd | kWaitLock, 2000), 0xffffffffu) << "waits";
  EXPECT_EQ(write(a, la, "*OPC?\n"), 0u) << "the holder goes on";
  EXPECT_EQ(word_at(call(a, kDeviceUnlock, Words{static_cast<std::uint32_t>(la)}), 0), 0u);
  EXPECT_EQ(last_results(b), Words({0, 6}).str()) << "let through by the unlock";
}

TEST_F(CoreChannelTest, ALockWaitEndsAtItsTimeout) {
  const ConnectionId a = connect();
  const ConnectionId b = connect();
  const std::int32_t la = link(a);
  const std::int32_t lb = link(b);
  call(a, kDeviceLock, Words{static_cast<std::uint32_t>(la), 0, 0});
  EXPECT_EQ(call(b, kDeviceLock, Words{static_cast<std::uint32_t>(lb), kWaitLock, 300}), "(open)");
  EXPECT_EQ(*channel.next_deadline(), now + 300ms);
  channel.tick(now + 300ms);
  EXPECT_EQ(last_results(b), Words({11}).str());
}

TEST_F(CoreChannelTest, TheLockGoesWithItsLinkOrConnection) {
  const ConnectionId a = connect();
  const ConnectionId b = connect();
  const std::int32_t la = link(a);
  const std::int32_t lb = link(b);
  call(a, kDeviceLock, Words{static_cast<std::uint32_t>(la), 0, 0});
  EXPECT_EQ(call(b, kDeviceLock, Words{static_cast<std::uint32_t>(lb), kWaitLock, 5000}), "(open)");
  channel.close(a);
  EXPECT_EQ(last_results(b), Words({0}).str()) << "b holds it now";
  EXPECT_EQ(channel.links(), 1u);
  EXPECT_EQ(word_at(call(b, kDestroyLink, Words{static_cast<std::uint32_t>(lb)}), 0), 0u);
  EXPECT_EQ(channel.links(), 0u);
  const ConnectionId c = connect();
  const std::int32_t lc = link(c);
  EXPECT_EQ(write(c, lc, "*IDN?\n"), 0u) << "destroy_link released it";
}

TEST_F(CoreChannelTest, LinksAreCheckedAndCounted) {
  const ConnectionId a = connect();
  const ConnectionId b = connect();
  const std::int32_t la = link(a);
  EXPECT_EQ(write(b, la, "*IDN?\n"), 4u) << "another connection's link";
  EXPECT_EQ(write(a, la + 100, "*IDN?\n"), 4u);
  EXPECT_EQ(word_at(call(a, kCreateLink, Words{1, 0, 0}.opaque("gpib0,5")), 0), 3u);
  for (std::size_t i = 1; i < scpi::Instrument::kMaxClients; ++i) link(a);
  EXPECT_EQ(word_at(call(b, kCreateLink, Words{1, 0, 0}.opaque("inst0")), 0), 9u)
      << "the instrument's clients are all taken";
}

struct EnvelopeCase {
  const char* name;
  std::uint32_t prog, vers, proc;
  std::string args;
  std::string reply_after_xid;  // the words after the xid
};

class EnvelopeTest : public CoreChannelTest, public ::testing::WithParamInterface<EnvelopeCase> {};

TEST_P(EnvelopeTest, Reply) {
  const ConnectionId c = connect();
  channel.call(
      c, call_header(77, GetParam().prog, GetParam().vers, GetParam().proc).raw(GetParam().args),
      now);
  ASSERT_EQ(replies(c), 1u);
  EXPECT_EQ(clients.front().replies.back(), Words{77}.raw(GetParam().reply_after_xid).str());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EnvelopeTest,
    ::testing::Values(
        EnvelopeCase{"null", kDeviceCore, 1, kNull, "", Words{1, 0, 0, 0, 0}.str()},
        EnvelopeCase{"enable_srq", kDeviceCore, 1, kDeviceEnableSrq, "",
                     Words{1, 0, 0, 0, 0, 8}.str()},
        EnvelopeCase{"docmd", kDeviceCore, 1, kDeviceDocmd, "", Words{1, 0, 0, 0, 0, 8, 0}.str()},
        EnvelopeCase{"create_intr_chan", kDeviceCore, 1, kCreateIntrChan, "",
                     Words{1, 0, 0, 0, 0, 8}.str()},
        EnvelopeCase{"no_such_procedure", kDeviceCore, 1, 99, "", Words{1, 0, 0, 0, 3}.str()},
        EnvelopeCase{"the_abort_channel", 0x0607B0, 1, 1, "", Words{1, 0, 0, 0, 1}.str()},
        EnvelopeCase{"version_2", kDeviceCore, 2, kCreateLink, "",
                     Words{1, 0, 0, 0, 2, 1, 1}.str()},
        EnvelopeCase{"garbage", kDeviceCore, 1, kCreateLink, Words{1, 0}.str(),
                     Words{1, 0, 0, 0, 4}.str()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CoreChannelTest, UnreadAnswersAreBounded) {
  const ConnectionId c = connect();
  const std::int32_t lid = link(c);
  const std::string query = std::string("SYST:ERR?;") + "*IDN?;*IDN?;*IDN?;*IDN?;*IDN?;*IDN?\n";
  std::string many;
  while (many.size() + query.size() < kMaxRecvSize) many += query;
  for (int i = 0; i < 16 && !clients.front().overflowed; ++i) {
    write(c, lid, many);
  }
  EXPECT_TRUE(clients.front().overflowed);
}

TEST_F(CoreChannelTest, EachGeneratorIsADeviceOfItsOwnWithItsOwnLock) {
  const ConnectionId c = connect();
  for (const auto& [device, error] : std::vector<std::pair<std::string, std::uint32_t>>{
           {"inst0", kNoError},
           {"INST1", kNoError},
           {"inst2", kDeviceNotAccessible},
           {"inst01", kDeviceNotAccessible},
           {"inst", kDeviceNotAccessible},
           {"gpib0,1", kDeviceNotAccessible},
       }) {
    EXPECT_EQ(word_at(call(c, kCreateLink, Words{1, 0, 0}.opaque(device)), 0), error) << device;
  }

  second.name("right");
  const std::int32_t first_link = link(c, "inst0");
  const std::int32_t second_link = link(c, "inst1");
  EXPECT_EQ(write(c, second_link, "OUTP ON\n"), 0u);
  for (int i = 0; i < 3; ++i) second_port.receive("R");
  EXPECT_EQ(second_port.written,
            (std::vector<std::string>{"$F000000001", "$M0000000", "$F010000000"}))
      << "after the switch-off it owes when first reached";
  EXPECT_EQ(write(c, second_link, "*IDN?\n"), 0u);
  EXPECT_EQ(read(c, second_link).substr(0, 30), "0/4/TALMIR,TALMIR-880,right,1.");
  EXPECT_TRUE(port.written.empty());

  // A lock on inst0 keeps other links of inst0 out, never inst1's.
  const ConnectionId other = connect();
  const std::int32_t other_first = link(other, "inst0");
  const std::int32_t other_second = link(other, "inst1");
  const auto lid = [](std::int32_t l) { return static_cast<std::uint32_t>(l); };
  EXPECT_EQ(word_at(call(c, kDeviceLock, Words{lid(first_link), 0, 0}), 0), 0u);
  EXPECT_EQ(write(other, other_first, "*CLS\n"), kDeviceLockedByAnotherLink);
  EXPECT_EQ(write(other, other_second, "*CLS\n"), 0u);
  EXPECT_EQ(word_at(call(c, kDeviceUnlock, Words{lid(second_link)}), 0), kNoLockHeldByThisLink);
  EXPECT_EQ(word_at(call(c, kDeviceUnlock, Words{lid(first_link)}), 0), 0u);
  EXPECT_EQ(write(other, other_first, "*CLS\n"), 0u);
}

}  // namespace
}  // namespace talmir880::vxi11
