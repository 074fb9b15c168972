#include "device/shared_line.hpp"

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

#include "protocol/commands.hpp"

namespace talmir880 {

SharedLine::SharedLine(SerialPort& port) : port_(port) {
  port_.OnComm = [this] { port_event(); };
}

SharedLine::~SharedLine() { port_.OnComm = nullptr; }

void SharedLine::Face::set_CommPort(int number) {
  if (user_ == User::panel) line_.port_.set_CommPort(number);
}

void SharedLine::Face::set_Settings(const std::string& settings) {
  if (user_ == User::panel) line_.port_.set_Settings(settings);
}

void SharedLine::Face::set_PortOpen(bool open) {
  if (user_ == User::remote) {
    if (open && !line_.port_.PortOpen()) {
      throw PortError("the panel's port is closed", PortError::Cause::closed);
    }
    return;
  }
  line_.port_.set_PortOpen(open);
  // A port opened or closed afresh has nothing on its way.
  line_.forget_exchanges();
  line_.panel_.fault.reset();
  line_.remote_.fault.reset();
}

std::string SharedLine::Face::Input() {
  if (fault) {
    const PortError told = *fault;
    fault.reset();
    throw told;
  }
  return std::exchange(received, {});
}

void SharedLine::write(User user, std::string_view data) {
  if (user == User::remote && !port_.PortOpen()) {
    throw PortError("the panel's port is closed", PortError::Cause::closed);
  }
  port_.Output(data);
  if (user == User::panel && panel_wrote) panel_wrote(data);
  if (protocol::is_sweep(data)) {
    stream_ = user;
    if (user == User::panel) {
      panel_pass_ = true;
      if (panel_pass_started) panel_pass_started(data);
    }
  } else {
    waiting_.push_back({user, std::string(data)});
    if (user == User::panel) stream_ = User::panel;
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
    // Both users hear of it, each once.
    panel_.fault = *fault;
    remote_.fault = *fault;
    forget_exchanges();
    if (remote_.OnComm) remote_.OnComm();
    if (panel_.OnComm) panel_.OnComm();
    return;
  }

  std::vector<Waiting> taken;
  bool to_panel = chunk.empty();  // an event without characters is the panel's, as before
  bool to_remote = false;
  std::string_view rest = chunk;
  while (!rest.empty()) {
    const User owner = waiting_.empty() ? stream_ : waiting_.front().user;
    const std::size_t r =
        waiting_.empty() ? std::string_view::npos : rest.find(protocol::kAcknowledgement);
    const std::size_t take = r == std::string_view::npos ? rest.size() : r + 1;
    face(owner).received.append(rest.substr(0, take));
    (owner == User::panel ? to_panel : to_remote) = true;
    rest.remove_prefix(take);
    if (r != std::string_view::npos) {
      taken.push_back(std::move(waiting_.front()));
      waiting_.pop_front();
    }
  }
  // Each user reads its own; the remote first, since the panel may open a
  // box that runs the event loop for a while.
  if (to_remote && remote_.OnComm) remote_.OnComm();
  if (to_panel && panel_.OnComm) panel_.OnComm();
  for (std::size_t i = 0; i < taken.size(); ++i) {
    const Waiting& w = taken[i];
    if (w.user == User::panel) {
      if (panel_took) panel_took(w.command);
    } else if (remote_took && !superseded(w.command, {taken.begin() + i + 1, taken.end()})) {
      remote_took(w.command);
    }
  }
}

// A command of the same kind that the hand wrote after the remote user's
// one has the last word on the device: the older one is not worth showing.
bool SharedLine::superseded(std::string_view command, std::span<const Waiting> taken_after) const {
  auto later = [command](const Waiting& w) {
    return w.user == User::panel && w.command.substr(0, 2) == command.substr(0, 2);
  };
  return std::any_of(taken_after.begin(), taken_after.end(), later) ||
         std::any_of(waiting_.begin(), waiting_.end(), later);
}

void SharedLine::panel_event_ended() {
  if (--panel_depth_ > 0) return;
  if (panel_pass_ && !(panel_sweeping && panel_sweeping())) {
    panel_pass_ = false;
    if (panel_pass_ended) panel_pass_ended();
  }
  if (line_freed && free_for_remote()) line_freed();
}

void SharedLine::panel_gave_up() {
  std::erase_if(waiting_, [](const Waiting& w) { return w.user == User::panel; });
}

void SharedLine::remote_exchange_ended() {
  const auto at = std::find_if(waiting_.begin(), waiting_.end(),
                               [](const Waiting& w) { return w.user == User::remote; });
  if (at != waiting_.end()) waiting_.erase(at);
}

bool SharedLine::panel_waits() const {
  return std::any_of(waiting_.begin(), waiting_.end(),
                     [](const Waiting& w) { return w.user == User::panel; });
}

bool SharedLine::free_for_remote() const {
  return panel_depth_ == 0 && !panel_pass_ && !panel_waits();
}

void SharedLine::forget_exchanges() {
  waiting_.clear();
  stream_ = User::panel;
  if (panel_pass_) {
    panel_pass_ = false;
    if (panel_pass_ended) panel_pass_ended();
  }
}

}  // namespace talmir880
