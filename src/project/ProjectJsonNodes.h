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

#include "JsonTextNormalizer.h"

#include <rapidjson/document.h>

#include <climits>
#include <cmath>
#include <cstring>

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
    // The string's bytes for Base64 decoding (non-Latin-1 characters are
    // never Base64 and get skipped by the decoder either way).
    QByteArrayView bytes(QByteArray& storage) const
    {
        storage = m_value.toString().toLatin1();
        return QByteArrayView(storage);
    }

private:
    QJsonValue m_value = QJsonValue(QJsonValue::Undefined);
};

class RapidJsonNode {
public:
    RapidJsonNode() = default;
    explicit RapidJsonNode(const rapidjson::Value* value) : m_value(value) {}

    bool isObject() const { return m_value && m_value->IsObject(); }
    bool isArray() const { return m_value && m_value->IsArray(); }
    bool isString() const { return m_value && m_value->IsString(); }
    bool isNumber() const { return m_value && m_value->IsNumber(); }
    bool isBool() const { return m_value && m_value->IsBool(); }

    bool has(const char* key) const { return find(key) != nullptr; }
    RapidJsonNode member(const char* key) const { return RapidJsonNode(find(key)); }
    qsizetype size() const { return isArray() ? qsizetype(m_value->Size()) : 0; }
    template <class F> void forEachElement(F&& f) const
    {
        if (!isArray())
            return;
        for (const rapidjson::Value& element : m_value->GetArray())
            f(RapidJsonNode(&element));
    }
    RapidJsonNode at(qsizetype index) const
    {
        return index >= 0 && index < size() ? RapidJsonNode(&(*m_value)[rapidjson::SizeType(index)])
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
    QByteArrayView bytes(QByteArray&) const
    {
        return isString() ? QByteArrayView(m_value->GetString(), m_value->GetStringLength())
                          : QByteArrayView();
    }

private:
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
};
