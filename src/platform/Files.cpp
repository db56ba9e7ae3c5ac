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

bool Files::CanWriteInFolder(const std::u16string& /*folder*/) { return true; }

std::u16string Files::PerUserFolder() { return {}; }

FolderState Files::MakePrivateFolder(const std::u16string& /*folder*/) { return FolderState::Ready; }
