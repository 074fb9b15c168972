#include "web/list_page.hpp"

#include "web/page_messages.hpp"
#include "web/page_texts.hpp"
#include "web/routes.hpp"

namespace talmir880::web {
namespace {

// Text and attribute values as HTML has them.
std::string html_text(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

const char* port_class(PortState port) {
  if (port == PortState::open) return "on";
  return port == PortState::closed ? "off" : "bad";
}

// An element's text as list.js words it in the visitor's language: the
// key, its argument, and the English text until the script has run.
std::string text(const std::string& key, const std::string& arg = {}) {
  std::string english(page_text(key)->text[2]);
  std::string out = " data-text=\"" + key + "\"";
  if (const std::size_t at = english.find("{}"); at != std::string::npos) {
    english.replace(at, 2, arg);
    out += " data-arg=\"" + html_text(arg) + "\"";
  }
  return out + ">" + html_text(english);
}

// Never "off" while it may be on.
const char* switched_class(Switched output) {
  return output == Switched::unsure ? "bad" : switched_text(output);
}
const char* switched_key(Switched output) {
  return output == Switched::unsure ? "not_confirmed" : switched_text(output);
}

std::string generator_html(std::size_t index, const ListedGenerator& g) {
  const std::string id = "inst" + std::to_string(index);
  const auto row = [](const std::string& term, const std::string& value) {
    return "      <dt" + text(term) + "</dt><dd>" + value + "</dd>\n";
  };
  const auto visa = [](const std::string& resource, bool this_machine_only) {
    if (this_machine_only) return "<span" + text("this_machine_only") + "</span>";
    return visa_html(resource);
  };
  std::string out = "  <section aria-labelledby=\"" + id +
                    "-title\" class=\"generator\" data-live=\"" + generator_path(index) + "ws\">\n";
  out += "    <h2 id=\"" + id + "-title\">" + html_text(g.name) + "</h2>\n";
  out += "    <dl>\n";
  out += row("port", "<output id=\"" + id + "-port\" class=\"" + port_class(g.port) + "\"" +
                         text(std::string("port_") + port_text(g.port)) + "</output>");
  out += row("rf_out", "<output id=\"" + id + "-rf\" class=\"" + switched_class(g.rf) + "\"" +
                           text(switched_key(g.rf)) + "</output>");
  if (!g.socket_resource.empty() || g.socket_this_machine_only) {
    out += row("visa_socket", visa(g.socket_resource, g.socket_this_machine_only));
  }
  if (!g.instr_resource.empty() || g.instr_this_machine_only) {
    out += row("visa_instr", visa(g.instr_resource, g.instr_this_machine_only));
  }
  out += "    </dl>\n";
  out += "    <p><a href=\"" + generator_path(index) + "\"" + text("front_panel_of", g.name) +
         "</a></p>\n";
  out += "  </section>\n";
  return out;
}

}  // namespace

std::string visa_html(const std::string& resource) {
  // Each field with its "::" unbroken, so that a narrow screen breaks the
  // string only between them; an IPv6 host's own "::" stays inside.
  std::string out = "<span class=\"visa\">";
  std::size_t from = 0;
  std::size_t at = 0;
  while ((at = resource.find("::", at)) != std::string::npos) {
    const std::size_t open = resource.rfind('[', at);
    const std::size_t close = resource.rfind(']', at);
    const bool inside = open != std::string::npos && (close == std::string::npos || close < open);
    at += 2;
    if (inside) continue;
    out += "<span>" + html_text(resource.substr(from, at - from)) + "</span><wbr>";
    from = at;
  }
  return out + "<span>" + html_text(resource.substr(from)) + "</span></span>";
}

std::string list_html(const std::vector<ListedGenerator>& generators) {
  std::string out =
      "<!DOCTYPE html>\n"
      "<html lang=\"en\">\n"
      "<head>\n"
      "<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title" +
      text("generators") +
      "</title>\n"
      "<link rel=\"stylesheet\" href=\"/page.css\">\n"
      "<script src=\"/texts.js\" defer></script>\n"
      "<script src=\"/lang.js\" defer></script>\n"
      "<script src=\"/list.js\" defer></script>\n"
      "</head>\n"
      "<body>\n"
      "<header>\n"
      "  <h1>TALMIR-880 <span class=\"sub\"" +
      text("n_generators", std::to_string(generators.size())) +
      "</span></h1>\n"
      "  <p id=\"link\" role=\"status\"" +
      text("connecting") +
      "</p>\n"
      "  <p class=\"language\"><label for=\"language\"" +
      text("language") +
      "</label> <select id=\"language\"></select></p>\n"
      "</header>\n"
      "<main class=\"list\">\n";
  for (std::size_t i = 0; i < generators.size(); ++i) out += generator_html(i, generators[i]);
  out +=
      "  <section aria-labelledby=\"server-title\" class=\"wide\">\n"
      "    <h2 id=\"server-title\"" +
      text("server") +
      "</h2>\n"
      "    <p><a href=\"/lxi/identification\"" +
      text("lxi_xml_all") +
      "</a></p>\n"
      "  </section>\n"
      "</main>\n"
      "</body>\n"
      "</html>\n";
  return out;
}

}  // namespace talmir880::web
