#include "web/qt/web_pages.hpp"

#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <deque>
#include <utility>

#include "web/page_messages.hpp"
#include "web/qt/page_json.hpp"
#include "web/websocket.hpp"

namespace talmir880::web {

class WebPages::Page final : public scpi::ClientEvents {
 public:
  Page(WebPages& owner, std::unique_ptr<PageSocket> socket, bool control, std::string who)
      : owner_(owner), socket_(std::move(socket)), control_(control), who_(std::move(who)) {
    socket_->on_text = [this](const std::string& text) { received(text); };
    socket_->on_gone = [this] { owner_.remove_later(this); };
  }
  ~Page() override {
    if (!client_) return;
    // Every action the page sent runs, also after it closed; taken out
    // first, since a line may end (and room() be heard) as the next goes in.
    const std::deque<PageAction> rest = std::exchange(waiting_, {});
    for (std::size_t i = 1; i < rest.size(); ++i) owner_.instrument_.submit(*client_, rest[i].line);
    owner_.instrument_.detach(*client_);
  }
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  void send(const Message& message) { socket_->send_text(message_json(message).toStdString()); }

  void send_state() {
    PageState state;
    const GeneratorState& device = owner_.instrument_.device();
    state.held = device.held();
    state.pass = device.pass();
    state.port = device.port();
    state.settings = owner_.instrument_.settings();
    state.control = control_;
    state.password_set = owner_.password_set_;
    send(state_message(state));
    send_errors();
  }

  // What the instrument queued for this page's commands since last told:
  // a running action's errors go out with it (`ran`), the rest (a setting
  // that waited for a pass) here.
  void send_errors() {
    if (!client_ || !waiting_.empty()) return;
    // The device's own events are not the page's errors: device() tells them.
    const std::vector<std::string> errors = owner_.instrument_.take_errors(*client_, false);
    if (!errors.empty()) send(errors_message(errors));
  }

  // The page's lines answer nothing (it sends no queries).
  void answer(std::string) override {}
  // Its line has run: the page is told it, with its errors, for its SCPI
  // strip and its recording; the next goes in.
  void room() override {
    if (!waiting_.empty() && owner_.instrument_.backlog(*client_) == 0) {
      send(ran_message(waiting_.front(), owner_.instrument_.take_errors(*client_, false)));
      waiting_.pop_front();
      if (!waiting_.empty()) owner_.instrument_.submit(*client_, waiting_.front().line);
    }
    owner_.changed();
  }

 private:
  void received(const std::string& text) {
    std::optional<PageAction> action = page_action(text);
    if (!action) {
      send(refused_message(Refusal::not_an_action, text));
      return;
    }
    if (!control_) {
      send(refused_message(owner_.password_set_ ? Refusal::read_only_log_in
                                                : Refusal::read_only_this_machine));
      return;
    }
    if (!client_) {
      client_ = owner_.instrument_.attach(*this, who_);
      if (!client_) {
        send(refused_message(Refusal::clients_full));
        return;
      }
    }
    if (waiting_.size() >= scpi::Instrument::kMaxBacklog) {
      send(refused_message(Refusal::backlog_full));
      return;
    }
    // One line of the page in the instrument at a time, so that what it
    // queued when the line has run is that line's errors.
    waiting_.push_back(std::move(*action));
    if (waiting_.size() == 1) owner_.instrument_.submit(*client_, waiting_.front().line);
    owner_.changed();
  }

  WebPages& owner_;
  std::unique_ptr<PageSocket> socket_;
  bool control_;
  std::string who_;
  std::optional<ClientId> client_;
  // Its actions not yet run, in their order; the first is in the instrument.
  std::deque<PageAction> waiting_;
};

PageSocket::Limits WebPages::limits() {
  return {kMaxAction, kMaxActionsPerSecond, kActionBurst, kMaxUnsent};
}

WebPages::WebPages(scpi::Instrument& instrument, bool password_set)
    : instrument_(instrument), password_set_(password_set) {
  coalesce_.setSingleShot(true);
  QObject::connect(&coalesce_, &QTimer::timeout, &coalesce_, [this] { send_all(); });
  instrument_.observe(static_cast<scpi::InstrumentEvents&>(*this));
  instrument_.observe_device(static_cast<GeneratorObserver&>(*this));
}

WebPages::~WebPages() {
  instrument_.forget(static_cast<scpi::InstrumentEvents&>(*this));
  instrument_.forget_device(static_cast<GeneratorObserver&>(*this));
  pages_.clear();
}

bool WebPages::add(std::unique_ptr<PageSocket> socket, bool control, std::string who) {
  if (pages_.size() >= static_cast<std::size_t>(kMaxPages)) {
    // Told why, then gone once it answers or its time is up.
    PageSocket* refused = socket.get();
    refused->on_gone = [this, refused] {
      QMetaObject::invokeMethod(
          &coalesce_, [this, refused] { refused_.erase(refused); }, Qt::QueuedConnection);
    };
    refused_.emplace(refused, std::move(socket));
    refused->close(CloseCode::going_away);
    return false;
  }
  auto page = std::make_unique<Page>(*this, std::move(socket), control, std::move(who));
  Page* raw = page.get();
  pages_.emplace(raw, std::move(page));
  raw->send_state();
  return true;
}

void WebPages::changed() {
  if (coalesce_.isActive()) return;
  // Changes that come close together go out as one state.
  const auto since = std::chrono::steady_clock::now() - last_sent_;
  const auto wait = std::chrono::milliseconds(kCoalesceMs) - since;
  coalesce_.start(std::max(std::chrono::duration_cast<std::chrono::milliseconds>(wait),
                           std::chrono::milliseconds(0)));
}

void WebPages::reachability_changed(DeviceFault fault) {
  // The first reach of a port opened is no return.
  if (fault != DeviceFault::none || last_fault_ != DeviceFault::none) {
    for (auto& [raw, page] : pages_) page->send(device_message(fault));
  }
  last_fault_ = fault;
  changed();
}

void WebPages::send_all() {
  last_sent_ = std::chrono::steady_clock::now();
  // A page may close itself while it is sent to; it goes later.
  for (auto& [raw, page] : pages_) page->send_state();
}

void WebPages::remove_later(Page* page) {
  QMetaObject::invokeMethod(
      &coalesce_, [this, page] { pages_.erase(page); }, Qt::QueuedConnection);
}

}  // namespace talmir880::web
