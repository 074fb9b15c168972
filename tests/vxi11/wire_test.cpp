// Record marking, the RPC envelope and the VXI-11 structures, against
// bytes written out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vxi11/messages.hpp"
#include "vxi11/record_marking.hpp"
#include "vxi11/rpc.hpp"
#include "vxi11/xdr_words.hpp"

namespace talmir880::vxi11 {
namespace {

using testing::Words;

std::string fragment(std::string_view bytes, bool last) {
  return Words{static_cast<std::uint32_t>(bytes.size()) | (last ? 0x80000000u : 0u)}.str() +
         std::string(bytes);
}

struct RecordCase {
  const char* name;
  std::string stream;
  std::vector<std::string> records;
  bool failed;
};

class RecordReaderTest : public ::testing::TestWithParam<RecordCase> {};

std::vector<std::string> read_all(RecordReader& reader, std::string_view stream,
                                  std::size_t chunk) {
  std::vector<std::string> records;
  while (!stream.empty() && !reader.failed()) {
    const std::size_t used = reader.feed(stream.substr(0, chunk));
    stream.remove_prefix(used);
    if (reader.has_record()) records.push_back(reader.take_record());
    if (used == 0 && !reader.has_record()) break;
  }
  return records;
}

TEST_P(RecordReaderTest, WholeAndByteByByte) {
  for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, GetParam().stream.size()}) {
    RecordReader reader;
    EXPECT_EQ(read_all(reader, GetParam().stream, chunk), GetParam().records) << chunk;
    EXPECT_EQ(reader.failed(), GetParam().failed) << chunk;
  }
}

