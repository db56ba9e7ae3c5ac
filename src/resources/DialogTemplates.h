#pragma once
// The program's resources as data, like a resource script: the dialog templates
// (every back end builds its windows from this table, so the layout exists once), the texts a
// host shows on the program's behalf, and the string table.

#include <string_view>
#include <vector>

#include "platform/DialogTemplate.h"

// The template with this id, or nullptr.
const DialogTemplate* FindDialogTemplate(int id);
// All templates (IDD_MAIN, IDD_PASSWD, IDD_ABOUTBOX, IDD_SETTINGS).
const std::vector<DialogTemplate>& AllDialogTemplates();
// Texts a host shows on the program's behalf where the platform's own could be in another
// language, or where a control the template names has parts of the host's making: the
// buttons of message boxes, the title of the file dialog, the browse edit's button.
enum class HostText {
    Ok,
    Cancel,
    OpenFileTitle,
    BrowseButton,
};
std::u16string_view GetHostText(HostText text);

// The program's version ("1.0.0"), set in one place: the project's version in CMakeLists.txt.
std::u16string_view ProgramVersion();

// String resources (IDS_ABOUTBOX, IDS_SETTINGS); empty when there is none.
std::u16string_view LoadStringResource(int id);
