#pragma once
// Where this copy of the program keeps config.ini and log.txt: beside the program when that
// folder is writable (a portable copy, as always) or already holds a config.ini, else in the
// per-user folder (an installed copy in a folder only an administrator may write).

#include <string>

#include "platform/Files.h"

struct DataFolder {
    std::u16string path;  // ends with the path separator
    bool perUser = false;
    // Why nothing can be saved (empty: the folder is usable); the program then guards all the
    // same, with the values of its window.
    std::u16string problem;
};

DataFolder ChooseDataFolder(Files& files, const std::u16string& modulePath);
