#pragma once
// Project files are read by RapidJSON in place, but a file is valid when Qt's
// JSON parser takes it, and Qt's parser is more lenient: it skips a UTF-8
// byte-order mark, takes raw control characters (even NUL) inside strings,
// any byte after a backslash (as the character of that number), lone UTF-16
// surrogates in \u escapes, numbers such as "2.", ".5" and "-.5", and a zero
// with any exponent. It refuses what RapidJSON would take:
// a root that is not an object or array, more than 1024 nested levels and a
// NUL outside strings. This pass makes the text say the same thing in a form
// RapidJSON reads, or refuses it as Qt would.
//
// A lone high surrogate becomes the three bytes of its code unit (ED A0..AF
// xx, as RapidJSON itself writes a lone low one); decodeString() turns such
// bytes back into the code unit.

#include <QByteArray>
#include <QString>
#include <vector>

namespace JsonTextNormalizer {

enum class Outcome {
    Unchanged, // parse `text` from `start` (past a byte-order mark)
    Rewritten, // `text` now holds the rewritten document; `start` is 0
    Refused,   // Qt's parser refuses the text; `errorText` names its error in Chinese
};

// Text that is not UTF-8 outside such escaped bytes is refused, as Qt does.
// `offsets` (sorted, each at a byte that is not rewritten) follow a rewrite.
Outcome normalize(QByteArray& text, qsizetype& start, QString* errorText,
                  std::vector<qsizetype>* offsets = nullptr);

// A parsed string's bytes as text: UTF-8 with lone surrogates as above.
QString decodeString(const char* bytes, qsizetype length);

} // namespace JsonTextNormalizer
