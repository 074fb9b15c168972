#include "programs/talmir880-scpi/faces.hpp"

#include <algorithm>
#include <chrono>
#include <utility>

#include "programs/common/command_line.hpp"
#include "programs/talmir880-scpi/journal.hpp"

namespace talmir880::programs {

ServerFaces::ServerFaces(const ServerOptions& options, ServedGenerators& generators,
                         net::PeerGuard& guard)
    : options_(options), generators_(generators), guard_(guard) {
  for (const auto& generator : generators_) instruments_.push_back(&generator->instrument());
}

int ServerFaces::open(const std::string& password, const tls::Credentials& credentials,
                      [[maybe_unused]] std::function<void(int)> stdio_ended) {
#if TALMIR880_STDIO
  if (options_.stdio) {
    session_ =
        std::make_unique<scpi::StdioTransport>(*instruments_.front(), std::move(stdio_ended));
    return 0;
  }
#endif
  if (options_.raw) {
    if (const int status = bind_raw()) return status;
  }
#if TALMIR880_VXI11
  std::string vxi11_off;
  if (options_.vxi11) {
    vxi11_server_ =
        bind_vxi11(instruments_, guard_, options_.vxi11_host, options_.vxi11_port, vxi11_off);
  }
#endif
  if (options_.http || options_.https) {
    std::vector<web::WebGenerator> served;
    for (std::size_t i = 0; i < instruments_.size(); ++i) {
      served.push_back({instruments_[i], servers_.empty() ? 0 : servers_[i]->port()});
    }
    web_server_ =
        bind_web(std::move(served), guard_, options_, password, credentials, say, journal);
    if (!web_server_) return 1;
  }
  if (options_.raw) say_listening();
  [[maybe_unused]] bool vxi11_registered = false;
#if TALMIR880_VXI11
  if (options_.vxi11) {
    vxi11_server_ = register_vxi11(std::move(vxi11_server_), vxi11_off, instruments_.size(), guard_,
                                   options_.vxi11_host, rpcbind_entry_, say, "talmir880-scpi");
    vxi11_registered = vxi11_server_ != nullptr;
  }
#endif
  if (web_server_) say_web(*web_server_, options_, !password.empty(), credentials.fingerprint, say);
#if TALMIR880_DNS_SD
  if (options_.mdns) announce(vxi11_registered);
#endif
  return 0;
}

void ServerFaces::close() {
#if TALMIR880_DNS_SD
  presence_.stop();
  announcement_.reset();
#endif
  servers_.clear();
#if TALMIR880_VXI11
  vxi11_server_.reset();
#endif
  web_server_.reset();
}

// Generator i's raw socket on the listening port + i (any free port for
// each when that is 0), listening but not yet said.
int ServerFaces::bind_raw() {
  if (!scpi::TcpTransport::is_address(options_.host)) {
    say("--listen: " + options_.host + " is not an IP address");
    return 2;
  }
  for (std::size_t i = 0; i < instruments_.size(); ++i) {
    auto& server =
        servers_.emplace_back(std::make_unique<scpi::TcpTransport>(*instruments_[i], guard_));
    const int port = options_.tcp_port == 0 ? 0 : options_.tcp_port + static_cast<int>(i);
    std::string why;
    if (!server->listen(options_.host, port, why)) {
      say("cannot listen on " + net::address_text(options_.host, port) + ": " + why);
      return 1;
    }
  }
  return 0;
}

// Where each raw socket listens; the warning once, after the first.
void ServerFaces::say_listening() const {
  for (std::size_t i = 0; i < generators_.size(); ++i) {
    std::string where = "listening on " + net::address_text(options_.host, servers_[i]->port()) +
                        ", device " + generators_[i]->device();
    if (options_.ports[i].name != generators_[i]->device()) {
      where += ", named " + options_.ports[i].name;
    }
    const std::vector<std::string> lines =
        listening_lines(where, "listening", options_.host, guard_.limits());
    for (std::size_t l = 0; l < (i == 0 ? lines.size() : 1); ++l) say(lines[l]);
  }
}

#if TALMIR880_DNS_SD
std::vector<mdns::Generator> ServerFaces::announced() const {
  std::vector<mdns::Generator> list;
  for (std::size_t i = 0; i < generators_.size(); ++i) {
    list.push_back({generators_[i]->instrument().identity().serial,
                    servers_.empty() ? 0 : servers_[i]->port(), generators_[i]->present()});
  }
  return list;
}

void ServerFaces::announce(bool vxi11_registered) {
  last_announced_ = announced();
  announcement_ =
      announce_server(last_announced_,
                      {options_.host, vxi11_registered, options_.vxi11_host,
                       web_server_ && options_.http ? web_server_->port() : 0, options_.http_host,
                       web_server_ ? web_server_->https_port() : 0, options_.https_host},
                      say);
  // The services follow the ports: an adapter pulled is withdrawn, one
  // plugged in announced, within the period.
  QObject::connect(&presence_, &QTimer::timeout, [this] {
    for (const auto& generator : generators_) generator->look_for_device();
    std::vector<mdns::Generator> now = announced();
    const auto same = [](const mdns::Generator& a, const mdns::Generator& b) {
      return a.present == b.present;
    };
    if (!announcement_ ||
        std::equal(now.begin(), now.end(), last_announced_.begin(), last_announced_.end(), same)) {
      return;
    }
    last_announced_ = std::move(now);
    announcement_->update(last_announced_);
  });
  presence_.start(std::chrono::seconds(2));
}
#endif

}  // namespace talmir880::programs
