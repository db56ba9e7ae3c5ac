#pragma once
// The Linux window host: builds each dialog as a QDialog from its template and runs it
// modally. Needs a QApplication; one per process, installed with SetWindowHost.

#include <QIcon>
#include <QString>
#include <QTranslator>
#include <map>
#include <memory>
#include <vector>

#include "platform/Window.h"

class QStyle;
class QtDialogWindow;
class InstanceChannel;

class QtWindowHost : public WindowHost {
public:
    QtWindowHost();
    ~QtWindowHost() override;
    QtWindowHost(const QtWindowHost&) = delete;
    QtWindowHost& operator=(const QtWindowHost&) = delete;

    int RunModal(CDialogEx& dialog, DialogWindow* owner) override;
    bool ClaimInstance(const std::u16string& key) override;
    bool SignalInstance(const std::u16string& key) override;

    // The dialog windows whose modal loops run, outermost first.
    const std::vector<QtDialogWindow*>& OpenWindows() const { return m_open; }

    // The image of an icon resource (IDR_MAINFRAME); an empty icon for unknown ids.
    static QIcon Icon(IconId id);
    // A style that masks password edits with ch (owned by the host, shared by the edits).
    QStyle* MaskStyle(char16_t ch);

private:
    std::vector<QtDialogWindow*> m_open;
    std::map<char16_t, std::unique_ptr<QStyle>> m_maskStyles;
    std::unique_ptr<InstanceChannel> m_instance;
    QTranslator m_translator;
};
