#include "scpi/header_path.hpp"

#include <span>

#include "generator/status.hpp"
#include "scpi/command_rows.hpp"
#include "scpi/parameters.hpp"

namespace talmir880::scpi {
namespace {

struct PatternNode {
  std::string_view name;
  bool optional;
};

// "[SOURce]:FREQuency[:CW]" as its nodes.
std::vector<PatternNode> nodes_of(std::string_view header) {
  std::vector<PatternNode> out;
  std::size_t at = 0;
  while (at < header.size()) {
    const bool optional = header[at] == '[';
    if (optional) ++at;
    if (header[at] == ':') ++at;
    const std::size_t end = header.find_first_of(optional ? "]" : ":[", at);
    out.push_back({header.substr(at, end - at), optional});
    at = end == std::string_view::npos ? header.size() : end + (optional ? 1 : 0);
  }
  return out;
}

struct Compiled {
  const Row* row;
  std::vector<PatternNode> nodes;
};

const std::vector<Compiled>& compiled() {
  static const std::vector<Compiled> table = [] {
    std::vector<Compiled> out;
    for (const Row& row : rows()) {
      if (!row.header.starts_with('*')) out.push_back({&row, nodes_of(row.header)});
    }
    return out;
  }();
  return table;
}

// Written mnemonics before left-out optional nodes; `last` is the index of
// the node the last written mnemonic matched.
bool match(std::span<const PatternNode> pattern, std::size_t p, std::span<const std::string> tokens,
           std::size_t t, std::size_t& last) {
  if (p == pattern.size()) return t == tokens.size();
  if (t < tokens.size() && matches(pattern[p].name, tokens[t])) {
    const std::size_t saved = last;
    last = p;
    if (match(pattern, p + 1, tokens, t + 1, last)) return true;
    last = saved;
  }
  return pattern[p].optional && match(pattern, p + 1, tokens, t, last);
}

std::string short_form(std::string_view name) {
  std::string out;
  for (char ch : name) {
    if (ch >= 'a' && ch <= 'z') break;
    out += ch;
  }
  return out;
}
}  // namespace

std::string short_header(std::string_view header) {
  std::string out;
  for (const PatternNode& node : nodes_of(header)) {
    if (node.optional) continue;
    if (!out.empty()) out += ':';
    out += short_form(node.name);
  }
  return out;
}

const Row& HeaderPath::find(const ProgramUnit& unit) {
  const Row* found = nullptr;
  if (unit.common) {
    for (const Row& row : rows()) {
      if (row.header.starts_with('*') && row.header.substr(1) == unit.nodes.front() &&
          (unit.query ? row.ask != nullptr : row.set != nullptr)) {
        found = &row;
        break;
      }
    }
  } else {
    std::vector<std::string> tokens = unit.rooted ? std::vector<std::string>{} : at_;
    tokens.insert(tokens.end(), unit.nodes.begin(), unit.nodes.end());
    for (const Compiled& c : compiled()) {
      std::size_t last = 0;
      if ((unit.query ? c.row->ask == nullptr : c.row->set == nullptr) ||
          !match(c.nodes, 0, tokens, 0, last)) {
        continue;
      }
      found = c.row;
      at_.clear();
      for (std::size_t i = 0; i < last; ++i) at_.push_back(short_form(c.nodes[i].name));
      break;
    }
  }
  if (found == nullptr) throw Refused{kUndefinedHeader};
  return *found;
}

std::string_view HeaderPath::resolve(const ProgramUnit& unit) { return find(unit).header; }

void HeaderPath::run(const ProgramUnit& unit, Call& call) {
  const Row* found = &find(unit);
  call.row = found;
  if (!unit.query) {
    call.value = read_setting(found->parameter, unit);
    found->set(call);
    return;
  }
  if (!unit.parameters.empty() && has_limits(found->parameter)) {
    const Accepts& kind = found->parameter;
    add_answer(call.answers, whole(*asked_limit(unit, kind.min, kind.max)));
    return;
  }
  expect_parameters(unit, 0);
  add_answer(call.answers, found->ask(call));
}

}  // namespace talmir880::scpi
