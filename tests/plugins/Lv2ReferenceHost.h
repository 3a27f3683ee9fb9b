#pragma once
// A minimal LV2 host for comparing hosted VST3 plug-ins with the LV2 builds
// of the same DSP code: it reads the ports from the bundle's description,
// gives the plug-in the URID map and the block-length options it requires,
// and runs it in blocks with plain control values. The LV2 interface is
// declared here from its published C definitions.

#include <QFile>
#include <QRegularExpression>
#include <QString>

#include <dlfcn.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace Lv2Reference {

struct Feature {
    const char* uri;
    void* data;
};

struct Descriptor {
    const char* uri;
    void* (*instantiate)(const Descriptor*, double rate, const char* bundlePath, const Feature* const* features);
    void (*connectPort)(void* instance, uint32_t port, void* data);
    void (*activate)(void* instance);
    void (*run)(void* instance, uint32_t frames);
    void (*deactivate)(void* instance);
    void (*cleanup)(void* instance);
    const void* (*extensionData)(const char* uri);
};

struct UridMap {
    void* handle;
    uint32_t (*map)(void* handle, const char* uri);
};

struct Option {
    int32_t context; // 0: the instance
    uint32_t subject;
    uint32_t key;
    uint32_t size;
    uint32_t type;
    const void* value;
};

struct Port {
    uint32_t index = 0;
    QString symbol;
    QString name;
    bool input = false;
    bool audio = false;
    bool control = false;
    float defaultValue = 0.0f;
    float minimum = 0.0f;
    float maximum = 1.0f;
};

