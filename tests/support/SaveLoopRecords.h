#pragma once
// The two settings records the save loops (Linux and Windows) write in turn, known to the loops that drive them,
// and what those loops check in the folder afterwards.

#include <filesystem>
#include <string>

#include "settings/GuardConfig.h"

namespace saveloop {

inline GuardConfig Record(bool second)
{
    GuardConfig config;
    config.strFullPath = second ? u"/opt/second/程序" : u"/opt/first/program";
    config.strExeName = second ? u"程序" : u"program";
    config.strArgs = second ? u"--second" : std::u16string(3000, u'a');  // files of unlike sizes
    config.nLoopSec = second ? 5 : 60;
    config.bTimedClose = second;
    config.strRebTime = second ? u"12:30;23:59" : u"0";
    return config;
}

// The temporary files of config.ini in folder.
inline int CountTemporaries(const std::filesystem::path& folder)
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(".config.ini.", 0) == 0)
            ++count;
    }
    return count;
}

}  // namespace saveloop
