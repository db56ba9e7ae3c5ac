#pragma once
// The Linux window host: builds each dialog as a QDialog from its template and runs it
// modally. Needs a QApplication; one per process, installed with SetWindowHost.

#include <QIcon>
#include <QString>
#include <QTranslator>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "backends/qt/TrayProtocol.h"
#include "platform/Window.h"

class EndRequests;
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

    // Asks the program to end (an EndCause and its detail): the outermost dialog gets
    // WM_ENDREQUEST at once, then every modal loop ends. Before any dialog runs, the request
    // waits for the first one.
    void RequestEnd(uintptr_t cause, intptr_t detail);

    // The dialog windows whose modal loops run, outermost first.
    const std::vector<QtDialogWindow*>& OpenWindows() const { return m_open; }

    // The image of an icon resource (IDR_MAINFRAME); an empty icon for unknown ids.
    static QIcon Icon(IconId id);
    // A style that masks password edits with ch (owned by the host, shared by the edits).
    QStyle* MaskStyle(char16_t ch);

    // Starts watching the tray, once, when the first icon has asked which tray it reaches.
    void WatchTray();
    // What the tray watch reports: a tray that went takes every window's icon with it; a tray
    // that came back is told to every open dialog, which adds its icon again.
    void OnTrayChange(px::qt::TrayChange change);

private:
    std::vector<QtDialogWindow*> m_open;
    std::map<char16_t, std::unique_ptr<QStyle>> m_maskStyles;
    std::unique_ptr<InstanceChannel> m_instance;
    std::unique_ptr<px::qt::TrayWatch> m_trayWatch;
    QTranslator m_translator;
    std::unique_ptr<EndRequests> m_endRequests;
    std::optional<std::pair<uintptr_t, intptr_t>> m_pendingEnd;
};
