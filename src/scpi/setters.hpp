#pragma once

// What the rows of the command table call, by family: the signal
// (setters_signal.cpp), the sweep (setters_sweep.cpp), and IEEE 488.2 with
// STATus and SYSTem (setters_common.cpp).
#include <string>

#include "scpi/command_table.hpp"

namespace talmir880::scpi::setters {

// A plain setting, by its row's description.
void set_plain(Call& c);
std::string ask_plain(Call& c);
// Each plain setting back to its start-up value.
void reset_plain(Call& c);

// The signal.
void set_frequency(Call& c);
void set_output(Call& c);
void set_lf_frequency(Call& c);
void set_modulation(Call& c);

// The sweep.
void set_start(Call& c);
void set_stop(Call& c);
void set_centre(Call& c);
void set_span(Call& c);
double centre(const Settings& s);
double span(const Settings& s);
void set_step(Call& c);
void set_points(Call& c);
void set_mode(Call& c);
void set_continuous(Call& c);
void initiate(Call& c);
void abort(Call& c);

// IEEE 488.2.
void reset(Call& c);
void save(Call& c);
void operation_complete(Call& c);
std::string ask_operation_complete(Call& c);
void wait(Call& c);
std::string ask_self_test(Call& c);
std::string ask_identity(Call& c);

}  // namespace talmir880::scpi::setters
