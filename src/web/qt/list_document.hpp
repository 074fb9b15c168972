#pragma once

// The list of several generators (/) as HTML, written by Qt Core's stream
// writer in HTML's XML syntax: what web/list_page.hpp decides it says.

#include <QByteArray>
#include <string>
#include <vector>

#include "web/list_page.hpp"

namespace talmir880::web {

// In the server's order: generator i is /inst<i>/.
QByteArray list_html(const std::vector<ListedGenerator>& generators);

// A VISA resource string that a narrow screen breaks only after a "::".
QByteArray visa_html(const std::string& resource);

}  // namespace talmir880::web
