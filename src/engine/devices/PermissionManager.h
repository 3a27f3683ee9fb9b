#pragma once
// Whether the editors may record from the microphone. This platform asks the
// user nothing: recording is always allowed.

#include <functional>

class PermissionManager {
public:
    static PermissionManager& getInstance();

    bool checkMicrophonePermission() const;
    // Calls back at once, on the caller's thread, before returning.
    void requestMicrophonePermission(std::function<void(bool granted)> callback);

private:
    PermissionManager() = default;
    PermissionManager(const PermissionManager&) = delete;
    PermissionManager& operator=(const PermissionManager&) = delete;
};
