#pragma once

#include <QTimer>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "device/generator_state.hpp"
#include "scpi/instrument.hpp"
#include "web/qt/page_socket.hpp"
#include "web/sessions.hpp"

namespace talmir880::web {

// The open pages on /ws: each shows the generator as it changes and sends
// its actions as SCPI lines, as one more client of the instrument with its
// own error queue. A page takes a client when it first acts, so pages that
// only watch hold none of the instrument's places.
//
// A change goes out to every page as one state message on the event loop's
// next turn, and at most one such message every kCoalesceMs: what comes
// meanwhile is gathered into the next, so a pass's progress or a script's
// burst costs each page twenty small messages a second at most.
class WebPages : private scpi::InstrumentEvents, private GeneratorObserver {
 public:
  static constexpr int kCoalesceMs = 50;
  static constexpr int kMaxPages = 16;
  // A page sends on a key press or a click: more than this a second, on
  // average, is no hand, and its page is closed. Up to kActionBurst may
  // come at once: what a page sending 5 a second left while the server
  // stalled for 12 s.
  static constexpr int kMaxActionsPerSecond = 20;
  static constexpr int kActionBurst = 60;
  // State messages a page leaves unread, in our buffer and the system's;
  // past this it is closed.
  static constexpr qint64 kMaxUnsent = 256 * 1024;
  // The limits of each page's WebSocket.
  static PageSocket::Limits limits();

  WebPages(scpi::Instrument& instrument, bool password_set);
  ~WebPages() override;
  WebPages(const WebPages&) = delete;
  WebPages& operator=(const WebPages&) = delete;

  // A WebSocket just opened; `control` whether its visitor may change
  // settings, `who` its name in the command log. Takes it over; false (and
  // closes it) when kMaxPages are open.
  bool add(std::unique_ptr<PageSocket> socket, bool control, std::string who);

 private:
  class Page;

  void changed();
  void send_all();
  void remove_later(Page* page);

  // InstrumentEvents and GeneratorObserver: everything shows the same way.
  // Gone or back, to every page at once, apart from its errors.
  void reachability_changed(DeviceFault fault) override;
  void settings_changed(Generator::Changer) override { changed(); }
  void pass_started(int, bool) override { changed(); }
  void sweep_ended() override { changed(); }
  void held_changed(Fact, Face, bool) override { changed(); }
  void pass_began(const Pass&) override { changed(); }
  void pass_progressed(const Pass&) override { changed(); }
  void pass_ended(Face) override { changed(); }
  void port_changed(PortState) override { changed(); }
  void became_unsure(Fact) override { changed(); }

  scpi::Instrument& instrument_;
  bool password_set_;
  QTimer coalesce_;
  std::chrono::steady_clock::time_point last_sent_{};
  std::map<Page*, std::unique_ptr<Page>> pages_;
  // Pages turned away, until their close is done.
  std::map<PageSocket*, std::unique_ptr<PageSocket>> refused_;
  DeviceFault last_fault_ = DeviceFault::none;
};

}  // namespace talmir880::web
