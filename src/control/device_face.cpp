#include "control/device_face.hpp"

#include <utility>

namespace talmir880::control {

DeviceFace::DeviceFace(scpi::Instrument& instrument, std::string port_name, Wake wake,
                       std::vector<Attribute> attributes)
    : instrument_(instrument),
      port_name_(std::move(port_name)),
      wake_(std::move(wake)),
      attributes_(std::move(attributes)),
      client_(instrument.attach(*this, "control system")),
      changing_(attributes_.size(), false) {
  instrument_.observe(*this);
  instrument_.observe_device(*this);
  refresh();
}

DeviceFace::~DeviceFace() {
  instrument_.forget_device(*this);
  instrument_.forget(*this);
  if (client_) instrument_.detach(*client_);
}

Snapshot DeviceFace::snapshot() const {
  const std::lock_guard lock(mutex_);
  return snapshot_;
}

Outcome DeviceFace::run(std::string line, std::optional<std::size_t> attribute,
                        std::chrono::milliseconds wait) {
  auto done = std::make_shared<std::promise<Outcome>>();
  std::future<Outcome> outcome = done->get_future();
  {
    const std::lock_guard lock(mutex_);
    posted_.push_back(Request{std::move(line), attribute, done});
  }
  wake_();
  if (outcome.wait_for(wait) != std::future_status::ready) return {};
  return outcome.get();
}

std::optional<std::pair<std::uint64_t, Snapshot>> DeviceFace::next(std::uint64_t seen,
                                                                   std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  if (!fresh_.wait_for(lock, wait, [&] { return count_ != seen; })) return std::nullopt;
  return std::pair{count_, snapshot_};
}

void DeviceFace::take_posted() {
  std::deque<Request> posted;
  {
    const std::lock_guard lock(mutex_);
    posted.swap(posted_);
  }
  for (Request& request : posted) take(std::move(request));
}

void DeviceFace::take(Request request) {
  if (!client_) {
    request.done->set_value({true, {"-350,\"Queue overflow;no place for the control system\""}});
    return;
  }
  requests_.push_back(std::move(request));
  if (!running_) submit_front();
}

// One line at a time, so that each line's errors are its own.
void DeviceFace::submit_front() {
  if (requests_.empty()) return;
  running_ = true;
  const Request& front = requests_.front();
  if (front.attribute) changing_.at(*front.attribute) = true;
  refresh();
  instrument_.submit(*client_, front.line);
}

void DeviceFace::room() {
  if (!running_ || requests_.empty()) return;
  Request front = std::move(requests_.front());
  requests_.pop_front();
  running_ = false;
  if (front.attribute) changing_.at(*front.attribute) = false;
  front.done->set_value({true, instrument_.take_errors(*client_, false)});
  refresh();
  submit_front();
}

void DeviceFace::reachability_changed(DeviceFault fault) {
  fault_ = fault;
  refresh();
}

void DeviceFace::refresh() {
  const GeneratorState& device = instrument_.device();
  Observed observed{instrument_.settings(),
                    device.held(),
                    device.pass(),
                    device.port(),
                    fault_,
                    port_name_,
                    changing_};
  Snapshot now = snapshot_of(observed, attributes_);
  {
    const std::lock_guard lock(mutex_);
    if (now == snapshot_) return;
    snapshot_ = std::move(now);
    ++count_;
  }
  fresh_.notify_all();
}

}  // namespace talmir880::control
