#pragma once
// Two read-only views of a JSON value with the same small interface, so the
// project reading rules are written once (ProjectJsonReading.h) and run on a
// QJsonDocument or on text parsed in place by RapidJSON (large projects).
// Absent keys and values of other types are reported as such; the rules
// decide the defaults.

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include "Base64Floats.h"
#include "JsonTextNormalizer.h"
#include "ProjectTextSplitter.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

// Qt's rule for reading an int: an integral number inside the int range.
inline bool integralToInt(double value, int* out)
{
    if (!(value >= double(INT_MIN) && value <= double(INT_MAX)))
        return false;
    const int truncated = int(value);
    if (double(truncated) != value)
        return false;
    *out = truncated;
    return true;
}

class QtJsonNode {
public:
    QtJsonNode() = default;
    explicit QtJsonNode(const QJsonValue& value) : m_value(value) {}

    bool isObject() const { return m_value.isObject(); }
    bool isArray() const { return m_value.isArray(); }
    bool isString() const { return m_value.isString(); }
    bool isNumber() const { return m_value.isDouble(); }
    bool isBool() const { return m_value.isBool(); }
    bool isNull() const { return m_value.isNull(); }

    bool has(const char* key) const
    {
        return m_value.isObject() && m_value.toObject().contains(QLatin1String(key));
    }
    QtJsonNode member(const char* key) const
    {
        return QtJsonNode(m_value.toObject().value(QLatin1String(key)));
    }
    qsizetype size() const { return m_value.isArray() ? m_value.toArray().size() : 0; }
    template <class F> void forEachElement(F&& f) const
    {
        if (!m_value.isArray())
            return;
        const QJsonArray array = m_value.toArray();
        for (const QJsonValue& element : array)
            f(QtJsonNode(element));
    }
    QtJsonNode at(qsizetype index) const { return QtJsonNode(m_value.toArray().at(index)); }

    double number() const { return m_value.toDouble(); }
    int toInt(int fallback) const
    {
        if (!m_value.isDouble())
            return fallback;
        return m_value.toInt(fallback);
    }
    bool boolean() const { return m_value.toBool(); }
    QString string() const { return m_value.toString(); }
    // A Base64 channel string as floats; true when it was clean (see
    // Base64Floats). Non-Latin-1 characters are never Base64 either way.
    bool decodeChannel(QList<float>& out) const
    {
        bool clean = false;
        out = Base64Floats::decodeFloats(m_value.toString().toLatin1(), &clean);
        return clean;
    }
    static bool decodeStereo(const QtJsonNode& left, const QtJsonNode& right, QList<float>& out)
    {
        bool clean = false;
        out = Base64Floats::decodeInterleaved(left.m_value.toString().toLatin1(),
                                              right.m_value.toString().toLatin1(), &clean);
        return clean;
    }

private:
    QJsonValue m_value = QJsonValue(QJsonValue::Undefined);
};

// The channel strings that ProjectTextSplitter took out of the text, found
// by where their emptied strings lie in the parsed text.
struct ExtractedChannels {
    const char* text = nullptr;
    std::vector<qsizetype> offsets; // ascending, one per channel
    std::vector<ProjectTextSplitter::Channel>* channels = nullptr;

    ProjectTextSplitter::Channel* find(const rapidjson::Value& value) const
    {
        if (!channels || !value.IsString() || value.GetStringLength() != 0)
            return nullptr;
        const qsizetype at = value.GetString() - text;
        const auto it = std::lower_bound(offsets.begin(), offsets.end(), at);
        return it != offsets.end() && *it == at ? &(*channels)[size_t(it - offsets.begin())] : nullptr;
    }
    int indexOf(const ProjectTextSplitter::Channel* channel) const
    {
        return int(channel - channels->data());
    }
};

class RapidJsonNode {
public:
    RapidJsonNode() = default;
    explicit RapidJsonNode(const rapidjson::Value* value, const ExtractedChannels* extracted = nullptr)
        : m_value(value), m_extracted(extracted)
    {
    }

    bool isObject() const { return m_value && m_value->IsObject(); }
    bool isArray() const { return m_value && m_value->IsArray(); }
    bool isString() const { return m_value && m_value->IsString(); }
    bool isNumber() const { return m_value && m_value->IsNumber(); }
    bool isBool() const { return m_value && m_value->IsBool(); }
    bool isNull() const { return m_value && m_value->IsNull(); }

