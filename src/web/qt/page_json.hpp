#pragma once

// The page's messages and texts.js written as JSON by Qt Core, which every
// program serving the page loads already.

#include <QByteArray>
#include <QJsonArray>
#include <span>

#include "web/page_messages.hpp"

namespace talmir880::web {

// One message to the page: a JSON object on one line.
QByteArray message_json(const Message& message);

// The settings the page shows, as it builds their controls: per setting
// its name, control, action, group, kind, unit and limits as the page
// writes them, levels or choices, the list its select offers ("levels",
// "steps" or "") and its words by language.
QJsonArray page_settings(std::span<const protocol::Setting> settings = protocol::kSettings);

// texts.js: the languages, the texts, the steps and the settings as script
// constants, each a JSON value on a line of its own.
QByteArray texts_script(std::span<const protocol::Setting> settings = protocol::kSettings);

}  // namespace talmir880::web
