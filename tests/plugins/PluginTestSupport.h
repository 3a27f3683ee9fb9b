#pragma once
// Helpers of the plug-in tests: where the test plug-ins are built, the call
// log they write, the error lines of the host and whether a module is mapped.

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace PluginTestSupport {

inline QString testPluginDir()
{
    const QByteArray binary = qgetenv("CDW_BINARY_DIR");
    return (binary.isEmpty() ? QStringLiteral(".") : QString::fromLocal8Bit(binary)) +
           QStringLiteral("/testplugins");
}

// The bundle folder of a test plug-in, e.g. "CdwGain".
inline std::string bundle(const char* name)
{
    return (testPluginDir() + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".vst3")).toStdString();
}

inline std::string binary(const char* name)
{
    return bundle(name) + "/Contents/x86_64-linux/" + name + ".so";
}

// True while a file whose path contains the text is mapped into this process.
inline bool isMapped(const std::string& path)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    return maps.readAll().contains(QByteArray::fromStdString(path));
}

// The calls the test plug-ins log (CDW_TEST_PLUGIN_LOG), one per line,
// without the plug-in's name.
class CallLog {
public:
    CallLog()
    {
        path = dir.filePath(QStringLiteral("calls.log"));
        qputenv("CDW_TEST_PLUGIN_LOG", path.toLocal8Bit());
    }
    ~CallLog() { qunsetenv("CDW_TEST_PLUGIN_LOG"); }

    QStringList lines() const
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList out;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const int colon = line.indexOf(": ");
            if (colon > 0)
                out << QString::fromUtf8(line.mid(colon + 2));
        }
        return out;
    }
    void clear() const { QFile::remove(path); }
    int count(const QString& prefix) const
    {
        int n = 0;
        for (const QString& line : lines())
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }
    // The lines beginning with the given prefixes appear in this order
    // (other lines may come between); names the first one missing.
    QString missingInOrder(const QStringList& prefixes) const
    {
        const QStringList all = lines();
        int at = 0;
        for (const QString& prefix : prefixes) {
            while (at < all.size() && !all[at].startsWith(prefix))
                ++at;
            if (at == all.size())
                return prefix;
            ++at;
        }
        return {};
    }

private:
    QTemporaryDir dir;
    QString path;
};

// Collects what the code under test writes to standard error.
class ErrorCapture {
public:
    ErrorCapture()
    {
        std::fflush(stderr);
        saved = dup(2);
        file = std::tmpfile();
        if (file)
            dup2(fileno(file), 2);
    }
    ~ErrorCapture() { restore(); }
    QString text()
    {
        restore();
        if (!file)
            return {};
        std::rewind(file);
        QByteArray bytes;
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            bytes.append(buffer, qsizetype(n));
        std::fclose(file);
        file = nullptr;
        std::fputs(bytes.constData(), stderr); // still shown in the test output
        return QString::fromUtf8(bytes);
    }

private:
    void restore()
    {
        if (saved < 0)
            return;
        std::fflush(stderr);
        dup2(saved, 2);
        close(saved);
        saved = -1;
    }
    int saved = -1;
    FILE* file = nullptr;
};

} // namespace PluginTestSupport
