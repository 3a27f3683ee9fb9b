#include "ProjectTextSplitter.h"

#include <QIODevice>

#include <algorithm>

bool ProjectTextSplitter::read(QIODevice* device, qint64 blockSize)
{
    QByteArray block(qsizetype(std::max<qint64>(blockSize, 1)), Qt::Uninitialized);
    qint64 position = device->pos();
    for (;;) {
        const qint64 got = device->read(block.data(), block.size());
        if (got < 0)
            return false;
        if (got == 0)
            break;
        if (process(block.constData(), qsizetype(got), position) < 0) {
            if (!device->seek(m_restartAt))
                return false;
            position = m_restartAt;
            continue;
        }
        position += got;
    }
    if (m_mode == Mode::Channel) {
        // The text ends inside the string: keep it unterminated for the parser.
        abandonChannel();
        m_text += '"';
    }
    return true;
}

qsizetype ProjectTextSplitter::process(const char* data, qsizetype n, qint64 position)
{
    qsizetype i = 0;
    while (i < n) {
        if (m_mode == Mode::Channel) {
            if (m_channelEscape) {
                // Line breaks of wrapped text are skipped, an escaped slash
                // is Base64's own; other escapes are left to the parser.
                m_channelEscape = false;
                const char escaped = data[i];
                if (escaped == '/')
                    m_decoder->feed("/");
                if (escaped == 'n' || escaped == 'r' || escaped == 't' || escaped == '/') {
                    ++i;
                    continue;
                }
                m_restartAt = m_plainOnly = m_channelStart;
                abandonChannel();
                return -1;
            }
            i += m_decoder->feedPlain(data + i, n - i);
            if (i == n)
                break;
            if (data[i] == '\\') {
                m_channelEscape = true;
                ++i;
                continue;
            }
            if (data[i] != '"') {
                // Escapes or bytes beyond ASCII: the parser reads this string.
                m_restartAt = m_plainOnly = m_channelStart;
                abandonChannel();
                return -1;
            }
            endChannel();
            ++i;
            continue;
        }
        if (m_mode == Mode::String || m_mode == Mode::Key) {
            if (m_escape) {
                m_escape = false;
                m_text += data[i];
                ++i;
                continue;
            }
            const char* begin = data + i;
            const char* end = std::find_if(begin, data + n, [](char c) { return c == '"' || c == '\\'; });
            m_text.append(begin, end - begin);
            if (m_mode == Mode::Key && m_key.size() < 16)
                m_key.append(begin, std::min<qsizetype>(end - begin, 16));
            i = end - data;
            if (i == n)
                break;
            m_text += data[i];
            ++i;
            if (*end == '\\') {
                m_escape = true;
                m_keyEscaped = true;
                continue;
            }
            if (m_mode == Mode::Key && !m_levels.empty())
                m_levels.back().keyIsChannels = !m_keyEscaped && m_key == "channels";
            m_mode = Mode::Outside;
            continue;
        }

        const char c = data[i];
        Level* top = m_levels.empty() ? nullptr : &m_levels.back();
        switch (c) {
        case '"':
            if (top && !top->array && top->expectKey) {
                top->expectKey = false;
                m_mode = Mode::Key;
                m_key.clear();
                m_keyEscaped = false;
            } else if (top && top->channels && top->commas <= 2 && position + i != m_plainOnly) {
                m_channelStart = position + i;
                startChannel();
                ++i;
                continue;
            } else {
                m_mode = Mode::String;
            }
            break;
        case '{':
            m_levels.push_back(Level{});
            m_levels.back().expectKey = true;
            break;
        case '[': {
            const bool channels = top && !top->array && top->keyIsChannels;
            m_levels.push_back(Level{});
            m_levels.back().array = true;
            m_levels.back().channels = channels;
            break;
        }
        case '}':
        case ']':
            closeLevel();
            break;
        case ',':
            if (top && top->array) {
                ++top->commas;
            } else if (top) {
                top->expectKey = true;
                top->keyIsChannels = false;
            }
            break;
        default:
            break;
        }
        m_text += c;
        ++i;
    }
    return n;
}

void ProjectTextSplitter::startChannel()
{
    Level& top = m_levels.back();
    Channel record;
    record.offset = m_text.size() + 1;
    record.entry = top.commas;
    if (record.entry == 2 && top.left >= 0)
        record.pairedLeft = top.left;
    // The record is in place before a decoder refers to a list in the vector.
    m_channels.push_back(std::move(record));
    Channel& channel = m_channels.back();
    if (channel.pairedLeft >= 0) {
        QList<float>& stereo = m_channels[size_t(channel.pairedLeft)].floats;
        m_decoder = std::make_unique<Base64Floats::ChannelDecoder>(stereo, 2, 1, false);
    } else if (channel.entry == 1) {
        // The left channel goes to the even slots; the right one may follow.
        channel.interleaved = true;
        m_decoder = std::make_unique<Base64Floats::ChannelDecoder>(channel.floats, 2, 0, true);
    } else {
        m_decoder = std::make_unique<Base64Floats::ChannelDecoder>(channel.floats, 1, 0, true);
    }
    m_mode = Mode::Channel;
}

void ProjectTextSplitter::endChannel()
{
    m_decoder->finish();
    Channel& channel = m_channels.back();
    channel.count = m_decoder->count();
    channel.clean = m_decoder->clean();
    m_decoder.reset();
    m_text += "\"\"";
    Level& top = m_levels.back();
    if (channel.entry == 1)
        top.left = int(m_channels.size()) - 1;
    else if (channel.pairedLeft >= 0)
        top.left = -1;
    m_mode = Mode::Outside;
}

void ProjectTextSplitter::abandonChannel()
{
    m_decoder.reset();
    m_channelEscape = false;
    m_channels.pop_back();
    m_mode = Mode::Outside;
}

void ProjectTextSplitter::closeLevel()
{
    if (m_levels.empty())
        return;
    // A left channel without its right one is a list of its own.
    if (const int left = m_levels.back().left; left >= 0) {
        Channel& channel = m_channels[size_t(left)];
        for (qsizetype k = 0; k < channel.count; ++k)
            channel.floats[k] = channel.floats[2 * k];
        channel.floats.resize(channel.count);
        channel.interleaved = false;
    }
    m_levels.pop_back();
}
