#include "web/list_page.hpp"

#include "web/lxi.hpp"
#include "web/page_messages.hpp"
#include "web/routes.hpp"

namespace talmir880::web {
namespace {

const char* port_class(PortState port) {
  if (port == PortState::open) return "on";
  return port == PortState::closed ? "off" : "bad";
}

// Never "off" while it may be on.
const char* switched_class(Switched output) {
  return output == Switched::unsure ? "bad" : switched_text(output);
}
const char* switched_words(Switched output) {
  return output == Switched::unsure ? "not confirmed" : switched_text(output);
}

std::string generator_html(std::size_t index, const ListedGenerator& g) {
  const std::string id = "inst" + std::to_string(index);
  const std::string name = xml_text(g.name);
  const auto row = [](const char* term, const std::string& value) {
    return "      <dt>" + std::string(term) + "</dt><dd>" + value + "</dd>\n";
  };
  std::string out = "  <section aria-labelledby=\"" + id +
                    "-title\" class=\"generator\" data-live=\"" + generator_path(index) + "ws\">\n";
  out += "    <h2 id=\"" + id + "-title\">" + name + "</h2>\n";
  out += "    <dl>\n";
  out += row("Port", "<output id=\"" + id + "-port\" class=\"" + port_class(g.port) + "\">" +
                         port_text(g.port) + "</output>");
  out += row("RF output", "<output id=\"" + id + "-rf\" class=\"" + switched_class(g.rf) + "\">" +
                              switched_words(g.rf) + "</output>");
  if (!g.socket_resource.empty()) out += row("VISA (SOCKET)", xml_text(g.socket_resource));
  if (!g.instr_resource.empty()) out += row("VISA (INSTR)", xml_text(g.instr_resource));
  out += "    </dl>\n";
  out += "    <p><a href=\"" + generator_path(index) + "\">Front panel of " + name + "</a></p>\n";
  out += "  </section>\n";
  return out;
}

}  // namespace

std::string list_html(const std::vector<ListedGenerator>& generators) {
  std::string out =
      "<!DOCTYPE html>\n"
      "<html lang=\"en\">\n"
      "<head>\n"
      "<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>TALMIR-880 generators</title>\n"
      "<link rel=\"stylesheet\" href=\"/page.css\">\n"
      "<script src=\"/list.js\" defer></script>\n"
      "</head>\n"
      "<body>\n"
      "<header>\n"
      "  <h1>TALMIR-880 <span class=\"sub\">" +
      std::to_string(generators.size()) +
      " RF signal generators</span></h1>\n"
      "  <p id=\"link\" role=\"status\">Connecting…</p>\n"
      "</header>\n"
      "<main class=\"list\">\n";
  for (std::size_t i = 0; i < generators.size(); ++i) out += generator_html(i, generators[i]);
  out +=
      "  <section aria-labelledby=\"server-title\" class=\"wide\">\n"
      "    <h2 id=\"server-title\">Server</h2>\n"
      "    <p><a href=\"/lxi/identification\">LXI identification of all generators (XML)</a></p>\n"
      "  </section>\n"
      "</main>\n"
      "</body>\n"
      "</html>\n";
  return out;
}

}  // namespace talmir880::web
