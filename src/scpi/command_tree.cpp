#include "scpi/command_tree.hpp"

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "scpi/status.hpp"

namespace talmir880::scpi {

struct Node {
  std::string_view name;  // SCPI spelling: short form in capitals
  bool optional = false;
  std::optional<Command> command;
  std::vector<Node> children;
};

namespace {

Node node(std::string_view name, std::vector<Node> children) {
  return {name, false, std::nullopt, std::move(children)};
}
Node leaf(std::string_view name, Command c) { return {name, false, c, {}}; }
Node optional(Node n) {
  n.optional = true;
  return n;
}

const Node& root() {
  static const Node tree = node(
      "",
      {optional(node(
           "SOURce",
           {node("FREQuency",
                 {optional(leaf("CW", Command::frequency)),
                  optional(leaf("FIXed", Command::frequency)),
                  leaf("STARt", Command::frequency_start), leaf("STOP", Command::frequency_stop),
                  leaf("MODE", Command::frequency_mode)}),
            node("POWer",
                 {optional(node("LEVel",
                                {optional(node("IMMediate",
                                               {optional(leaf("AMPLitude", Command::power))}))}))}),
            node("LFOutput", {leaf("FREQuency", Command::lf_frequency)}),
            node("SWEep", {leaf("POINts", Command::sweep_points)})})),
       node("OUTPut", {optional(leaf("STATe", Command::output)),
                       node("MODulation", {optional(leaf("STATe", Command::modulation))})}),
       node("INITiate", {optional(leaf("IMMediate", Command::initiate)),
                         leaf("CONTinuous", Command::continuous)}),
       leaf("ABORt", Command::abort),
       node("SYSTem", {node("ERRor", {optional(leaf("NEXT", Command::system_error))}),
                       leaf("VERSion", Command::system_version)})});
  return tree;
}

struct Match {
  Command command;
  const Node* path;  // where the next relative header starts
};

// Depth first, written mnemonics before left-out optional nodes. The path is
// the parent of the node the last written mnemonic matched.
std::optional<Match> descend(const Node& at, std::span<const std::string> tokens) {
  if (tokens.empty()) {
    if (at.command) return Match{*at.command, nullptr};
    for (const Node& child : at.children) {
      if (!child.optional) continue;
      if (auto m = descend(child, tokens)) return m;
    }
    return std::nullopt;
  }
  for (const Node& child : at.children) {
    if (!matches(child.name, tokens.front())) continue;
    if (auto m = descend(child, tokens.subspan(1))) {
      if (m->path == nullptr) m->path = &at;
      return m;
    }
  }
  for (const Node& child : at.children) {
    if (!child.optional) continue;
    if (auto m = descend(child, tokens)) return m;
  }
  return std::nullopt;
}

struct Common {
  std::string_view name;
  Command command;
};
constexpr std::array<Common, 11> kCommon = {{{"CLS", Command::cls},
                                             {"ESE", Command::ese},
                                             {"ESR", Command::esr},
                                             {"IDN", Command::idn},
                                             {"OPC", Command::opc},
                                             {"RST", Command::rst},
                                             {"SAV", Command::sav},
                                             {"SRE", Command::sre},
                                             {"STB", Command::stb},
                                             {"TST", Command::tst},
                                             {"WAI", Command::wai}}};

// Which of the two forms, setting and query, a command has.
bool has_form(Command c, bool query) {
  switch (c) {
    case Command::system_error:
    case Command::system_version:
    case Command::esr:
    case Command::idn:
    case Command::stb:
    case Command::tst:
      return query;
    case Command::initiate:
    case Command::abort:
    case Command::cls:
    case Command::rst:
    case Command::sav:
    case Command::wai:
      return !query;
    default:
      return true;
  }
}

}  // namespace

HeaderPath::HeaderPath() : at_(&root()) {}

Command HeaderPath::resolve(const ProgramUnit& unit) {
  std::optional<Match> found;
  if (unit.common) {
    for (const Common& c : kCommon) {
      if (unit.nodes.front() == c.name) found = Match{c.command, at_};
    }
  } else {
    found = descend(unit.rooted ? root() : *at_, unit.nodes);
  }
  if (!found || !has_form(found->command, unit.query)) throw Refused{kUndefinedHeader};
  at_ = found->path;
  return found->command;
}

}  // namespace talmir880::scpi
