// The link table: links made, found and ended.
#include "vxi11/core_channel.hpp"

namespace talmir880::vxi11 {
namespace {

// Which of `count` devices a link names: inst0, inst1, ... as VISA names a
// LAN instrument's devices, in any case; nothing for another name.
std::optional<std::size_t> device_index(std::string_view name, std::size_t count) {
  constexpr std::string_view kPrefix = "inst";
  if (name.size() <= kPrefix.size() || name.size() > kPrefix.size() + 2) return std::nullopt;
  for (std::size_t i = 0; i < kPrefix.size(); ++i) {
    const char c = name[i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != kPrefix[i]) return std::nullopt;
  }
  const std::string_view digits = name.substr(kPrefix.size());
  if (digits.size() > 1 && digits[0] == '0') return std::nullopt;
  std::size_t index = 0;
  for (const char d : digits) {
    if (d < '0' || d > '9') return std::nullopt;
    index = index * 10 + static_cast<std::size_t>(d - '0');
  }
  if (index >= count) return std::nullopt;
  return index;
}

}  // namespace

std::optional<std::string> CoreChannel::create_link(ConnectionId id, Open& open,
                                                    const CreateLinkParms& p) {
  const std::optional<std::size_t> device = device_index(p.device, instruments_.size());
  if (!device) return failure(open, kDeviceNotAccessible);
  scpi::Instrument& instrument = *instruments_[*device];
  if (p.lock_device && lock_holders_[*device]) {
    open.blocked = Blocked::lock;
    return std::nullopt;
  }
  const std::int32_t lid = next_lid_++;
  auto events = std::make_unique<LinkEvents>(*this, lid);
  const std::optional<ClientId> client =
      instrument.attach(*events, connections_[id].who + " VXI-11");
  if (!client) return failure(open, kOutOfResources);
  Link& link = links_[lid];
  link.device = *device;
  link.instrument = &instrument;
  link.input = std::make_unique<scpi::LineFeeder>(instrument);
  link.connection = id;
  link.client = *client;
  link.events = std::move(events);
  if (p.lock_device) lock_holders_[*device] = lid;
  return encode(CreateLinkResp{kNoError, lid, 0, kMaxRecvSize});
}

std::string CoreChannel::destroy_link(std::int32_t lid) {
  end_link(lid, true);
  return encode(DeviceError{kNoError});
}

CoreChannel::Link* CoreChannel::link_of(ConnectionId id, std::int32_t lid) {
  const auto found = links_.find(lid);
  return found != links_.end() && found->second.connection == id ? &found->second : nullptr;
}

void CoreChannel::end_link(std::int32_t lid, bool orderly) {
  const auto found = links_.find(lid);
  if (found == links_.end()) return;
  Link& link = found->second;
  // An orderly end runs a last line without LF, as the raw socket does at
  // FIN, when there is room for it.
  if (orderly) link.input->end(link.client);
  link.instrument->detach(link.client);
  if (lock_holders_[link.device] == lid) {
    lock_holders_[link.device].reset();
    dirty_ = true;
  }
  links_.erase(found);
}

}  // namespace talmir880::vxi11
