#include "JsonStreamWriter.h"

#include "Base64Floats.h"

#include <QIODevice>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
constexpr qsizetype kFlushSize = 4 * 1024 * 1024;

// Escaping as Qt's JSON writer does it: quotes, backslashes and control
// characters; everything else is written as UTF-8.
QByteArray escaped(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                static const char hex[] = "0123456789abcdef";
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += ch;
            }
        }
    }
    return out;
}
} // namespace

JsonStreamWriter::JsonStreamWriter(QIODevice* device) : m_device(device)
{
    m_buffer.reserve(kFlushSize + 1024);
}

JsonStreamWriter::~JsonStreamWriter() = default;

void JsonStreamWriter::append(const char* data, qsizetype size)
{
    m_buffer.append(data, size);
    if (m_buffer.size() >= kFlushSize)
        flush();
}

void JsonStreamWriter::flush()
{
    if (m_buffer.isEmpty())
        return;
    if (!m_failed && (!m_device || m_device->write(m_buffer) != m_buffer.size()))
        m_failed = true;
    m_buffer.resize(0);
}

void JsonStreamWriter::indent(int depth)
{
    static const char spaces[] = "                                                                ";
    qsizetype remaining = qsizetype(depth) * 4;
    while (remaining > 0) {
        const qsizetype chunk = std::min<qsizetype>(remaining, sizeof(spaces) - 1);
        append(spaces, chunk);
        remaining -= chunk;
    }
}

// Separator and indentation before an array element or an object key.
void JsonStreamWriter::beforeElement()
{
    if (m_levels.empty())
        return;
    Level& level = m_levels.back();
    if (level.count > 0)
        append(",\n", 2);
    indent(int(m_levels.size()));
    ++level.count;
}

// A value follows its key directly; inside an array it is an element itself.
void JsonStreamWriter::beforeValue()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    beforeElement();
}

void JsonStreamWriter::key(const char* name)
{
    beforeElement();
    append("\"", 1);
    append(name, qsizetype(std::strlen(name)));
    append("\": ", 3);
    m_afterKey = true;
}

void JsonStreamWriter::beginObject()
{
    beforeValue();
    append("{\n", 2);
    m_levels.push_back(Level{false, 0});
}

void JsonStreamWriter::beginArray()
{
    beforeValue();
    append("[\n", 2);
    m_levels.push_back(Level{true, 0});
}

void JsonStreamWriter::endObject()
{
    if (m_levels.empty())
        return;
    if (m_levels.back().count > 0)
        append("\n", 1);
    m_levels.pop_back();
    indent(int(m_levels.size()));
    append(m_levels.empty() ? "}\n" : "}", m_levels.empty() ? 2 : 1);
}

void JsonStreamWriter::endArray()
{
    if (m_levels.empty())
        return;
    if (m_levels.back().count > 0)
        append("\n", 1);
    m_levels.pop_back();
    indent(int(m_levels.size()));
    append(m_levels.empty() ? "]\n" : "]", m_levels.empty() ? 2 : 1);
}

void JsonStreamWriter::writeString(const QString& text)
{
    beforeValue();
    append("\"", 1);
    append(escaped(text));
    append("\"", 1);
}

void JsonStreamWriter::writeDouble(double value)
{
    beforeValue();
    if (!std::isfinite(value)) {
        append("null", 4);
        return;
    }
    append(QByteArray::number(value, 'g', QLocale::FloatingPointShortest));
}

void JsonStreamWriter::writeInteger(qint64 value)
{
    beforeValue();
    append(QByteArray::number(value));
}

void JsonStreamWriter::writeBool(bool value)
{
    beforeValue();
    if (value)
        append("true", 4);
    else
        append("false", 5);
}

void JsonStreamWriter::writeBase64Floats(const float* data, qsizetype count, qsizetype stride)
{
    beforeValue();
    append("\"", 1);
    // Encode in slices of whole 3-float groups straight into the buffer.
    constexpr qsizetype kSliceFloats = 3 * 64 * 1024;
    qsizetype done = 0;
    while (done < count) {
        const qsizetype n = std::min(kSliceFloats, count - done);
        const qsizetype chars = Base64Floats::encodedLength(n);
        const qsizetype at = m_buffer.size();
        m_buffer.resize(at + chars);
        Base64Floats::encode(data + done * stride, n, stride, m_buffer.data() + at);
        if (m_buffer.size() >= kFlushSize)
            flush();
        done += n;
    }
    append("\"", 1);
}

bool JsonStreamWriter::finish()
{
    flush();
    return !m_failed;
}
