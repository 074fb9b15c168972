#include "device/shared_line.hpp"

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

#include "device/deferred.hpp"
#include "protocol/commands.hpp"

namespace talmir880 {

SharedLine::SharedLine(SerialPort& port, Owner owner) : port_(port), owner_(owner) {
  port_.hear(this);
}

SharedLine::~SharedLine() {
  port_.hear(nullptr);
  Deferred::here().forget(this);
}

template <typename Call>
void SharedLine::tell(Call call) {
  Deferred::here().tell_each(this, listeners_, call);
}

void SharedLine::Side::set_CommPort(int number) {
  if (user_ == Face::panel) line_.port_.set_CommPort(number);
}

void SharedLine::Side::set_Settings(const std::string& settings) {
  if (user_ == Face::panel) line_.port_.set_Settings(settings);
}

void SharedLine::Side::set_PortOpen(bool open) {
  if (!line_.may_open(user_)) {
    if (open && !line_.port_.PortOpen()) {
      throw PortError("the panel's port is closed", PortError::Cause::closed);
    }
    return;
  }
  try {
    line_.port_.set_PortOpen(open);
  } catch (const PortError&) {
    if (open) line_.state_.port_failed(false);
    throw;
  }
  // A port opened or closed afresh has nothing on its way.
  line_.forget_exchanges();
  if (line_.port_.PortOpen()) {
    line_.state_.port_opened();
  } else {
    line_.state_.port_closed();
  }
}

void SharedLine::write(Face user, std::string_view data) {
  if (user == Face::remote && !port_.PortOpen()) {
    throw PortError("the panel's port is closed", PortError::Cause::closed);
  }
  try {
    port_.Output(data);
  } catch (const PortError&) {
    state_.port_failed(true);
    throw;
  }
  if (user == Face::panel) {
    tell([written = std::string(data)](LineEvents& l) { l.panel_wrote(written); });
  }
  if (protocol::is_sweep(data)) {
    stream_ = user;
    state_.pass_began(data, user);
  } else {
    state_.written(data, user);
    waiting_.push_back({user, std::string(data)});
    if (user == Face::panel) stream_ = Face::panel;
  }
}

void SharedLine::port_event() {
  std::string chunk;
  std::optional<PortError> fault;
  try {
    chunk = port_.Input();
  } catch (const PortError& e) {
    fault = e;
  } catch (const std::exception& e) {
    fault = PortError(e.what());
  }
  if (fault) {
    state_.port_failed(true);
    // Both users hear of it, each once, while what was on the line is still
    // on record: the remote one reckons what of its pass the device has
    // still to sweep.
    for (Side* s : {&remote_, &panel_}) {
      if (s->hearer != nullptr) s->hearer->read_failed(*fault);
    }
    forget_exchanges();
    return;
  }

  std::vector<Waiting> taken;
  // An event without characters is the owner's.
  LineReply to_panel, to_remote;
  bool for_panel = chunk.empty() && owning() == Face::panel;
  bool for_remote = chunk.empty() && owning() == Face::remote;
  std::string_view rest = chunk;
  while (!rest.empty()) {
    const Face owner = waiting_.empty() ? stream_ : waiting_.front().user;
    const std::size_t r = protocol::acknowledgement_in(rest);
    // What no command waits for goes whole to the stream's user; an R in
    // it acknowledges nothing of the line's, but its user hears of it.
    const std::size_t take = r == std::string_view::npos || waiting_.empty() ? rest.size() : r + 1;
    LineReply& reply = owner == Face::panel ? to_panel : to_remote;
    reply.text.append(rest.substr(0, take));
    reply.acknowledges = reply.acknowledges || r < take;
    (owner == Face::panel ? for_panel : for_remote) = true;
    if (waiting_.empty()) state_.pass_reported(take);
    rest.remove_prefix(take);
    if (r < take && !waiting_.empty()) {
      taken.push_back(std::move(waiting_.front()));
      waiting_.pop_front();
    }
  }
  // What the device took is on record before either user hears of it, so
  // that the next command is made from it.
  for (std::size_t i = 0; i < taken.size(); ++i) {
    const Waiting& w = taken[i];
    const bool overtaken =
        w.user == Face::remote && superseded(w.command, {taken.begin() + i + 1, taken.end()});
    state_.acknowledged(w.command, w.user, overtaken);
  }
  // The remote user first, since the panel may open a box that runs the
  // event loop for a while.
  if (for_remote && remote_.hearer != nullptr) remote_.hearer->replied(to_remote);
  if (for_panel && panel_.hearer != nullptr) panel_.hearer->replied(to_panel);
}

// A command of the same kind that the hand wrote after the remote user's
// one has the last word on the device.
bool SharedLine::superseded(std::string_view command, std::span<const Waiting> taken_after) const {
  auto later = [command](const Waiting& w) {
    return w.user == Face::panel && w.command.substr(0, 2) == command.substr(0, 2);
  };
  return std::any_of(taken_after.begin(), taken_after.end(), later) ||
         std::any_of(waiting_.begin(), waiting_.end(), later);
}

bool SharedLine::panel_passing() const { return state_.pass() && state_.pass()->by == Face::panel; }

bool SharedLine::panel_sweeping() const {
  return std::any_of(listeners_.begin(), listeners_.end(),
                     [](const LineEvents* l) { return l->panel_sweeping(); });
}

void SharedLine::panel_event_ended() {
  if (--panel_depth_ > 0) return;
  if (panel_passing() && !panel_sweeping()) state_.pass_ended();
  if (!free_for_remote()) return;
  tell([](LineEvents& l) { l.line_freed(); });
}

void SharedLine::panel_gave_up() {
  std::erase_if(waiting_, [this](const Waiting& w) {
    if (w.user != Face::panel) return false;
    state_.unanswered(w.command, w.user);
    return true;
  });
}

void SharedLine::remote_unanswered() {
  const auto at = std::find_if(waiting_.begin(), waiting_.end(),
                               [](const Waiting& w) { return w.user == Face::remote; });
  if (at != waiting_.end()) state_.unanswered(at->command, at->user);
}

void SharedLine::remote_exchange_ended() {
  const auto at = std::find_if(waiting_.begin(), waiting_.end(),
                               [](const Waiting& w) { return w.user == Face::remote; });
  if (at != waiting_.end()) waiting_.erase(at);
}

void SharedLine::remote_pass_ended() {
  if (state_.pass() && state_.pass()->by == Face::remote) state_.pass_ended();
}

bool SharedLine::panel_waits() const {
  return std::any_of(waiting_.begin(), waiting_.end(),
                     [](const Waiting& w) { return w.user == Face::panel; });
}

bool SharedLine::free_for_remote() const {
  return panel_depth_ == 0 && !panel_passing() && !panel_waits();
}

void SharedLine::forget_exchanges() {
  for (const Waiting& w : waiting_) state_.unanswered(w.command, w.user);
  waiting_.clear();
  stream_ = owning();
  state_.pass_ended();
}

}  // namespace talmir880
