#pragma once
// What a JSON syntax error is called in the interface: Qt's parser names
// its errors in English, the user reads them in a project's open message.

#include <QJsonParseError>
#include <QString>

namespace JsonErrorMessages {

QString describe(QJsonParseError::ParseError error);

} // namespace JsonErrorMessages
