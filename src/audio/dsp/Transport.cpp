#include "audio/dsp/Transport.h"

#include <algorithm>

void Transport::setBPM(float bpm)
{
    m_bpm = std::clamp(bpm, 20.0f, 300.0f);
}

void Transport::stop()
{
    m_running = false;
    m_position = 0.0;
}

void Transport::setPosition(double seconds)
{
    m_position = std::max(seconds, 0.0);
}

int Transport::add(Callback callback, double time, bool once)
{
    Event event;
    event.id = m_nextId++;
    event.time = time;
    event.once = once;
    event.callback = std::make_shared<Callback>(std::move(callback));
    m_events.push_back(std::move(event));
    return m_events.back().id;
}

int Transport::schedule(Callback callback, double time)
{
    return add(std::move(callback), time, false);
}

int Transport::scheduleOnce(Callback callback, double time)
{
    return add(std::move(callback), time, true);
}

void Transport::cancel(int id)
{
    m_events.erase(std::remove_if(m_events.begin(), m_events.end(),
                                  [id](const Event& e) { return e.id == id; }),
                   m_events.end());
}

void Transport::cancelAll()
{
    m_events.clear();
}

bool Transport::anyEventIn(double from, double to) const
{
    for (const Event& event : m_events) {
        if (event.time >= from && event.time < to)
            return true;
    }
    return false;
}

// Visits the events present when the frame starts, in order. An event that
// a callback cancels before its turn is skipped; events scheduled by a
// callback wait for the next frame.
void Transport::fireEvents(double from, double to)
{
    std::vector<std::int32_t> ids;
    ids.swap(m_visit);  // a callback that runs process() again gets a list of its own
    ids.clear();
    for (const Event& event : m_events)
        ids.push_back(event.id);

    for (std::int32_t id : ids) {
        auto it = std::find_if(m_events.begin(), m_events.end(),
                               [id](const Event& e) { return e.id == id; });
        if (it == m_events.end() || !(it->time >= from && it->time < to))
            continue;
        const double time = it->time;
        const std::shared_ptr<Callback> callback = it->callback;
        if (it->once)
            m_events.erase(it);
        if (callback && *callback)
            (*callback)(time);
    }
    m_visit.swap(ids);
}

void Transport::process(std::size_t frames)
{
    if (!m_running)
        return;
    const double dt = 1.0 / static_cast<double>(m_sampleRate);
    if (m_events.empty()) {
        for (std::size_t i = 0; i < frames; ++i)
            m_position += dt;
        return;
    }
    for (std::size_t i = 0; i < frames && m_running; ++i) {
        const double before = m_position;
        m_position += dt;
        if (anyEventIn(before, m_position))
            fireEvents(before, m_position);
    }
}
