#pragma once

// How the log of the device's commands cites the SCPI line that caused
// one. A line may hold 64 KiB and cause thousands of commands, each of them
// one log line: the citation stays short whatever the line, so the log
// grows with the commands, not with the commands times the line.

#include <cstddef>
#include <string>
#include <string_view>

namespace talmir880::scpi {

// A longer line is cited by this many of its first bytes and its length.
inline constexpr std::size_t kCitedBytes = 100;

// The line with its control and non-ASCII bytes, and the backslash,
// written as \xNN, so that a client cannot forge or garble log lines; past
// kCitedBytes, " ... (N bytes)" follows the first of them.
std::string cited_line(std::string_view line);

}  // namespace talmir880::scpi
