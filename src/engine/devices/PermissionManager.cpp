#include "engine/devices/PermissionManager.h"

#include <iostream>

PermissionManager& PermissionManager::getInstance()
{
    static PermissionManager instance;
    return instance;
}

bool PermissionManager::checkMicrophonePermission() const
{
    return true;
}

void PermissionManager::requestMicrophonePermission(std::function<void(bool granted)> callback)
{
    std::cout << "PermissionManager: Desktop - no permission needed" << std::endl;
    if (callback)
        callback(true);
}
