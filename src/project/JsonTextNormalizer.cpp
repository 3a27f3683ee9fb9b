#include "JsonTextNormalizer.h"

#include "JsonErrorMessages.h"

#include <algorithm>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace JsonTextNormalizer {

namespace {

// Qt's parser refuses documents nested deeper than this.
constexpr int kMaxDepth = 1024;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The four hex digits at p as a code unit; -1 when they are not all hex.
int hex4(const char* p)
{
    int value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexValue(p[i]);
        if (digit < 0)
            return -1;
        value = value << 4 | digit;
    }
    return value;
}

// The first byte in [p, end) that ends a plain run inside a string: a quote,
// a backslash or a control character. Base64 audio makes strings long, so
// this looks at sixteen bytes at a time.
const char* nextSpecial(const char* p, const char* end)
{
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i control = _mm_set1_epi8(0x1F);
    for (; end - p >= 16; p += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hits = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
            _mm_cmpeq_epi8(_mm_max_epu8(bytes, control), control));
        if (const int mask = _mm_movemask_epi8(hits))
            return p + __builtin_ctz(unsigned(mask));
    }
#endif
    for (; p < end; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\' || c < 0x20)
            return p;
    }
    return end;
}

// Copies the text into `out` with replacements, lazily: nothing is copied
// until the first replacement.
class Rewriter {
public:
    explicit Rewriter(const QByteArray& text) : text(text) {}

    void replace(qsizetype from, qsizetype to, QByteArrayView with)
    {
        if (!active) {
            out.reserve(text.size() + text.size() / 64 + 64);
            active = true;
        }
        out.append(text.constData() + copied, from - copied);
        out.append(with);
        copied = to;
        shifts.push_back({to, with.size() - (to - from)});
    }

    // Moves offsets of the old text (sorted, none inside a replaced span)
    // to where the same bytes lie in the new one.
    void translate(std::vector<qsizetype>& offsets) const
    {
        qsizetype delta = 0;
        size_t next = 0;
        for (qsizetype& offset : offsets) {
            while (next < shifts.size() && shifts[next].first <= offset)
                delta += shifts[next++].second;
            offset += delta;
        }
    }

    bool rewrote() const { return active; }
    QByteArray finish()
    {
        out.append(text.constData() + copied, text.size() - copied);
        return std::move(out);
    }

private:
    const QByteArray& text;
    QByteArray out;
    qsizetype copied = 0;
    bool active = false;
    std::vector<std::pair<qsizetype, qsizetype>> shifts; // end of a replaced span, size change
};

QByteArray escapedControl(unsigned char c)
{
    static const char digits[] = "0123456789abcdef";
    const char escape[] = {'\\', 'u', '0', '0', digits[c >> 4], digits[c & 15]};
    return QByteArray(escape, 6);
}

// The three bytes that stand for one surrogate code unit.
QByteArray surrogateBytes(int unit)
{
    const char bytes[] = {char(0xE0 | (unit >> 12)), char(0x80 | ((unit >> 6) & 0x3F)),
                          char(0x80 | (unit & 0x3F))};
    return QByteArray(bytes, 3);
}

} // namespace

