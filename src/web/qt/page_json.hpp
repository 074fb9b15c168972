#pragma once

// The page's messages and texts.js written as JSON by Qt Core, which every
// program serving the page loads already.

#include <QByteArray>

#include "web/page_messages.hpp"

namespace talmir880::web {

// One message to the page: a JSON object on one line.
QByteArray message_json(const Message& message);

// texts.js: the languages, the texts and the steps as script constants,
// each a JSON value on a line of its own.
QByteArray texts_script();

}  // namespace talmir880::web
