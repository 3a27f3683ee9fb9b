#pragma once
// A minimal LV2 host to compare hosted VST3 plug-ins with the LV2 builds of
// the same DSP: ports from the bundle's description, the URID map and
// block-length options the plug-in requires, plain control values. The LV2
// interface is declared here from its published C definitions.

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
    int32_t context;
    uint32_t subject, key, size, type;
    const void* value;
};

struct Port {
    uint32_t index = 0;
    QString symbol, name;
    bool input = false, audio = false, control = false;
    float defaultValue = 0.0f, minimum = 0.0f, maximum = 1.0f;
};

// The ports the description lists, in index order; empty when it cannot be
// read or a port is neither audio nor control.
inline std::vector<Port> readPorts(const QString& ttlPath)
{
    QFile file(ttlPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    std::map<uint32_t, Port> ports;
    // Each port is a bracketed block holding its index.
    for (const QString& rawBlock : QString::fromUtf8(file.readAll()).split('[')) {
        const QString block = rawBlock.section(']', 0, 0);
        const auto text = [&](const QString& pattern) { return QRegularExpression(pattern).match(block); };
        const auto number = [&](const char* key, float fallback) {
            const auto found = text(QString(key) + " (-?[0-9.eE+-]+)");
            return found.hasMatch() ? found.captured(1).toFloat() : fallback;
        };
        const auto index = text("lv2:index (\\d+)");
        if (!index.hasMatch())
            continue;
        Port port;
        port.index = index.captured(1).toUInt();
        port.symbol = text("lv2:symbol \"([^\"]*)\"").captured(1);
        port.name = text("lv2:name \"([^\"]*)\"").captured(1);
        port.input = block.contains("lv2:InputPort");
        port.audio = block.contains("lv2:AudioPort");
        port.control = block.contains("lv2:ControlPort");
        if (!port.audio && !port.control)
            return {};
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
        : block(blockSize), sampleRateValue(float(rate))
    {
        ports = readPorts(bundle + '/' + name + "_dsp.ttl");
        library = ports.empty() ? nullptr
                                : dlopen((bundle + '/' + name + "_dsp.so").toLocal8Bit().constData(),
                                         RTLD_NOW | RTLD_LOCAL);
        const auto entry =
            library ? reinterpret_cast<const Descriptor* (*)(uint32_t)>(dlsym(library, "lv2_descriptor")) : nullptr;
        const Descriptor* found = entry ? entry(0) : nullptr;
        if (!found)
            return;
        map = UridMap{this, &Plugin::mapUri};
        const uint32_t intType = mapUri(this, "http://lv2plug.in/ns/ext/atom#Int");
        const uint32_t floatType = mapUri(this, "http://lv2plug.in/ns/ext/atom#Float");
        options = {
            {0, 0, mapUri(this, "http://lv2plug.in/ns/ext/buf-size#maxBlockLength"), 4, intType, &block},
            {0, 0, mapUri(this, "http://lv2plug.in/ns/ext/buf-size#nominalBlockLength"), 4, intType, &block},
            {0, 0, mapUri(this, "http://lv2plug.in/ns/ext/parameters#sampleRate"), 4, floatType, &sampleRateValue},
            {0, 0, 0, 0, 0, nullptr},
        };
        mapFeature = Feature{"http://lv2plug.in/ns/ext/urid#map", &map};
        optionsFeature = Feature{"http://lv2plug.in/ns/ext/options#options", options.data()};
        const Feature* features[] = {&mapFeature, &optionsFeature, nullptr};
        instance = found->instantiate(found, rate, (bundle + '/').toStdString().c_str(), features);
        if (!instance)
            return;
        descriptor = found;
        values.resize(ports.size());
        buffers.resize(ports.size());
        for (const Port& port : ports) {
            values[port.index] = port.defaultValue;
            buffers[port.index].assign(port.audio ? size_t(block) : 0, 0.0f);
            descriptor->connectPort(instance, port.index,
                                    port.audio ? buffers[port.index].data() : &values[port.index]);
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
    // Output ports: what the plug-in last wrote.
    float controlValue(uint32_t index) const { return values[index]; }

    // Deactivated and activated again, as a host does between renders.
    void restart()
    {
        if (descriptor->deactivate)
            descriptor->deactivate(instance);
        if (descriptor->activate)
            descriptor->activate(instance);
    }

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
        const std::vector<uint32_t> inputs = audioPorts(true), outputs = audioPorts(false);
        for (size_t c = 0; c < inputs.size(); ++c)
            for (int i = 0; i < frames; ++i)
                buffers[inputs[c]][size_t(i)] = c < in.size() && in[c] ? in[c][i] : 0.0f;
        descriptor->run(instance, uint32_t(frames));
        for (size_t c = 0; c < outputs.size() && c < out.size(); ++c)
            std::copy(buffers[outputs[c]].begin(), buffers[outputs[c]].begin() + frames, out[c]);
    }

private:
    static uint32_t mapUri(void* handle, const char* uri)
    {
        auto& uris = static_cast<Plugin*>(handle)->uris;
        return uris.emplace(uri, uint32_t(uris.size() + 1)).first->second;
    }

    int32_t block;
    float sampleRateValue;
    std::vector<Port> ports;
    void* library = nullptr;
    const Descriptor* descriptor = nullptr;
    void* instance = nullptr;
    std::map<std::string, uint32_t> uris;
    UridMap map{};
    std::vector<Option> options;
    Feature mapFeature{}, optionsFeature{};
    std::vector<float> values;
    std::vector<std::vector<float>> buffers;
};

} // namespace Lv2Reference
