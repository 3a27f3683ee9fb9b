#include "PluginLog.h"

#include "common/DiagnosticLog.h"

#include <cstdio>

namespace PluginLog {

void info(const std::string& line)
{
    if (!lcDiagnostics().isDebugEnabled())
        return;
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

void error(const std::string& line)
{
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

} // namespace PluginLog