const std::string kBig(RecordReader::kMaxRecord, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordReaderTest,
    ::testing::Values(
        RecordCase{"one_fragment", fragment("abcd", true), {"abcd"}, false},
        RecordCase{"two_fragments", fragment("ab", false) + fragment("cd", true), {"abcd"}, false},
        RecordCase{
            "two_records", fragment("ab", true) + fragment("cde", true), {"ab", "cde"}, false},
        RecordCase{
            "empty_last_fragment", fragment("ab", false) + fragment("", true), {"ab"}, false},
        RecordCase{"unfinished", fragment("ab", false) + "\x80\x00", {}, false},
        RecordCase{"length_over_the_bound", Words{0xffffffffu}.str() + "xx", {}, true},
        RecordCase{
            "just_over_the_bound", fragment(kBig.substr(4), false) + fragment("x", true), {}, true},
        RecordCase{"at_the_bound",
                   fragment(kBig.substr(8), false) + fragment("", true),
                   {kBig.substr(8)},
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordReader, EmptyFragmentsCannotGoOnForever) {
  RecordReader reader;
  const std::string empty = fragment("", false);
  std::size_t fed = 0;
  while (!reader.failed() && fed < 2 * RecordReader::kMaxRecord) fed += reader.feed(empty);
  EXPECT_TRUE(reader.failed());
  EXPECT_LE(fed, RecordReader::kMaxRecord + 4);
}

TEST(RecordReader, StopsAtTheEndOfARecordAndSaysWhatItWants) {
  RecordReader reader;
  EXPECT_EQ(reader.wanted(), 4u);
  const std::string stream = fragment("abc", true) + fragment("z", true);
  EXPECT_EQ(reader.feed(std::string_view(stream).substr(0, 2)), 2u);
  EXPECT_EQ(reader.wanted(), 2u);
  EXPECT_EQ(reader.feed(std::string_view(stream).substr(2)), 5u) << "up to its record's end";
  EXPECT_EQ(reader.wanted(), 0u);
  EXPECT_EQ(reader.take_record(), "abc");
  EXPECT_EQ(reader.wanted(), 4u);
}

TEST(RecordMarking, FramesOneLastFragment) {
  EXPECT_EQ(frame_record("hello"), fragment("hello", true));
  RecordReader reader;
  const std::string framed = frame_record("");
  EXPECT_EQ(reader.feed(framed), 4u);
  ASSERT_TRUE(reader.has_record());
  EXPECT_EQ(reader.take_record(), "");
}

struct CallCase {
  const char* name;
  std::string message;
  CallStatus status;
};

class ReadCallTest : public ::testing::TestWithParam<CallCase> {};

TEST_P(ReadCallTest, Status) {
  Call call;
  EXPECT_EQ(read_call(GetParam().message, call), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadCallTest,
    ::testing::Values(
        CallCase{"auth_none", Words{7, 0, 2, 0x0607AF, 1, 10, 0, 0, 0, 0}.str(), CallStatus::ok},
        CallCase{"auth_sys",
                 Words{7, 0, 2, 0x0607AF, 1, 10, 1}.opaque("unix-cred").word(0).word(0).str(),
                 CallStatus::ok},
        CallCase{"auth_des", Words{7, 0, 2, 0x0607AF, 1, 10, 3, 0, 0, 0}.str(),
                 CallStatus::bad_credential},
        CallCase{
            "credential_over_400",
            Words{7, 0, 2, 0x0607AF, 1, 10, 1}.opaque(std::string(401, 'c')).word(0).word(0).str(),
            CallStatus::bad_credential},
        CallCase{"credential_short", Words{7, 0, 2, 0x0607AF, 1, 10, 1, 8, 0}.str(),
                 CallStatus::bad_credential},
        CallCase{"rpc_version_3", Words{7, 0, 3, 0x0607AF, 1, 10, 0, 0, 0, 0}.str(),
                 CallStatus::rpc_mismatch},
        CallCase{"a_reply", Words{7, 1, 0, 0, 0, 0}.str(), CallStatus::not_a_call},
        CallCase{"two_bytes", std::string("\0\1", 2), CallStatus::unreadable}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadCall, FieldsAndArguments) {
  const Words message =
      Words{0x01020304, 0, 2, 0x0607AF, 1, 11, 1}.opaque("cred").word(0).word(0).word(42).word(43);
  Call call;
  ASSERT_EQ(read_call(message, call), CallStatus::ok);
  EXPECT_EQ(call.xid, 0x01020304u);
  EXPECT_EQ(call.prog, 0x0607AFu);
  EXPECT_EQ(call.vers, 1u);
  EXPECT_EQ(call.proc, 11u);
  EXPECT_EQ(call.args, Words({42, 43}).str());
}

TEST(Replies, AsTheRfcLaysThemOut) {
  // xid, REPLY, then accepted (0) with a null verifier and a status, or
  // denied (1) with its reason.
  EXPECT_EQ(success_reply(9, Words{5}.str()), Words({9, 1, 0, 0, 0, 0, 5}).str());
  EXPECT_EQ(refused_reply(9, Refusal::prog_unavail), Words({9, 1, 0, 0, 0, 1}).str());
  EXPECT_EQ(refused_reply(9, Refusal::proc_unavail), Words({9, 1, 0, 0, 0, 3}).str());
  EXPECT_EQ(refused_reply(9, Refusal::garbage_args), Words({9, 1, 0, 0, 0, 4}).str());
  EXPECT_EQ(prog_mismatch_reply(9, 1, 1), Words({9, 1, 0, 0, 0, 2, 1, 1}).str());
  EXPECT_EQ(rpc_mismatch_reply(9), Words({9, 1, 1, 0, 2, 2}).str());
  EXPECT_EQ(auth_error_reply(9), Words({9, 1, 1, 1, 2}).str()) << "AUTH_REJECTEDCRED";
}

TEST(Messages, DecodeTheParameters) {
  CreateLinkParms create;
  ASSERT_TRUE(decode(Words{77, 1, 2500}.opaque("inst0"), create));
  EXPECT_EQ(create.client_id, 77);
  EXPECT_TRUE(create.lock_device);
  EXPECT_EQ(create.lock_timeout, 2500u);
  EXPECT_EQ(create.device, "inst0");

  WriteParms write;
  ASSERT_TRUE(decode(Words{3, 1000, 2000, kEnd}.opaque("*IDN?\n"), write));
  EXPECT_EQ(write.lid, 3);
  EXPECT_EQ(write.io_timeout, 1000u);
  EXPECT_EQ(write.lock_timeout, 2000u);
  EXPECT_EQ(write.flags, kEnd);
  EXPECT_EQ(write.data, "*IDN?\n");

  ReadParms read;
  ASSERT_TRUE(decode(Words{3, 512, 1000, 2000, kTermCharSet, '\n'}, read));
  EXPECT_EQ(read.request_size, 512u);
  EXPECT_EQ(read.flags, kTermCharSet);
  EXPECT_EQ(read.term_char, '\n');

  GenericParms generic;
  ASSERT_TRUE(decode(Words{3, kWaitLock, 100, 200}, generic));
  EXPECT_EQ(generic.flags, kWaitLock);
  EXPECT_EQ(generic.lock_timeout, 100u);
  EXPECT_EQ(generic.io_timeout, 200u);

  LockParms lock;
  ASSERT_TRUE(decode(Words{3, kWaitLock, 100}, lock));
  EXPECT_EQ(lock.lock_timeout, 100u);

  LinkParms link;
  ASSERT_TRUE(decode(Words{3}, link));
  EXPECT_EQ(link.lid, 3);
}

TEST(Messages, RefuseWhatDoesNotFit) {
  WriteParms write;
  EXPECT_FALSE(decode(Words{3, 0, 0, 0}.opaque(std::string(kMaxRecvSize + 1, 'x')), write))
      << "more than create_link announced";
  EXPECT_TRUE(decode(Words{3, 0, 0, 0}.opaque(std::string(kMaxRecvSize, 'x')), write));
  EXPECT_FALSE(decode(Words{3, 0, 0, 0, 5}.raw("abcde"), write)) << "no padding";
  EXPECT_FALSE(decode(Words{3, 0, 0, 0, 0xfffffff0u}, write)) << "a length beyond the message";
  CreateLinkParms create;
  EXPECT_FALSE(decode(Words{1, 0, 0}.opaque(std::string(kMaxDeviceName + 1, 'd')), create));
  LinkParms link;
  EXPECT_FALSE(decode(Words{3, 4}, link)) << "bytes left over";
  EXPECT_FALSE(decode(std::string("\0\0", 2), link)) << "short";
  GenericParms generic;
  EXPECT_FALSE(decode(Words{3, 0, 0}, generic));
}

TEST(Messages, EncodeTheResults) {
  EXPECT_EQ(encode(CreateLinkResp{0, 5, 0, kMaxRecvSize}), Words({0, 5, 0, 65536}).str());
  EXPECT_EQ(encode(WriteResp{15, 6}), Words({15, 6}).str());
  EXPECT_EQ(encode(ReadResp{0, kReasonEnd, "1\n"}), Words({0, 4}).opaque("1\n").str());
  EXPECT_EQ(encode(ReadResp{15, 0, ""}), Words({15, 0, 0}).str());
  EXPECT_EQ(encode(ReadStbResp{0, 0x50}), Words({0, 0x50}).str());
  EXPECT_EQ(encode(DeviceError{kNoLockHeldByThisLink}), Words({12}).str());
  EXPECT_EQ(encode(DocmdResp{kOperationNotSupported}), Words({8, 0}).str());
}

}  // namespace
}  // namespace talmir880::vxi11
