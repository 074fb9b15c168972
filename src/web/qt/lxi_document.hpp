#pragma once

// The LXI identification document (/lxi/identification) as XML, written by
// Qt Core's stream writer: what web/lxi.hpp gathers, valid against the LXI
// Consortium's LXIIdentification.xsd (schema 2.01).

#include <QByteArray>

#include "web/lxi.hpp"

namespace talmir880::web {

QByteArray identification_xml(const Identification& id);

}  // namespace talmir880::web
