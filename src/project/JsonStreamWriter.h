#pragma once
// Writes JSON text straight to a device in the indented layout that
// QJsonDocument::toJson(QJsonDocument::Indented) produces, without building
// a document first: project files embed hours of audio as Base64 text, and a
// document tree of that size costs many times the encoding itself.
// Object keys must be written in ascending order to match Qt's layout.

#include <QByteArray>
#include <QString>
#include <vector>

class QIODevice;

class JsonStreamWriter {
public:
    explicit JsonStreamWriter(QIODevice* device);
    ~JsonStreamWriter();

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();

    void key(const char* name);

    void writeString(const QString& text);
    void writeDouble(double value);   // non-finite values are written as null, as Qt does
    void writeInteger(qint64 value);
    void writeBool(bool value);
    // A string holding the Base64 of `count` floats read with `stride`.
    void writeBase64Floats(const float* data, qsizetype count, qsizetype stride);

    // Flushes what is buffered; false when any write to the device failed.
    bool finish();
    bool failed() const { return m_failed; }

private:
    void beforeValue();
    void beforeElement();
    void append(const char* data, qsizetype size);
    void append(const QByteArray& bytes) { append(bytes.constData(), bytes.size()); }
    void indent(int depth);
    void flush();

    struct Level {
        bool isArray = false;
        int count = 0;
    };

    QIODevice* m_device;
    QByteArray m_buffer;
    std::vector<Level> m_levels;
    bool m_afterKey = false;
    bool m_failed = false;
};
