#include "web/qt/list_document.hpp"

#include <QXmlStreamWriter>
#include <utility>

#include "web/routes.hpp"

namespace talmir880::web {
namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

// HTML's empty elements other than its void ones need their end tag.
void end_tag(QXmlStreamWriter& html, const char* name,
             std::initializer_list<std::pair<const char*, QString>> attributes) {
  html.writeStartElement(name);
  for (const auto& [attribute, value] : attributes) html.writeAttribute(attribute, value);
  html.writeCharacters({});
  html.writeEndElement();
}

// An element with a text list.js words in the visitor's language.
void worded(QXmlStreamWriter& html, const char* name, const ListText& t,
            std::initializer_list<std::pair<const char*, QString>> attributes = {}) {
  html.writeStartElement(name);
  for (const auto& [attribute, value] : attributes) html.writeAttribute(attribute, value);
  html.writeAttribute("data-text", text(t.key));
  if (t.arg) html.writeAttribute("data-arg", text(*t.arg));
  html.writeCharacters(text(t.english));
  html.writeEndElement();
}

void visa(QXmlStreamWriter& html, const std::string& resource) {
  html.writeStartElement("span");
  html.writeAttribute("class", "visa");
  bool first = true;
  for (const std::string& piece : visa_pieces(resource)) {
    if (!first) html.writeEmptyElement("wbr");
    first = false;
    html.writeTextElement("span", text(piece));
  }
  html.writeEndElement();
}

void generator(QXmlStreamWriter& html, std::size_t index, const ListedGenerator& g) {
  const QString id = "inst" + QString::number(index);
  html.writeStartElement("section");
  html.writeAttribute("aria-labelledby", id + "-title");
  html.writeAttribute("class", "generator");
  html.writeAttribute("data-live", text(generator_path(index) + "ws"));
  html.writeStartElement("h2");
  html.writeAttribute("id", id + "-title");
  html.writeCharacters(text(g.name));
  html.writeEndElement();
  html.writeStartElement("dl");
  worded(html, "dt", list_text("port"));
  html.writeStartElement("dd");
  worded(html, "output", list_text(port_key(g.port)),
         {{"id", id + "-port"}, {"class", port_class(g.port)}});
  html.writeEndElement();
  worded(html, "dt", list_text("rf_out"));
  html.writeStartElement("dd");
  worded(html, "output", list_text(switched_key(g.rf)),
         {{"id", id + "-rf"}, {"class", switched_class(g.rf)}});
  html.writeEndElement();
  const auto way = [&html](const char* term, const std::string& resource, bool this_machine_only) {
    if (resource.empty() && !this_machine_only) return;
    worded(html, "dt", list_text(term));
    html.writeStartElement("dd");
    if (this_machine_only) {
      worded(html, "span", list_text("this_machine_only"));
    } else {
      visa(html, resource);
    }
    html.writeEndElement();
  };
  way("visa_socket", g.socket_resource, g.socket_this_machine_only);
  way("visa_instr", g.instr_resource, g.instr_this_machine_only);
  html.writeEndElement();  // dl
  html.writeStartElement("p");
  worded(html, "a", list_text("front_panel_of", g.name), {{"href", text(generator_path(index))}});
  html.writeEndElement();
  html.writeEndElement();  // section
}

}  // namespace

QByteArray visa_html(const std::string& resource) {
  QByteArray out;
  QXmlStreamWriter html(&out);
  visa(html, resource);
  return out;
}

QByteArray list_html(const std::vector<ListedGenerator>& generators) {
  QByteArray out;
  QXmlStreamWriter html(&out);
  html.writeDTD("<!DOCTYPE html>");
  html.writeStartElement("html");
  html.writeAttribute("lang", "en");
  html.writeStartElement("head");
  html.writeEmptyElement("meta");
  html.writeAttribute("charset", "utf-8");
  html.writeEmptyElement("meta");
  html.writeAttribute("name", "viewport");
  html.writeAttribute("content", "width=device-width, initial-scale=1");
  worded(html, "title", list_text("generators"));
  html.writeEmptyElement("link");
  html.writeAttribute("rel", "stylesheet");
  html.writeAttribute("href", "/page.css");
  for (const char* script : {"/texts.js", "/lang.js", "/list.js"}) {
    end_tag(html, "script", {{"src", script}, {"defer", "defer"}});
  }
  html.writeEndElement();  // head
  html.writeStartElement("body");
  html.writeStartElement("header");
  html.writeStartElement("h1");
  html.writeCharacters("TALMIR-880 ");
  worded(html, "span", list_text("n_generators", std::to_string(generators.size())),
         {{"class", "sub"}});
  html.writeEndElement();
  worded(html, "p", list_text("connecting"), {{"id", "link"}, {"role", "status"}});
  html.writeStartElement("p");
  html.writeAttribute("class", "language");
  worded(html, "label", list_text("language"), {{"for", "language"}});
  html.writeCharacters(" ");
  end_tag(html, "select", {{"id", "language"}});
  html.writeEndElement();
  html.writeEndElement();  // header
  html.writeStartElement("main");
  html.writeAttribute("class", "list");
  for (std::size_t i = 0; i < generators.size(); ++i) generator(html, i, generators[i]);
  html.writeStartElement("section");
  html.writeAttribute("aria-labelledby", "server-title");
  html.writeAttribute("class", "wide");
  worded(html, "h2", list_text("server"), {{"id", "server-title"}});
  html.writeStartElement("p");
  worded(html, "a", list_text("lxi_xml_all"), {{"href", "/lxi/identification"}});
  html.writeEndElement();
  html.writeEndElement();  // section
  html.writeEndDocument();
  return out;
}

}  // namespace talmir880::web
