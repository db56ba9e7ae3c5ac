#include "platform/Files.h"

#include <cstdlib>

namespace {
Files* g_files = nullptr;
}

Files& GetFiles()
{
    if (!g_files)
        std::abort();
    return *g_files;
}

void SetFiles(Files* files) { g_files = files; }
