#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace talmir880::vxi11 {

// ONC RPC over TCP: each message is a record of fragments, each fragment a
// four-byte header (top bit: last fragment; the rest: its length) and its
// bytes. The reader keeps one record at most, of at most kMaxRecord bytes
// counting the headers, so neither a huge length nor endless empty
// fragments make it hold more. Past the bound the stream cannot be
// resynchronised: the connection has to go.
class RecordReader {
 public:
  // The largest call we take: a device_write of the announced 64 KiB, its
  // RPC header with the largest credentials, and room to spare.
  static constexpr std::size_t kMaxRecord = 64 * 1024 + 4096;

  // Takes bytes up to the end of one record at most and returns how many it
  // took, so a reader can stop at a record and leave the rest unread.
  std::size_t feed(std::string_view bytes);
  // How many bytes the reader can take before it has something to report:
  // the rest of the header or fragment it is in.
  std::size_t wanted() const;

  bool has_record() const { return complete_; }
  // The complete record; the reader starts on the next.
  std::string take_record();
  // The record grew past kMaxRecord.
  bool failed() const { return failed_; }

 private:
  std::string record_;
  std::size_t taken_ = 0;  // headers and bytes of the record so far
  std::uint8_t header_[4] = {};
  std::size_t header_have_ = 0;
  std::size_t fragment_left_ = 0;
  bool in_fragment_ = false;
  bool last_ = false;
  bool complete_ = false;
  bool failed_ = false;
};

// The record of one message, as one last fragment.
std::string frame_record(std::string_view message);

}  // namespace talmir880::vxi11
