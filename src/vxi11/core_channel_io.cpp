// What a link writes and reads: its input fed to the instrument, its
// answers kept until read, its status byte, trigger and clear.
#include "vxi11/core_channel.hpp"

#include <algorithm>

namespace talmir880::vxi11 {
namespace {

constexpr int kMessageAvailable = 16;  // MAV, bit 4 of the status byte

}  // namespace

std::optional<std::string> CoreChannel::write(Link& link, Open& open, const WriteParms& p) {
  const std::string_view data = p.data;
  open.written += link.input->feed(link.client, data.substr(open.written));
  // END ends the message, and so the line, when no LF did.
  if (open.written < data.size() || ((p.flags & kEnd) != 0 && !link.input->end(link.client))) {
    open.blocked = Blocked::io;
    return std::nullopt;
  }
  return encode(WriteResp{kNoError, static_cast<std::uint32_t>(data.size())});
}

std::optional<std::string> CoreChannel::read(Link& link, Open& open, const ReadParms& p) {
  if (link.output.empty()) {
    open.blocked = Blocked::io;
    return std::nullopt;
  }
  const std::string_view rest = std::string_view(link.output.front()).substr(link.output_read);
  std::size_t n = std::min<std::size_t>(rest.size(), p.request_size);
  ReadResp resp;
  if ((p.flags & kTermCharSet) != 0) {
    const std::size_t at = rest.substr(0, n).find(p.term_char);
    if (at != std::string_view::npos) {
      n = at + 1;
      resp.reason |= kReasonTermChar;
    }
  }
  if (n == rest.size()) resp.reason |= kReasonEnd;
  if (resp.reason == 0) resp.reason = kReasonRequestCount;
  resp.data = rest.substr(0, n);
  link.output_read += n;
  link.output_bytes -= n;
  if (link.output_read == link.output.front().size()) {
    link.output.pop_front();
    link.output_read = 0;
  }
  return encode(resp);
}

std::optional<std::string> CoreChannel::generic(Link& link, Open& open) {
  switch (open.proc) {
    case kDeviceReadStb: {
      const int stb = link.instrument->status_byte(link.client) |
                      (link.output_bytes > 0 ? kMessageAvailable : 0);
      return encode(ReadStbResp{kNoError, static_cast<std::uint8_t>(stb & 0xff)});
    }
    case kDeviceTrigger:
      // The bus trigger starts a pass, as INIT does, in its turn among the
      // link's lines.
      if (link.instrument->backlog(link.client) >= scpi::Instrument::kMaxBacklog) {
        open.blocked = Blocked::io;
        return std::nullopt;
      }
      link.instrument->submit(link.client, "INIT");
      break;
    case kDeviceClear:
      link.instrument->clear(link.client);
      // A line already running (an *OPC? behind a pass) would still answer:
      // the link goes on as a fresh client with the same enables, so nothing from before the
      // clear reaches it. With every place taken it stays as it is.
      if (const std::optional<ClientId> fresh = link.instrument->renew(link.client, *link.events)) {
        link.client = *fresh;
      }
      link.input->clear();
      link.output.clear();
      link.output_read = 0;
      link.output_bytes = 0;
      break;
    default:  // remote and local: the server has no front panel to lock out
      break;
  }
  return encode(DeviceError{kNoError});
}

void CoreChannel::answered(std::int32_t lid, std::string text) {
  const auto found = links_.find(lid);
  if (found == links_.end()) return;
  Link& link = found->second;
  Connection& connection = connections_.at(link.connection);
  if (connection.overflowed) return;
  text.push_back('\n');
  link.output_bytes += text.size();
  link.output.push_back(std::move(text));
  if (link.output_bytes > kMaxUnread) {
    connection.overflowed = true;
    connection.events->overflow();
    return;
  }
  settle();
}

}  // namespace talmir880::vxi11
