#pragma once

// An HTTP answer on a connection, the only kind the web face writes: the
// whole of it at once, then the connection closed.

#include <QByteArray>
#include <QTcpSocket>
#include <string>

namespace talmir880::web {

inline constexpr const char* kHtml = "text/html; charset=utf-8";

// The request was HEAD: its answers go without their body.
void set_head_only(QTcpSocket* socket, bool head_only);

// `header`: one more field, "Name: value", or nothing.
void answer(QTcpSocket* socket, const char* status, const std::string& type, const QByteArray& body,
            const std::string& header = {});
// The status line as the body, in plain text.
void plain(QTcpSocket* socket, const char* status);

}  // namespace talmir880::web