// The ports a bundle's plug-in description lists, in index order; empty when
// it cannot be read or a port is neither audio nor control.
inline std::vector<Port> readPorts(const QString& ttlPath)
{
    QFile file(ttlPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    std::map<uint32_t, Port> ports;
    // Each port is a bracketed block holding its index.
    const QStringList blocks = text.split('[');
    for (const QString& rawBlock : blocks) {
        const QString block = rawBlock.section(']', 0, 0);
        const auto index = QRegularExpression("lv2:index (\\d+)").match(block);
        if (!index.hasMatch())
            continue;
        Port port;
        port.index = index.captured(1).toUInt();
        port.symbol = QRegularExpression("lv2:symbol \"([^\"]*)\"").match(block).captured(1);
        port.name = QRegularExpression("lv2:name \"([^\"]*)\"").match(block).captured(1);
        port.input = block.contains("lv2:InputPort");
        port.audio = block.contains("lv2:AudioPort");
        port.control = block.contains("lv2:ControlPort");
        if (!port.audio && !port.control)
            return {};
        const auto number = [&](const char* key, float fallback) {
            const auto found = QRegularExpression(QString(key) + " (-?[0-9.eE+-]+)").match(block);
            return found.hasMatch() ? found.captured(1).toFloat() : fallback;
        };
        port.defaultValue = number("lv2:default", 0.0f);
        port.minimum = number("lv2:minimum", 0.0f);
        port.maximum = number("lv2:maximum", 1.0f);
        ports[port.index] = port;
    }
    std::vector<Port> out;
    for (const auto& entry : ports) {
        if (entry.first != out.size())
            return {};
        out.push_back(entry.second);
    }
    return out;
}

// One LV2 plug-in instance run in fixed blocks.
class Plugin {
public:
    // bundle: e.g. /usr/lib/lv2/ZamComp.lv2; name: ZamComp.
    Plugin(const QString& bundle, const QString& name, double rate, int blockSize)
        : block(blockSize)
    {
        ports = readPorts(bundle + '/' + name + "_dsp.ttl");
        if (ports.empty())
            return;
        library = dlopen((bundle + '/' + name + "_dsp.so").toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return;
        using Entry = const Descriptor* (*)(uint32_t);
        const auto entry = reinterpret_cast<Entry>(dlsym(library, "lv2_descriptor"));
        const Descriptor* found = entry ? entry(0) : nullptr;
        if (!found)
            return;
        map = UridMap{this, &Plugin::mapUri};
        const uint32_t intType = mapUri(this, "http://lv2plug.in/ns/ext/atom#Int");
        const uint32_t floatType = mapUri(this, "http://lv2plug.in/ns/ext/atom#Float");
        sampleRateValue = float(rate);
        options = {
            {0, 0, mapUri(this, "http://lv2plug.in/ns/ext/buf-size#maxBlockLength"), 4, intType, &block},
            {0, 0, mapUri(this, "http://lv2plug.in/ns/ext/buf-size#nominalBlockLength"), 4, intType, &block},
            {0, 0, mapUri(this, "http://lv2plug.in/ns/ext/parameters#sampleRate"), 4, floatType, &sampleRateValue},
            {0, 0, 0, 0, 0, nullptr},
        };
        mapFeature = Feature{"http://lv2plug.in/ns/ext/urid#map", &map};
        optionsFeature = Feature{"http://lv2plug.in/ns/ext/options#options", options.data()};
        const Feature* features[] = {&mapFeature, &optionsFeature, nullptr};
        const std::string path = (bundle + '/').toStdString();
        instance = found->instantiate(found, rate, path.c_str(), features);
        if (!instance)
            return;
        descriptor = found;
        values.resize(ports.size());
        buffers.resize(ports.size());
        for (const Port& port : ports) {
            values[port.index] = port.defaultValue;
            if (port.audio) {
                buffers[port.index].assign(size_t(block), 0.0f);
                descriptor->connectPort(instance, port.index, buffers[port.index].data());
            } else {
                descriptor->connectPort(instance, port.index, &values[port.index]);
            }
        }
        if (descriptor->activate)
            descriptor->activate(instance);
    }

    ~Plugin()
    {
        if (descriptor) {
            if (descriptor->deactivate)
                descriptor->deactivate(instance);
            descriptor->cleanup(instance);
        }
        if (library)
            dlclose(library);
    }

    bool isValid() const { return descriptor != nullptr; }
    const std::vector<Port>& portList() const { return ports; }

    // The control port of this name and direction, or null.
    const Port* control(const QString& name, bool input = true) const
    {
        for (const Port& port : ports)
            if (port.control && port.input == input && port.name == name)
                return &port;
        return nullptr;
    }

    void setControl(uint32_t index, float value) { values[index] = value; }
    // A control port's value (output ports: what the plug-in last wrote).
    float controlValue(uint32_t index) const { return values[index]; }

    // Deactivated and activated again, as a host does between renders.
    void restart()
    {
        if (descriptor->deactivate)
            descriptor->deactivate(instance);
        if (descriptor->activate)
            descriptor->activate(instance);
    }

    // The audio ports of one direction, in index order.
    std::vector<uint32_t> audioPorts(bool input) const
    {
        std::vector<uint32_t> out;
        for (const Port& port : ports)
            if (port.audio && port.input == input)
                out.push_back(port.index);
        return out;
    }

    // One block: in[c] feeds the c-th audio input (missing ones are silent),
    // out[c] receives the c-th audio output.
    void run(const std::vector<const float*>& in, const std::vector<float*>& out, int frames)
    {
        const std::vector<uint32_t> inputs = audioPorts(true);
        const std::vector<uint32_t> outputs = audioPorts(false);
        for (size_t c = 0; c < inputs.size(); ++c) {
            std::vector<float>& buffer = buffers[inputs[c]];
            for (int i = 0; i < frames; ++i)
                buffer[size_t(i)] = c < in.size() && in[c] ? in[c][i] : 0.0f;
        }
        descriptor->run(instance, uint32_t(frames));
        for (size_t c = 0; c < outputs.size() && c < out.size(); ++c)
            std::copy(buffers[outputs[c]].begin(), buffers[outputs[c]].begin() + frames, out[c]);
    }

private:
    static uint32_t mapUri(void* handle, const char* uri)
    {
        auto* self = static_cast<Plugin*>(handle);
        const auto found = self->uris.find(uri);
        if (found != self->uris.end())
            return found->second;
        const uint32_t id = uint32_t(self->uris.size() + 1);
        self->uris.emplace(uri, id);
        return id;
    }

    int32_t block;
    float sampleRateValue = 0.0f;
    std::vector<Port> ports;
    void* library = nullptr;
    const Descriptor* descriptor = nullptr;
    void* instance = nullptr;
    std::map<std::string, uint32_t> uris;
    UridMap map{};
    std::vector<Option> options;
    Feature mapFeature{};
    Feature optionsFeature{};
    std::vector<float> values;
    std::vector<std::vector<float>> buffers;
};

} // namespace Lv2Reference
