// 512-frame blocks through VST3PluginInstance::process: one real effect
// (zam-plugins' ZamEQ2) and a chain of 8 gain test plug-ins, each against the
// plain loop that calls the same plug-ins' IAudioProcessor::process directly
// with process data prepared once. That data holds what the host hands over
// too (input and output parameter change lists, emptied every block, and a
// process context), so the plug-in does the same work on both sides.
#include "BenchSupport.h"
#include "PrivateUserFolders.h"
#include "plugins/VST3HostObjects.h"
#include "plugins/VST3Module.h"
#include "plugins/VST3ParameterChanges.h"
#include "plugins/VST3PluginInstance.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kFrames = 512;
constexpr int kBlocks = 4000;       // about 46 s of audio
constexpr int kChainBlocks = 40000; // the gains are cheap: a longer run
constexpr int kChain = 8;

struct Stereo {
    std::vector<float> left = std::vector<float>(kFrames), right = std::vector<float>(kFrames);
    float* channels[2] = {left.data(), right.data()};
    Stereo()
    {
        for (int i = 0; i < kFrames; ++i)
            left[size_t(i)] = right[size_t(i)] = 0.25f * float(std::sin(i * 0.0627));
    }
};

// A plug-in driven by hand: created, initialised, activated, then processed
// with one ProcessData that never changes.
class DirectPlugin {
public:
    bool open(const std::string& path, float** in, float** out, int parameters)
    {
        std::string error;
        module = VST3Module::open(path, error);
        if (!module)
            return false;
        for (const VST3ClassInfo& info : module->classInfos())
            if (info.category == vst::kAudioModuleClass)
                component = module->createInstance<vst::IComponent>(info.id);
        if (!component || component->initialize(VST3HostApplication::instance()) != vst::kResultOk)
            return false;
        processor = VST3Ptr<vst::IAudioProcessor>::query(component.get());
        if (!processor)
            return false;
        component->activateBus(vst::kAudio, vst::kInput, 0, 1);
        component->activateBus(vst::kAudio, vst::kOutput, 0, 1);
        vst::ProcessSetup setup{vst::kRealtime, vst::kSample32, kFrames, double(kRate)};
        processor->setupProcessing(setup);
        component->setActive(1);
        processor->setProcessing(1);
        inBus = {2, 0, {in}};
        outBus = {2, 0, {out}};
        context.state = vst::kPlaying;
        context.sampleRate = kRate;
        data.numSamples = kFrames;
        data.numInputs = 1;
        data.numOutputs = 1;
        data.inputs = &inBus;
        data.outputs = &outBus;
        data.processContext = &context;
        inputChanges.resize(parameters);
        outputChanges.resize(parameters);
        data.inputParameterChanges = &inputChanges;
        data.outputParameterChanges = &outputChanges;
        return true;
    }
    void process()
    {
        inputChanges.clear();
        outputChanges.clear();
        processor->process(data);
    }
    ~DirectPlugin()
    {
        if (processor)
            processor->setProcessing(0);
        if (component) {
            component->setActive(0);
            component->terminate();
        }
        processor.reset();
        component.reset();
    }

private:
    std::shared_ptr<VST3Module> module;
    VST3Ptr<vst::IComponent> component;
    VST3Ptr<vst::IAudioProcessor> processor;
    vst::AudioBusBuffers inBus{}, outBus{};
    vst::ProcessContext context{};
    VST3ParameterChanges inputChanges, outputChanges;
    vst::ProcessData data{};
};

// Best time of ours and of the direct loop, alternating so both see the same machine state.
void measure(const std::function<void()>& ours, const std::function<void()>& direct, double& oursTime,
             double& directTime)
{
    oursTime = directTime = 1e9;
    for (int round = 0; round < 5; ++round) {
        oursTime = std::min(oursTime, Bench::timeBest(ours, 1));
        directTime = std::min(directTime, Bench::timeBest(direct, 1));
    }
}

void printPerBlock(const char* what, int blocks, double oursTime, double directTime)
{
    std::printf("%s: %.4f ms a block through the host, %.4f ms called directly; a block lasts %.1f ms\n", what,
                oursTime * 1000.0 / blocks, directTime * 1000.0 / blocks, 1000.0 * kFrames / kRate);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    PrivateUserFolders folders(argv[0]);
    QCoreApplication app(argc, argv);
    bool ok = true;
    Stereo in, out;

    const std::string real = "/usr/lib/vst3/ZamEQ2.vst3";
    if (!QFileInfo::exists(QString::fromStdString(real))) {
        std::printf("ZamEQ2 not installed (zam-plugins); real effect skipped\n");
        ok = false;
    } else {
        VST3PluginInstance instance;
        DirectPlugin direct;
        if (!instance.load(real, kRate, kFrames) || !instance.activate() || !direct.open(real, in.channels, out.channels, instance.getParameterCount())) {
            std::printf("ZamEQ2 did not load\n");
            return 1;
        }
        double oursTime = 0.0, directTime = 0.0;
        measure([&] { for (int b = 0; b < kBlocks; ++b) instance.process(in.channels, out.channels, 2, kFrames); },
                [&] { for (int b = 0; b < kBlocks; ++b) direct.process(); }, oursTime, directTime);
        printPerBlock("ZamEQ2", kBlocks, oursTime, directTime);
        ok &= Bench::report(QStringLiteral("ZamEQ2, %1 blocks of 512").arg(kBlocks), oursTime, directTime,
                            QStringLiteral("the same plug-in's process() called directly, data prepared once"), 1.1);
    }

    const std::string gain = (QCoreApplication::applicationDirPath() + "/../testplugins/CdwGain.vst3").toStdString();
    std::vector<std::unique_ptr<VST3PluginInstance>> chain;
    std::vector<std::unique_ptr<DirectPlugin>> directChain;
    for (int i = 0; i < kChain; ++i) {
        chain.push_back(std::make_unique<VST3PluginInstance>());
        directChain.push_back(std::make_unique<DirectPlugin>());
        if (!chain.back()->load(gain, kRate, kFrames) || !chain.back()->activate() ||
            !directChain.back()->open(gain, out.channels, out.channels, chain.back()->getParameterCount())) {
            std::printf("the gain test plug-in did not load from %s\n", gain.c_str());
            return 1;
        }
    }
    double oursTime = 0.0, directTime = 0.0;
    measure(
        [&] {
            for (int b = 0; b < kChainBlocks; ++b) {
                chain[0]->process(in.channels, out.channels, 2, kFrames);
                for (int i = 1; i < kChain; ++i)
                    chain[size_t(i)]->process(out.channels, out.channels, 2, kFrames);
            }
        },
        [&] {
            for (int b = 0; b < kChainBlocks; ++b)
                for (auto& plugin : directChain)
                    plugin->process();
        },
        oursTime, directTime);
    printPerBlock("chain of 8 gains", kChainBlocks, oursTime, directTime);
    ok &= Bench::report(QStringLiteral("chain of 8 test gains, %1 blocks of 512").arg(kChainBlocks), oursTime, directTime,
                        QStringLiteral("the same plug-ins' process() called directly, data prepared once"), 1.5);
    return ok ? 0 : 1;
}
