// The clients: attached, fed lines, cleared, renewed and gone, with their
// status and errors.
#include "scpi/instrument.hpp"

#include <utility>

namespace talmir880::scpi {

Instrument::Instrument(SerialPort& port, DeviceSession::Countdowns countdowns)
    : own_line_(std::make_unique<SharedLine>(port, SharedLine::Owner::remote)),
      generator_(*own_line_, countdowns, statuses_, *this) {}

Instrument::Instrument(SharedLine& line, DeviceSession::Countdowns countdowns)
    : generator_(line, countdowns, statuses_, *this) {}

Instrument::~Instrument() { Deferred::here().forget(this); }

Instrument::Client* Instrument::find(ClientId client) {
  const auto at = clients_.find(client);
  return at == clients_.end() ? nullptr : &at->second;
}

std::optional<ClientId> Instrument::attach(ClientEvents& events, std::string who) {
  std::size_t attached = 0;
  std::size_t left_behind = 0;
  for (const auto& [id, c] : clients_) {
    // A client that can send nothing more holds no place: its lines still
    // run and are answered, counted with those of clients that left.
    if (c.events != nullptr && !c.ended) {
      ++attached;
    } else {
      left_behind += c.lines.size() + (c.running ? 1 : 0);
    }
  }
  // Clients that left still have their lines run; a stream of clients that
  // send and leave must not grow that without bound.
  if (attached >= kMaxClients || left_behind >= kMaxClients * kMaxBacklog) return std::nullopt;
  const ClientId id = next_id_++;
  clients_.emplace(id, Client{&events, std::move(who), {}, nullptr});
  statuses_.add(id);
  if (off_ == Off::unused) off_ = Off::none;
  return id;
}

void Instrument::submit(ClientId client, std::string line) {
  Client* c = find(client);
  if (c == nullptr || c->events == nullptr || c->ended) return;
  if (backlog(client) >= kMaxBacklog) {
    statuses_.report(client, kInputBufferOverrun);
    return;
  }
  c->lines.push_back({std::move(line), false});
  if (safety_.idle != nullptr) safety_.idle->start();
  lines_since_off_ = true;
  if (off_ == Off::idle) off_ = Off::none;
  pump();
}

void Instrument::overrun(ClientId client) {
  Client* c = find(client);
  if (c == nullptr || c->events == nullptr || c->ended) return;
  if (backlog(client) >= kMaxBacklog) {
    statuses_.report(client, kInputBufferOverrun);
    return;
  }
  c->lines.push_back({{}, true});
  pump();
}

void Instrument::end_of_input(ClientId client) {
  if (Client* c = find(client)) c->ended = true;
  pump();
}

void Instrument::detach(ClientId client) {
  if (Client* c = find(client)) {
    c->events = nullptr;
    c->ended = true;
  }
  generator_.client_left(client);
  if (safety_.when_unused && lines_since_off_ && attached() == 0 && off_ == Off::none) {
    off_ = Off::unused;
  }
  pump();
}

std::size_t Instrument::backlog(ClientId client) const {
  const auto at = clients_.find(client);
  if (at == clients_.end()) return 0;
  return at->second.lines.size() + (at->second.running ? 1 : 0);
}

void Instrument::clear(ClientId client) {
  if (Client* c = find(client)) c->lines.clear();
  if (Status* status = statuses_.find(client)) status->clear();
  pump();
}

std::optional<ClientId> Instrument::renew(ClientId client, ClientEvents& events) {
  const Status* old = statuses_.find(client);
  if (old == nullptr) return std::nullopt;
  const Status kept = *old;
  const Client* was = find(client);
  const std::optional<ClientId> fresh = attach(events, was != nullptr ? was->who : std::string());
  if (!fresh) return std::nullopt;
  Status& status = *statuses_.find(*fresh);
  status.set_event_enable(kept.event_enable());
  status.set_service_enable(kept.service_enable());
  status.operation.set_enable(kept.operation.enable());
  status.questionable.set_enable(kept.questionable.enable());
  detach(client);
  return fresh;
}

int Instrument::status_byte(ClientId client) {
  const Status* status = statuses_.find(client);
  return status == nullptr ? 0 : status->status_byte(false);
}

bool Instrument::error_seen(ClientId client) {
  const Status* status = statuses_.find(client);
  return status != nullptr && status->any_error();
}

bool Instrument::idle() const { return lines_done() && off_ == Off::none && generator_.idle(); }

bool Instrument::lines_done() const {
  for (const auto& [id, c] : clients_) {
    if (c.running || !c.lines.empty()) return false;
  }
  return true;
}

std::size_t Instrument::attached() const {
  std::size_t n = 0;
  for (const auto& [id, c] : clients_) n += c.events != nullptr ? 1 : 0;
  return n;
}

std::vector<std::string> Instrument::take_errors(ClientId client, bool events) {
  std::vector<std::string> out;
  Status* status = statuses_.find(client);
  while (status != nullptr && status->queued() > 0) {
    const bool event = status->next_is_event();
    std::string error = status->next_error();
    if (events || !event) out.push_back(std::move(error));
  }
  return out;
}

}  // namespace talmir880::scpi
