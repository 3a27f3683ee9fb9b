#pragma once
// The audio-device calls the engines make, with device identifiers that are
// never 0 and every failure returned as a result plus an error text (nothing
// throws). RtAudioBackend is the real one; tests script their own.

#include <string>
#include <vector>

class AudioDeviceBackend {
public:
    enum class Result {
        NoError = 0,
        Warning,
        UnknownError,
        NoDevicesFound,
        InvalidDevice,
        MemoryError,
        InvalidParameter,
        InvalidUse,
        DriverError,
        SystemError,
        ThreadError,
    };

    struct DeviceInfo {
        unsigned int id = 0; // 0: no such device
        std::string name;
        unsigned int outputChannels = 0;
        unsigned int inputChannels = 0;
        bool isDefaultOutput = false;
        bool isDefaultInput = false;
        unsigned int preferredSampleRate = 0;
        std::vector<unsigned int> sampleRates;
    };

    struct StreamParameters {
        unsigned int deviceId = 0;
        unsigned int nChannels = 0;
        unsigned int firstChannel = 0;
    };

    // Called on the device's thread with interleaved 32-bit float buffers
    // (output or input null when the stream has none); return 0 to go on.
    using StreamCallback = int (*)(void* output, void* input, unsigned int frames,
                                   double streamTime, unsigned int status, void* userData);

    virtual ~AudioDeviceBackend() = default;

    virtual std::string apiDisplayName() const = 0;
    virtual unsigned int getDeviceCount() = 0;
    virtual std::vector<unsigned int> getDeviceIds() = 0;
    // An info with id 0 when the identifier names no device.
    virtual DeviceInfo getDeviceInfo(unsigned int id) = 0;
    // 0 when there is no such device.
    virtual unsigned int getDefaultOutputDevice() = 0;
    virtual unsigned int getDefaultInputDevice() = 0;

    // Opens a 32-bit float interleaved stream; either parameter may be null.
    // bufferFrames is updated to the size the device settled on.
    virtual Result openStream(const StreamParameters* output, const StreamParameters* input,
                              unsigned int sampleRate, unsigned int* bufferFrames,
                              StreamCallback callback, void* userData) = 0;
    virtual Result startStream() = 0;
    // A stream whose device does not answer within a time limit is given up:
    // it is then closed as far as its user can tell, and the call fails.
    virtual Result stopStream() = 0;
    // No callback runs once it has returned, also when a device that does
    // not answer makes it give the stream up.
    virtual void closeStream() = 0;
    virtual bool isStreamOpen() const = 0;
    virtual bool isStreamRunning() const = 0;
    // Text of the last failure.
    virtual std::string getErrorText() const = 0;
    // Frames the open stream holds between the callback and what is heard
    // (0 when unknown or no output is open).
    virtual unsigned int outputLatencyFrames() const { return 0; }
    // Whether other streams share the device (a sound server mixes them): a
    // stream left open then keeps nobody else from it.
    virtual bool mixesStreams() const { return false; }
    // Whether the open stream's device went away under it (it is then of no
    // further use and must be closed).
    virtual bool isStreamLost() const { return false; }
    // Whether an open stream that stands stopped still reaches its device: a
    // sound server that went away meanwhile leaves the stream open, and it
    // would only run ahead once started. False means it must be closed. It
    // is asked every second while a stream is held: it asks the device nothing.
    virtual bool stoppedStreamAnswers() { return !isStreamLost(); }
};
