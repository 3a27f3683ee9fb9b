#pragma once
// Playback clock that advances by blocks of frames and calls scheduled
// callbacks, on the caller's thread, when the position passes their times.
// Not thread-safe; callbacks may schedule and cancel events (their own too).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class Transport {
public:
    using Callback = std::function<void(double time)>;

    void setSampleRate(float rate) { m_sampleRate = rate; }
    float getSampleRate() const { return m_sampleRate; }
    void setBPM(float bpm);  // clamped to [20, 300]; not used by the clock
    float getBPM() const { return m_bpm; }

    void start() { m_running = true; }
    void pause() { m_running = false; }
    void stop();
    bool isRunning() const { return m_running; }
    void setPosition(double seconds);  // negative positions become 0
    double getPosition() const { return m_position; }

    // Both return the event's id; ids start at 1 and are never reused. A
    // recurring event fires each time the clock passes its time, a once-event
    // the first time only.
    int schedule(Callback callback, double time);
    int scheduleOnce(Callback callback, double time);
    void cancel(int id);
    void cancelAll();
    std::size_t eventCount() const { return m_events.size(); }

    // An event fires in the frame whose step moves the position from below
    // or at its time to above it.
    void process(std::size_t frames);

private:
    struct Event {
        std::int32_t id = 0;
        double time = 0.0;
        bool once = false;
        // Shared so that a callback that cancels its own event stays alive
        // until it returns.
        std::shared_ptr<Callback> callback;
    };

    int add(Callback callback, double time, bool once);
    bool anyEventIn(double from, double to) const;
    void fireEvents(double from, double to);

    float m_sampleRate = 44100.0f;
    float m_bpm = 120.0f;
    bool m_running = false;
    double m_position = 0.0;
    std::vector<Event> m_events;
    std::int32_t m_nextId = 1;
    std::vector<std::int32_t> m_visit;  // reused list of the ids visited in one frame
};
