#pragma once
// The Linux window host: builds each dialog as a QDialog from its template and runs it
// modally. Needs a QApplication; one per process, installed with SetWindowHost.

#include <QIcon>
#include <QString>
#include <map>
#include <memory>
#include <vector>

#include "platform/Window.h"

class QStyle;
class QtDialogWindow;

class QtWindowHost : public WindowHost {
public:
    QtWindowHost();
    ~QtWindowHost() override;
    QtWindowHost(const QtWindowHost&) = delete;
    QtWindowHost& operator=(const QtWindowHost&) = delete;

    int RunModal(CDialogEx& dialog, DialogWindow* owner) override;

    // The dialog windows whose modal loops run, outermost first.
    const std::vector<QtDialogWindow*>& OpenWindows() const { return m_open; }

    // The image of an icon resource (IDR_MAINFRAME); an empty icon for unknown ids.
    static QIcon Icon(IconId id);
    // The name a message box without a caption shows: the executable's file name without
    // its extension.
    static QString ApplicationName();
    // A style that masks password edits with ch (owned by the host, shared by the edits).
    QStyle* MaskStyle(char16_t ch);

private:
    std::vector<QtDialogWindow*> m_open;
    std::map<char16_t, std::unique_ptr<QStyle>> m_maskStyles;
};