Outcome normalize(QByteArray& text, qsizetype& start, QString* errorText, std::vector<qsizetype>* offsets)
{
    const char* const data = text.constData();
    const qsizetype size = text.size();
    auto refuse = [&](QJsonParseError::ParseError error) {
        if (errorText)
            *errorText = JsonErrorMessages::describe(error);
        return Outcome::Refused;
    };

    qsizetype pos = 0;
    if (size > 3 && text.startsWith("\xEF\xBB\xBF"))
        pos = 3;
    start = pos;
    qsizetype first = pos;
    while (first < size && isSpace(data[first]))
        ++first;
    if (first == size || (data[first] != '{' && data[first] != '['))
        return refuse(QJsonParseError::IllegalValue);

    Rewriter rewriter(text);
    std::vector<qsizetype> escapedBytes; // bytes after a backslash that are not ASCII
    int depth = 0;
    while (pos < size) {
        const char c = data[pos];
        if (c == '"') {
            // A string: up to its closing quote, escapes skipped whole.
            qsizetype at = pos + 1;
            for (;;) {
                at = nextSpecial(data + at, data + size) - data;
                if (at >= size)
                    break; // unterminated: RapidJSON says so
                const unsigned char special = static_cast<unsigned char>(data[at]);
                if (special == '"') {
                    ++at;
                    break;
                }
                if (special < 0x20) {
                    rewriter.replace(at, at + 1, escapedControl(special));
                    ++at;
                    continue;
                }
                if (at + 1 >= size) {
                    at = size;
                    break;
                }
                const unsigned char escaped = static_cast<unsigned char>(data[at + 1]);
                if (escaped == 'u') {
                    const int unit = size - at >= 6 ? hex4(data + at + 2) : -1;
                    if (unit >= 0xD800 && unit <= 0xDBFF) {
                        const int next = size - at >= 12 && data[at + 6] == '\\' && data[at + 7] == 'u'
                                             ? hex4(data + at + 8)
                                             : -1;
                        if (next >= 0xDC00 && next <= 0xDFFF) {
                            at += 12; // a pair, as RapidJSON takes it
                            continue;
                        }
                        rewriter.replace(at, at + 6, surrogateBytes(unit));
                        at += 6;
                        continue;
                    }
                    at += unit >= 0 ? 6 : 2; // bad hex digits: RapidJSON refuses them
                    continue;
                }
                switch (escaped) {
                case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't':
                    break;
                default:
                    // Qt takes any other byte after a backslash as the character
                    // of that number, also one that starts a longer UTF-8 sequence
                    // (the rest of which it then reads on its own).
                    if (escaped >= 0x80) {
                        escapedBytes.push_back(at + 1);
                        const char latin1[] = {char(0xC0 | (escaped >> 6)), char(0x80 | (escaped & 0x3F))};
                        rewriter.replace(at, at + 2, QByteArray(latin1, 2));
                    } else if (escaped < 0x20) {
                        rewriter.replace(at, at + 2, escapedControl(escaped));
                    } else {
                        rewriter.replace(at, at + 2, QByteArray(1, char(escaped)));
                    }
                    break;
                }
                at += 2;
            }
            pos = at;
            continue;
        }
        if (c == '{' || c == '[') {
            if (++depth > kMaxDepth)
                return refuse(QJsonParseError::DeepNesting);
            ++pos;
            continue;
        }
        if (c == '}' || c == ']') {
            --depth;
            ++pos;
            continue;
        }
        if (c == '\0') // RapidJSON would stop reading here
            return refuse(depth > 0 ? QJsonParseError::IllegalValue : QJsonParseError::GarbageAtEnd);
        if (c != '-' && c != '.' && !isDigit(c)) {
            ++pos;
            continue;
        }

        // A number, scanned as Qt scans it: [-] (0 | digits) [. digits] [e [+-] digits].
        qsizetype at = pos;
        if (data[at] == '-')
            ++at;
        const qsizetype intBegin = at;
        if (at < size && data[at] == '0')
            ++at;
        else
            while (at < size && isDigit(data[at]))
                ++at;
        const qsizetype intEnd = at;
        bool dot = false;
        qsizetype fracBegin = at;
        if (at < size && data[at] == '.') {
            dot = true;
            fracBegin = ++at;
            while (at < size && isDigit(data[at]))
                ++at;
        }
        const qsizetype fracEnd = at;
        bool exponent = false;
        bool negativeExponent = false;
        qsizetype expDigits = 0;
        int expValue = 0; // saturated
        if (at < size && (data[at] == 'e' || data[at] == 'E')) {
            exponent = true;
            ++at;
            if (at < size && (data[at] == '+' || data[at] == '-'))
                negativeExponent = data[at++] == '-';
            for (; at < size && isDigit(data[at]); ++at) {
                ++expDigits;
                expValue = std::min(expValue * 10 + (data[at] - '0'), 100000);
            }
        }
        const bool intDigits = intEnd > intBegin;
        const bool fracDigits = fracEnd > fracBegin;
        const bool qtTakes = (intDigits || fracDigits) && (!exponent || expDigits > 0);
        const bool zero = std::all_of(data + intBegin, data + fracEnd, [](char d) { return d == '0' || d == '.'; });
        // RapidJSON refuses an exponent beyond the double range even on a zero.
        const bool rapidJsonTakes = intDigits && (!dot || fracDigits) && (!exponent || expDigits > 0)
                                    && !(zero && exponent && !negativeExponent && expValue > 300);
        // Only a whole value is rewritten; anything glued to it is an error
        // for both parsers and stays as it is.
        const bool delimited = at == size || isSpace(data[at]) || data[at] == ',' || data[at] == ']'
                               || data[at] == '}';
        if (qtTakes && !rapidJsonTakes && delimited && zero && exponent) {
            rewriter.replace(pos, at, "0"); // Qt reads any zero as 0
        } else if (qtTakes && !rapidJsonTakes && delimited) {
            QByteArray number(data + pos, intBegin - pos);
            number += intDigits ? QByteArray(data + intBegin, intEnd - intBegin) : QByteArray("0");
            if (dot)
                number += fracDigits ? "." + QByteArray(data + fracBegin, fracEnd - fracBegin) : QByteArray(".0");
            number.append(data + fracEnd, at - fracEnd);
            rewriter.replace(pos, at, number);
        }
        pos = at;
    }

    // Qt reads UTF-8 everywhere but in those escaped bytes.
    qsizetype segment = 0;
    escapedBytes.push_back(size);
    for (const qsizetype skipped : escapedBytes) {
        if (!QByteArrayView(data + segment, skipped - segment).isValidUtf8())
            return refuse(QJsonParseError::IllegalUTF8String);
        segment = skipped + 1;
    }

    if (!rewriter.rewrote())
        return Outcome::Unchanged;
    // The byte-order mark is left behind with the rest of the old text.
    if (offsets) {
        rewriter.translate(*offsets);
        for (qsizetype& offset : *offsets)
            offset -= start;
    }
    text = rewriter.finish();
    text.remove(0, start);
    start = 0;
    return Outcome::Rewritten;
}

QString decodeString(const char* bytes, qsizetype length)
{
    // Surrogate code units are the only three-byte forms led by ED A0..BF.
    auto surrogateAt = [&](qsizetype i) {
        return i + 2 < length && static_cast<unsigned char>(bytes[i]) == 0xED
               && static_cast<unsigned char>(bytes[i + 1]) >= 0xA0;
    };
    qsizetype i = 0;
    while (i < length && !surrogateAt(i))
        ++i;
    if (i == length)
        return QString::fromUtf8(bytes, length);
    QString out;
    out.reserve(length);
    qsizetype runStart = 0;
    for (i = 0; i < length;) {
        if (!surrogateAt(i)) {
            ++i;
            continue;
        }
        out += QString::fromUtf8(bytes + runStart, i - runStart);
        const int unit = 0xD000 | (static_cast<unsigned char>(bytes[i + 1]) & 0x3F) << 6
                         | (static_cast<unsigned char>(bytes[i + 2]) & 0x3F);
        out += QChar(char16_t(unit));
        i += 3;
        runStart = i;
    }
    out += QString::fromUtf8(bytes + runStart, length - runStart);
    return out;
}

} // namespace JsonTextNormalizer
