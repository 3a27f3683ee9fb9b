#pragma once
// Plug-in hosting writes its progress lines to standard output (only when
// the diagnostics category is on, see common/DiagnosticLog.h) and its
// failures to standard error, one line each, flushed at once, so they stay
// in order with the plug-ins' own output.

#include <string>

namespace PluginLog {
void info(const std::string& line);
void error(const std::string& line);
} // namespace PluginLog
