#pragma once

// A command line as one table: each row is a flag, how it is written in
// --help, what it takes and what it sets. The parser and the help text are
// both made from the rows, so a flag cannot be parsed and left undescribed.

#include <algorithm>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talmir880::programs {

enum class Takes { nothing, value, optional_value };

// --help's width.
inline constexpr std::size_t kHelpWidth = 80;

// `text` in lines of at most `width` characters, broken greedily at spaces
// (a longer word stands alone). A line break in it is a space, but an
// empty line stays: it parts paragraphs.
inline std::vector<std::string> flowed(std::string_view text, std::size_t width) {
  std::vector<std::string> out;
  bool open = false;  // a paragraph's line is being filled
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view raw = text.substr(start, end - start);
    if (raw.empty() && end < text.size()) {
      out.emplace_back();
      open = false;
    }
    for (std::size_t at = 0; at < raw.size();) {
      std::size_t stop = raw.find(' ', at);
      if (stop == std::string_view::npos) stop = raw.size();
      const std::string_view word = raw.substr(at, stop - at);
      if (!word.empty()) {
        if (open && out.back().size() + 1 + word.size() <= width) {
          out.back().append(" ").append(word);
        } else {
          out.emplace_back(word);
          open = true;
        }
      }
      at = stop + 1;
    }
    start = end + 1;
  }
  return out;
}

// The same as text: each line ended by a line break.
inline std::string flowed_text(std::string_view text, std::size_t width = kHelpWidth) {
  std::string out;
  for (const std::string& line : flowed(text, width)) out += line + "\n";
  return out;
}

// `Target` is what a parse fills: the options and whatever the rows note
// on the way.
template <typename Target>
struct OptionRow {
  std::string_view flag{};  // "--port"; "" for a row of help alone
  Takes takes = Takes::nothing;
  // Applies the flag and its value (none for a switch, or for an optional
  // value left out); the whole refusal text when the value will not do.
  std::function<std::optional<std::string>(Target&, std::optional<std::string_view>)> take =
      nullptr;
  std::string_view argument{};  // "COMn|N|DEVICE", as --help writes it
  // --help's lines for the flag, "{default}" standing for `default_value`;
  // "" to leave the row out of --help. A row without a flag or label is a
  // paragraph of its own, printed as it stands.
  std::string help = "";
  std::string default_value = "";
  std::string_view label{};  // --help's left column, when not the flag and argument
};

// A row that sets one field of the target to a fixed value.
template <typename Target, typename Field>
std::function<std::optional<std::string>(Target&, std::optional<std::string_view>)> sets(
    Field Target::*field, Field value) {
  return [field, value](Target& target, std::optional<std::string_view>) {
    target.*field = value;
    return std::optional<std::string>();
  };
}

// Arguments without the program name, through the rows; "--flag value" and
// "--flag=value". An optional value is the next argument unless that looks
// like a flag. The error text, or nothing once every argument is taken.
template <typename Target>
std::optional<std::string> parse_with(const std::vector<OptionRow<Target>>& rows,
                                      const std::vector<std::string>& args, Target& out) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string flag = args[i];
    std::optional<std::string> value;
    if (const std::size_t eq = flag.find('='); flag.starts_with("--") && eq != std::string::npos) {
      value = flag.substr(eq + 1);
      flag.resize(eq);
    }
    const OptionRow<Target>* row = nullptr;
    for (const OptionRow<Target>& r : rows) {
      if (!r.flag.empty() && r.flag == flag) row = &r;
    }
    if (row == nullptr) return "unknown option " + args[i];
    if (row->takes == Takes::nothing && value) return flag + " takes no value";
    if (row->takes == Takes::value && !value) {
      if (i + 1 >= args.size()) return flag + " needs a value";
      value = args[++i];
    }
    if (row->takes == Takes::optional_value && !value && i + 1 < args.size() &&
        !args[i + 1].starts_with("-")) {
      value = args[++i];
    }
    if (std::optional<std::string> error = row->take(out, value)) return error;
  }
  return std::nullopt;
}

// The rows' part of --help: two spaces, the flag and its argument, and the
// help from `column` on (one space after a label that reaches it), flowed
// to the width with its further lines indented to it; a label past the
// column has the help on the lines below it.
template <typename Target>
std::string help_text(const std::vector<OptionRow<Target>>& rows, std::size_t column) {
  std::string out;
  for (const OptionRow<Target>& row : rows) {
    std::string label(row.label);
    if (label.empty() && !row.flag.empty()) {
      label = std::string(row.flag) + (row.argument.empty() ? "" : " ") + std::string(row.argument);
    }
    if (label.empty()) {
      out += flowed_text(row.help);
      continue;
    }
    if (row.help.empty() && row.label.empty()) continue;
    std::string help = row.help;
    if (const std::size_t at = help.find("{default}"); at != std::string::npos) {
      help.replace(at, std::string_view("{default}").size(), row.default_value);
    }
    std::string line = "  " + label;
    if (help.empty()) {
      out += line + "\n";
      continue;
    }
    if (line.size() <= column) {
      line.resize(std::max(column, line.size() + 1), ' ');
    } else {
      out += line + "\n";
      line.assign(column, ' ');
    }
    for (const std::string& words : flowed(help, kHelpWidth - column)) {
      out += line + words + "\n";
      line.assign(column, ' ');
    }
  }
  return out;
}

// --help's synopsis: "Usage: PROGRAM " and `lines`, which lay the flags out
// (brackets, " | ", "..."), the further lines under the first. Each flag
// they name is written with its argument, every form --help gives it joined
// by "|"; a flag --help describes that the lines leave out goes on a last
// line of its own, so no flag can be missing from the synopsis.
template <typename Target>
std::string synopsis(std::string_view program, const std::vector<OptionRow<Target>>& rows,
                     const std::vector<std::string_view>& lines) {
  const auto in_flag = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
  };
  const auto with_argument = [&rows](std::string_view flag) {
    std::string forms;
    for (const OptionRow<Target>& row : rows) {
      std::string_view form;
      if (row.flag == flag) {
        form = row.argument;
      } else if (row.flag.empty() && row.label.starts_with(flag) &&
                 row.label.substr(flag.size()).starts_with(' ')) {
        form = row.label.substr(flag.size() + 1);
      }
      if (!form.empty()) forms += (forms.empty() ? "" : "|") + std::string(form);
    }
    return std::string(flag) + (forms.empty() ? "" : " ") + forms;
  };
  std::vector<std::string_view> named;
  std::vector<std::string> out_lines;
  for (std::string_view line : lines) {
    std::string text;
    for (std::size_t i = 0; i < line.size();) {
      if (line[i] != '-' || (i > 0 && in_flag(line[i - 1]))) {
        text += line[i++];
        continue;
      }
      std::size_t end = i;
      while (end < line.size() && in_flag(line[end])) ++end;
      named.push_back(line.substr(i, end - i));
      text += with_argument(named.back());
      i = end;
    }
    out_lines.push_back(text);
  }
  std::string left_out;
  for (const OptionRow<Target>& row : rows) {
    if (row.flag.empty() || row.help.empty() ||
        std::find(named.begin(), named.end(), row.flag) != named.end())
      continue;
    left_out += (left_out.empty() ? "[" : " [") + with_argument(row.flag) + "]";
  }
  if (!left_out.empty()) out_lines.push_back(left_out);
  const std::string first = "Usage: " + std::string(program) + " ";
  std::string out;
  for (const std::string& line : out_lines) {
    out += (out.empty() ? first : std::string(first.size(), ' ')) + line + "\n";
  }
  return out;
}

}  // namespace talmir880::programs
