#pragma once

#include "app/form1.hpp"
#include "device/device_session.hpp"
#include "scpi/instrument.hpp"

namespace talmir880 {

// The automation server's instrument behind the front panel: it drives the
// device over the line the panel owns, and what it does shows on the panel
// as the same change by hand would leave it.
class ServedPanel : private scpi::InstrumentEvents {
 public:
  ServedPanel(Form1& form, DeviceSession::Countdowns countdowns);
  ServedPanel(const ServedPanel&) = delete;
  ServedPanel& operator=(const ServedPanel&) = delete;

  scpi::Instrument& instrument() { return instrument_; }

 private:
  void settings_changed(Generator::Changer by) override;
  void pass_started(int points, bool repeating) override;
  void sweep_ended() override;
  void lockout_changed(bool locked) override;

  Form1& form_;
  scpi::Instrument instrument_;
  // The sweep's fields as the server last knew them: they are shown only
  // when they change, never over what the user is typing for another reason.
  double start_hz_;
  double stop_hz_;
  int points_;
};

}  // namespace talmir880
