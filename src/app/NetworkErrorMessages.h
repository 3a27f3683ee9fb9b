#pragma once
// What a network failure is called in the interface: Qt's network classes
// name their errors in English, the user reads them in the update check's
// and the installer download's messages.

#include <QAbstractSocket>
#include <QNetworkReply>
#include <QString>

namespace NetworkErrorMessages {

// A failure of a connection of our own.
QString describe(QAbstractSocket::SocketError error);
// A failed request; `httpStatus` is the server's status when it answered (0 when not).
QString describe(QNetworkReply::NetworkError error, int httpStatus);

} // namespace NetworkErrorMessages
