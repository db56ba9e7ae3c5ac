#include "settings/DataFolder.h"

#include "base/Paths.h"

DataFolder ChooseDataFolder(Files& files, const std::u16string& modulePath)
{
    const std::u16string beside = px::PathBesideModule(modulePath, u"");
    // A config.ini beside the program holds this copy's settings even where the folder cannot
    // be written (made read-only after it was set up): they are read from there, and a save
    // fails as in any folder that refuses it.
    if (files.CanWriteInFolder(beside) || files.PathExists(beside + u"config.ini"))
        return {beside, false, {}};
    const std::u16string perUser = files.PerUserFolder();
    if (perUser.empty())
        return {
            beside, false, u"程序所在文件夹不可写，且没有用户配置文件夹（未设置 HOME 或 APPDATA），设置将无法保存。"};
    const std::u16string folder = perUser + px::kPathSeparator;
    switch (files.MakePrivateFolder(perUser)) {
    case FolderState::Ready:
        return {folder, true, {}};
    case FolderState::NotAFolder:
        return {folder, true, u"用户配置文件夹 " + perUser + u" 是一个文件，不是文件夹，设置将无法保存。"};
    case FolderState::Failed:
        break;
    }
    return {folder, true, u"无法创建用户配置文件夹 " + perUser + u"，设置将无法保存。"};
}
