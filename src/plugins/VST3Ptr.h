#pragma once
// Holds one reference to a VST3 object and releases it when cleared or
// destroyed, so every path out of a function gives back what it took.

#include "plugins/VST3Interfaces.h"

#include <utility>

template <class T>
class VST3Ptr {
public:
    VST3Ptr() = default;
    // Takes over a reference the caller already holds (no addRef).
    explicit VST3Ptr(T* adopted) : object(adopted) {}
    ~VST3Ptr() { reset(); }
    VST3Ptr(const VST3Ptr&) = delete;
    VST3Ptr& operator=(const VST3Ptr&) = delete;
    VST3Ptr(VST3Ptr&& other) noexcept : object(std::exchange(other.object, nullptr)) {}
    VST3Ptr& operator=(VST3Ptr&& other) noexcept
    {
        if (this != &other) {
            reset();
            object = std::exchange(other.object, nullptr);
        }
        return *this;
    }

    void reset(T* adopted = nullptr)
    {
        T* old = std::exchange(object, adopted);
        if (old)
            old->release();
    }
    T* get() const { return object; }
    T* operator->() const { return object; }
    explicit operator bool() const { return object != nullptr; }

    // Asks any VST3 object for this interface; empty when it is not offered
    // (or when the object answers success with a null pointer).
    template <class From>
    static VST3Ptr query(From* from)
    {
        if (!from)
            return {};
        void* out = nullptr;
        if (from->queryInterface(T::iid.bytes, &out) != vst::kResultOk || !out)
            return {};
        return VST3Ptr(static_cast<T*>(out));
    }

private:
    T* object = nullptr;
};
