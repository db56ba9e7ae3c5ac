#include "backends/qt/QtWindowHost.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QImage>
#include <QLibraryInfo>
#include <QLocale>
#include <QPixmap>
#include <QProxyStyle>
#include <QStyleFactory>
#include <algorithm>
#include <cstdint>
#include <utility>

#include "backends/qt/DialogUnits.h"
#include "backends/qt/EndRequests.h"
#include "backends/qt/InstanceChannel.h"
#include "backends/qt/QtDialogWindow.h"
#include "resources/DialogTemplates.h"
#include "resources/Resource.h"

namespace {

#include "icons/perennix-pixels.inc"

// Masks password edits with the program's own character instead of the style's bullet.
class MaskCharacterStyle : public QProxyStyle {
public:
    MaskCharacterStyle(QStyle* base, char16_t ch)
        : QProxyStyle(base)
        , m_ch(ch)
    {
    }

    int styleHint(
        StyleHint hint, const QStyleOption* option, const QWidget* widget, QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return m_ch;
        // Never show the last typed character in plain, not even for a moment.
        if (hint == SH_LineEdit_PasswordMaskDelay)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

private:
    char16_t m_ch;
};

}  // namespace

QtWindowHost::QtWindowHost()
{
    // The program's loops end only through EndDialog: hiding the last window into the tray,
    // or closing a message box while it is hidden, must not end the application.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(Icon(IDR_MAINFRAME));
    // Every text of the program is Chinese: boxes and menus take a Chinese UI font first, at
    // the desktop's size, so no second font has to be loaded to show them.
    QFont font = QApplication::font();
    font.setFamilies(px::qt::ChineseUiFamilies() + QStringList(font.family()));
    QApplication::setFont(font);
    // Qt's own texts (the file dialog, the edits' context menu) in Chinese like the program's.
    if (m_translator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&m_translator);
    // A termination signal or the end of the X connection ends the program as the user's
    // exit would (logged, the tray icon removed) instead of killing it where it stands.
    m_endRequests
        = std::make_unique<EndRequests>([this](uintptr_t cause, intptr_t detail) { RequestEnd(cause, detail); });
}

QtWindowHost::~QtWindowHost() = default;

void QtWindowHost::RequestEnd(uintptr_t cause, intptr_t detail)
{
    if (m_open.empty()) {
        m_pendingEnd = {cause, detail};
        return;
    }
    m_open.front()->Dispatch(WM_ENDREQUEST, cause, detail);
    // Boxes and dialogs above the main window would wait for an answer nobody gives: every
    // event loop of the thread ends (each then reads as cancelled).
    QCoreApplication::exit(0);
}

int QtWindowHost::RunModal(CDialogEx& dialog, DialogWindow* owner)
{
    const DialogTemplate* tpl = FindDialogTemplate(dialog.GetTemplateId());
    if (!tpl || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return -1;

    QWidget* parent = nullptr;
    if (auto* ownerWindow = dynamic_cast<QtDialogWindow*>(owner))
        parent = ownerWindow->Widget();

    QtDialogWindow window(*this, dialog, *tpl, parent);
    m_open.push_back(&window);
    dialog.Attach(&window);
    const bool focusFirstTabStop = dialog.OnInitDialog();
    if (const std::optional<std::pair<uintptr_t, intptr_t>> pending = std::exchange(m_pendingEnd, std::nullopt))
        window.PostMessage(WM_ENDREQUEST, pending->first, pending->second);
    const int result = window.RunModalLoop(focusFirstTabStop);
    dialog.WindowProc(WM_DESTROY, 0, 0);
    dialog.Detach();
    m_open.erase(std::find(m_open.begin(), m_open.end(), &window));
    return result;
}

QIcon QtWindowHost::Icon(IconId id)
{
    if (id != IDR_MAINFRAME)
        return {};
    // One instance for every window, box and the tray. The sizes a window and a tray use; the
    // desktop takes larger ones from the installed theme.
    static const QIcon icon = [] {
        // The pixels are compiled in: decoding PNGs would page in the image library and its
        // inflater for five small pictures.
        const std::pair<int, const uint32_t*> images[]
            = {{16, kIconPixels16}, {24, kIconPixels24}, {32, kIconPixels32}, {48, kIconPixels48}, {64, kIconPixels64}};
        QIcon sizes;
        for (const auto& [size, pixels] : images)
            sizes.addPixmap(
                QPixmap::fromImage(QImage(reinterpret_cast<const uchar*>(pixels), size, size, QImage::Format_ARGB32)));
        return sizes;
    }();
    return icon;
}

bool QtWindowHost::ClaimInstance(const std::u16string& key)
{
    m_instance = std::make_unique<InstanceChannel>();
    return m_instance->Claim(key, [this] {
        if (!m_open.empty())
            m_open.front()->PostMessage(WM_SHOWINSTANCE, 0, 0);
    });
}

bool QtWindowHost::SignalInstance(const std::u16string& key) { return InstanceChannel::Signal(key); }

void QtWindowHost::WatchTray()
{
    if (!m_trayWatch)
        m_trayWatch = std::make_unique<px::qt::TrayWatch>([this](px::qt::TrayChange change) { OnTrayChange(change); });
}

void QtWindowHost::OnTrayChange(px::qt::TrayChange change)
{
    // A copy: a dialog may open or end one while it is told.
    for (QtDialogWindow* window : std::vector<QtDialogWindow*>(m_open)) {
        if (change == px::qt::TrayChange::Gone)
            window->TrayGone();
        else
            window->TrayBack();
    }
}

QStyle* QtWindowHost::MaskStyle(char16_t ch)
{
    std::unique_ptr<QStyle>& style = m_maskStyles[ch];
    if (!style) {
        // Built on a style of the application's own kind, so a masked edit looks like the others.
        QStyle* base = QStyleFactory::create(QApplication::style()->name());
        style = std::make_unique<MaskCharacterStyle>(base, ch);
    }
    return style.get();
}