    bool has(const char* key) const { return find(key) != nullptr; }
    RapidJsonNode member(const char* key) const { return RapidJsonNode(find(key), m_extracted); }
    qsizetype size() const { return isArray() ? qsizetype(m_value->Size()) : 0; }
    template <class F> void forEachElement(F&& f) const
    {
        if (!isArray())
            return;
        for (const rapidjson::Value& element : m_value->GetArray())
            f(RapidJsonNode(&element, m_extracted));
    }
    RapidJsonNode at(qsizetype index) const
    {
        return index >= 0 && index < size()
                   ? RapidJsonNode(&(*m_value)[rapidjson::SizeType(index)], m_extracted)
                   : RapidJsonNode();
    }

    double number() const { return isNumber() ? m_value->GetDouble() : 0.0; }
    int toInt(int fallback) const
    {
        if (!isNumber())
            return fallback;
        if (m_value->IsInt())
            return m_value->GetInt();
        if (m_value->IsInt64() || m_value->IsUint64())
            return fallback; // integral but outside the int range
        int out = 0;
        return integralToInt(m_value->GetDouble(), &out) ? out : fallback;
    }
    bool boolean() const { return isBool() && m_value->GetBool(); }
    QString string() const
    {
        return isString() ? JsonTextNormalizer::decodeString(m_value->GetString(),
                                                             m_value->GetStringLength())
                          : QString();
    }
    // As QtJsonNode's. A channel decoded while the text was read hands its
    // list over, so each is read once; the reading rules read entry 0 as
    // mono and entries 1 and 2 as one stereo pair, as they were decoded.
    bool decodeChannel(QList<float>& out) const
    {
        if (ProjectTextSplitter::Channel* channel = extracted()) {
            if (channel->pairedLeft >= 0 || channel->interleaved) {
                out.clear();
                return false;
            }
            out = std::move(channel->floats);
            return channel->clean;
        }
        bool clean = false;
        out = Base64Floats::decodeFloats(bytes(), &clean);
        return clean;
    }
    static bool decodeStereo(const RapidJsonNode& left, const RapidJsonNode& right, QList<float>& out)
    {
        ProjectTextSplitter::Channel* l = left.extracted();
        ProjectTextSplitter::Channel* r = right.extracted();
        if (l && r && l->interleaved && r->pairedLeft == left.m_extracted->indexOf(l)) {
            // Both were decoded into the left one's list, L/R interleaved.
            const qsizetype frames = std::min(l->count, r->count);
            out = std::move(l->floats);
            out.resize(frames * 2);
            l->interleaved = false;
            return l->clean && r->clean && l->count == r->count;
        }
        if (!l && !r) {
            bool clean = false;
            out = Base64Floats::decodeInterleaved(left.bytes(), right.bytes(), &clean);
            return clean;
        }
        QList<float> leftFloats, rightFloats;
        const bool leftClean = left.decodeChannel(leftFloats);
        const bool rightClean = right.decodeChannel(rightFloats);
        const qsizetype frames = std::min(leftFloats.size(), rightFloats.size());
        out.resize(frames * 2);
        for (qsizetype i = 0; i < frames; ++i) {
            out[2 * i] = leftFloats[i];
            out[2 * i + 1] = rightFloats[i];
        }
        return leftClean && rightClean && leftFloats.size() == rightFloats.size();
    }

private:
    QByteArrayView bytes() const
    {
        return isString() ? QByteArrayView(m_value->GetString(), m_value->GetStringLength())
                          : QByteArrayView();
    }
    ProjectTextSplitter::Channel* extracted() const
    {
        return m_extracted && m_value ? m_extracted->find(*m_value) : nullptr;
    }

    // With repeated keys the last one counts, as in Qt's parser.
    const rapidjson::Value* find(const char* key) const
    {
        if (!isObject())
            return nullptr;
        const rapidjson::Value* found = nullptr;
        const size_t length = std::strlen(key);
        for (auto it = m_value->MemberBegin(); it != m_value->MemberEnd(); ++it) {
            if (it->name.GetStringLength() == length
                && std::memcmp(it->name.GetString(), key, length) == 0)
                found = &it->value;
        }
        return found;
    }

    const rapidjson::Value* m_value = nullptr;
    const ExtractedChannels* m_extracted = nullptr;
};
