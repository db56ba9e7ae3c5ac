#include "backends/qt/QtDialogWindow.h"

#include <QApplication>
#include <QBackingStore>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSpacerItem>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <limits>

#include "backends/qt/OsFailure.h"
#include "backends/qt/QtText.h"
#include "backends/qt/QtWindowHost.h"
#include "backends/qt/TrayProtocol.h"

namespace {

constexpr unsigned kMiddleButtonDown = 0x0207;  // WM_MBUTTONDOWN
// The range a window timer's interval is held to (USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM).
constexpr uint32_t kTimerMinimumMs = 10;
// How long a notification stays up, where the desktop lets the program say.
constexpr int kNotificationShownMs = 10000;
constexpr uint32_t kTimerMaximumMs = 0x7FFFFFFF;
// Room a title bar keeps beside the title for the window's icon and its buttons.
constexpr int kTitleBarButtonsWidth = 96;

uintptr_t CommandWParam(int id, int code) { return CDialogEx::MakeCommandWParam(id, code); }

bool IsEditKind(ControlKind kind) { return kind == ControlKind::Edit || kind == ControlKind::BrowseEdit; }

QMessageBox::Icon QtIcon(BoxIcon icon)
{
    switch (icon) {
    case BoxIcon::Information:
        return QMessageBox::Information;
    case BoxIcon::Warning:
        return QMessageBox::Warning;
    case BoxIcon::Error:
        return QMessageBox::Critical;
    case BoxIcon::Question:
        return QMessageBox::Question;
    case BoxIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

unsigned MouseMessageFor(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Context:
        return WM_RBUTTONDOWN;
    case QSystemTrayIcon::DoubleClick:
        return WM_LBUTTONDBLCLK;
    case QSystemTrayIcon::MiddleClick:
        return kMiddleButtonDown;
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::Unknown:
        break;
    }
    return WM_LBUTTONDOWN;
}

// A group box drawn the Windows way: an etched frame whose top line runs through the middle
// of the title, instead of a title standing above the frame.
class EtchedGroupBox : public QGroupBox {
public:
    EtchedGroupBox(const QString& title, QWidget* parent)
        : QGroupBox(title, parent)
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        const QRect frame = rect().adjusted(0, metrics.height() / 2, -2, -2);
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(frame);
        painter.setPen(palette().color(QPalette::Light));
        painter.drawRect(frame.translated(1, 1));
        if (title().isEmpty())
            return;
        const int gap = metrics.horizontalAdvance(QLatin1Char(' '));
        const QRect text(
            metrics.averageCharWidth() + gap, 0, metrics.horizontalAdvance(title()) + 2 * gap, metrics.height());
        painter.fillRect(text, palette().color(QPalette::Window));
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        painter.drawText(text, Qt::AlignCenter | Qt::TextSingleLine, title());
    }
};

}  // namespace

namespace px::qt {

// The QDialog of a template: turns keys, the close box, painting and the background's
// context menu into what the window layer delivers.
class DialogWidget : public QDialog {
public:
    DialogWidget(QtDialogWindow& window, QWidget* parent, Qt::WindowFlags flags)
        : QDialog(parent, flags)
        , m_window(window)
    {
    }

    // QDialog ends itself on accept and reject; here the dialog decides, through the OK and
    // cancel commands.
    void accept() override { m_window.Dispatch(WM_COMMAND, CommandWParam(IDOK, BN_CLICKED), 0); }
    void reject() override { m_window.Dispatch(WM_COMMAND, CommandWParam(IDCANCEL, BN_CLICKED), 0); }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->matches(QKeySequence::Cancel)) {
            reject();
            return;
        }
        const bool enterKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        const bool plain = event->modifiers() == Qt::NoModifier
            || (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
        if (enterKey && plain) {
            m_window.OnEnterKey();
            return;
        }
        QDialog::keyPressEvent(event);
    }

    // The close box is the cancel command; the window goes away only when the dialog ends.
    void closeEvent(QCloseEvent* event) override
    {
        event->ignore();
        if (!m_window.Ended())
            reject();
    }

    void paintEvent(QPaintEvent* event) override
    {
        QDialog::paintEvent(event);
        QPainter painter(this);
        m_window.PaintDialog(painter);
    }

    // A hidden or minimised window gives back its backing store, the size of the window in
    // pixels (about 1 MB for the main window), which a watchdog would otherwise hold all day
    // in the tray; Qt paints the window whole into a new one when it is shown again.
    void hideEvent(QHideEvent* event) override
    {
        QDialog::hideEvent(event);
        ReleaseBackingStore();
    }
    void changeEvent(QEvent* event) override
    {
        QDialog::changeEvent(event);
        if (event->type() == QEvent::WindowStateChange && isMinimized())
            ReleaseBackingStore();
    }

    // Reaches here from the background and from every control that has no menu of its own.
    void contextMenuEvent(QContextMenuEvent* event) override { m_window.ShowContextMenu(event->globalPos()); }

private:
    void ReleaseBackingStore()
    {
        if (QBackingStore* store = backingStore())
            store->resize(QSize(0, 0));
    }

    QtDialogWindow& m_window;
};

}  // namespace px::qt

QtDialogWindow::QtDialogWindow(QtWindowHost& host, CDialogEx& dialog, const DialogTemplate& tpl, QWidget* parent)
    : m_host(host)
    , m_dialog(dialog)
    , m_tpl(tpl)
{
    Qt::WindowFlags flags
        = Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    // An application window (with a taskbar button) is a normal window; the others are dialogs.
    flags |= tpl.style.Has(DialogStyle::AppWindow) ? Qt::Window : Qt::Dialog;
    if (tpl.style.Has(DialogStyle::MinimizeBox))
        flags |= Qt::WindowMinimizeButtonHint;
    m_widget = std::make_unique<px::qt::DialogWidget>(*this, parent, flags);
    m_widget->setWindowTitle(px::qt::ToQString(tpl.title));
    m_widget->setFont(px::qt::TemplateFont(tpl));
    m_base = px::qt::DialogBaseUnits(m_widget->font());

    const QSize client = px::qt::MapDialogSize(tpl.cx, tpl.cy, m_base);
    // Every window keeps its template size, a sizing border's too: a window whose size can
    // change is one a window manager may maximise whatever its hints say (openbox ignores
    // the Motif hint's missing maximise function), and a template without a maximise box
    // would then get a maximise button that only moves the window into a corner.
    m_widget->setFixedSize(client);
    // A dialog run on top of another blocks it, as a modal dialog does; the outermost one
    // blocks nothing, so its tray icon stays usable while it is hidden.
    m_widget->setWindowModality(parent ? Qt::ApplicationModal : Qt::NonModal);
    BuildControls();
}

QtDialogWindow::~QtDialogWindow() = default;

QDialog* QtDialogWindow::Widget() const { return m_widget.get(); }

void QtDialogWindow::BuildControls()
{
    for (const ControlTemplate& c : m_tpl.controls)
        CreateControl(c);

    // The group box is drawn behind the controls it frames and lets every click through,
    // as a Win32 group box does.
    for (const Control& c : m_items) {
        if (c.tpl->kind == ControlKind::GroupBox)
            c.widget->lower();
    }

    // Tab order is template order.
    QWidget* previous = nullptr;
    for (const Control& c : m_items) {
        if (!c.tpl->style.Has(ControlStyle::TabStop))
            continue;
        if (previous)
            QWidget::setTabOrder(previous, c.focus);
        previous = c.focus;
    }
}

void QtDialogWindow::CreateControl(const ControlTemplate& c)
{
    QWidget* parent = m_widget.get();
    const QString text = px::qt::ToQString(c.text);
    const bool tabStop = c.style.Has(ControlStyle::TabStop);
    const Qt::FocusPolicy focusPolicy = tabStop ? Qt::StrongFocus : Qt::ClickFocus;
    const QRect rect = px::qt::MapTemplateRect(c.x, c.y, c.cx, c.cy, m_base);
    Control control;
    control.tpl = &c;

    switch (c.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        auto* button = new QPushButton(text, parent);
        // Enter picks the focused push button or the template's default button, never a
        // button that merely had the focus before (see OnEnterKey).
        button->setAutoDefault(false);
        button->setDefault(c.kind == ControlKind::DefPushButton);
        button->setFocusPolicy(focusPolicy);
        QObject::connect(button, &QPushButton::clicked, button,
            [this, id = c.id] { Dispatch(WM_COMMAND, CommandWParam(id, BN_CLICKED), 0); });
        control.widget = control.focus = button;
        break;
    }
    case ControlKind::AutoCheckBox: {
        auto* box = new QCheckBox(text, parent);
        box->setFocusPolicy(focusPolicy);
        // A click toggles the box first, so the handler reads the new state.
        QObject::connect(box, &QCheckBox::clicked, box,
            [this, id = c.id] { Dispatch(WM_COMMAND, CommandWParam(id, BN_CLICKED), 0); });
        control.widget = control.focus = box;
        break;
    }
    case ControlKind::Label: {
        auto* label = new QLabel(text, parent);
        label->setTextFormat(Qt::PlainText);
        // Static text is drawn from the top and wraps at the control's width.
        label->setAlignment((c.style.Has(ControlStyle::Right) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
        label->setWordWrap(true);
        control.widget = control.focus = label;
        break;
    }
    case ControlKind::GroupBox: {
        auto* group = new EtchedGroupBox(text, parent);
        group->setAttribute(Qt::WA_TransparentForMouseEvents);
        control.widget = control.focus = group;
        break;
    }
    case ControlKind::Icon: {
        auto* label = new QLabel(parent);
        const int size = m_widget->style()->pixelMetric(QStyle::PM_LargeIconSize);
        label->setPixmap(QtWindowHost::Icon(c.iconId).pixmap(size, size));
        control.widget = control.focus = label;
        m_items.push_back(control);
        m_controls.push_back(label);
        label->setProperty("controlId", c.id);
        // A picture control takes the size of its icon.
        label->setGeometry(rect.x(), rect.y(), size, size);
        return;
    }
    case ControlKind::Edit:
    case ControlKind::BrowseEdit: {
        QWidget* holder = parent;
        QLineEdit* edit = nullptr;
        if (c.kind == ControlKind::BrowseEdit) {
            // The edit and its browse button share the control's rectangle, the button at
            // the right end, as the browse edit draws it inside its border.
            holder = new QWidget(parent);
            edit = new QLineEdit(holder);
            auto* browse = new QToolButton(holder);
            browse->setText(px::qt::ToQString(GetHostText(HostText::BrowseButton)));
            browse->setFocusPolicy(Qt::NoFocus);
            const int buttonWidth = std::min(rect.height(), rect.width() / 2);
            edit->setGeometry(0, 0, rect.width() - buttonWidth, rect.height());
            browse->setGeometry(rect.width() - buttonWidth, 0, buttonWidth, rect.height());
            holder->setFocusProxy(edit);
            QObject::connect(browse, &QToolButton::clicked, browse, [this, id = c.id] { BrowseForFile(id); });
        } else {
            edit = new QLineEdit(parent);
        }
        edit->setFrame(c.style.Has(ControlStyle::Border));
        // No cut at the default 32,767 characters: values of any length are set and saved whole.
        edit->setMaxLength(std::numeric_limits<int>::max());
        edit->setFocusPolicy(focusPolicy);
        // Every change of the text notifies the dialog, typed or set by the program.
        QObject::connect(edit, &QLineEdit::textChanged, edit, [this, id = c.id] {
            if (m_settingText == 0)
                Dispatch(WM_COMMAND, CommandWParam(id, EN_CHANGE), 0);
        });
        control.widget = (holder == parent) ? static_cast<QWidget*>(edit) : holder;
        control.focus = edit;
        break;
    }
    }
    control.widget->setGeometry(rect);
    control.widget->setProperty("controlId", c.id);
    control.focus->setProperty("controlId", c.id);
    m_items.push_back(control);
    m_controls.push_back(control.focus);
}

const QtDialogWindow::Control* QtDialogWindow::Find(int id) const
{
    if (id == -1)
        return nullptr;  // several controls share it; nobody addresses them
    for (const Control& c : m_items) {
        if (c.tpl->id == id)
            return &c;
    }
    return nullptr;
}

QWidget* QtDialogWindow::Item(int id) const
{
    const Control* c = Find(id);
    return c ? c->focus : nullptr;
}

QLineEdit* QtDialogWindow::EditOf(int id) const
{
    const Control* c = Find(id);
    return (c && IsEditKind(c->tpl->kind)) ? static_cast<QLineEdit*>(c->focus) : nullptr;
}

QWidget* QtDialogWindow::FirstTabStop() const
{
    for (const Control& c : m_items) {
        if (c.tpl->style.Has(ControlStyle::TabStop) && c.widget->isEnabled() && !c.widget->isHidden())
            return c.focus;
    }
    return nullptr;
}

int QtDialogWindow::RunModalLoop(bool focusFirstTabStop)
{
    if (m_ended)
        return m_result;
    m_widget->show();
    if (focusFirstTabStop) {
        if (QWidget* first = FirstTabStop())
            first->setFocus(Qt::TabFocusReason);
    }
    QEventLoop loop;
    m_loop = &loop;
    loop.exec(QEventLoop::DialogExec);
    m_loop = nullptr;
    if (!m_ended) {
        // The loop was ended from outside (the application is quitting): end as cancelled.
        m_ended = true;
        m_result = IDCANCEL;
    }
    m_widget->hide();
    return m_result;
}

void QtDialogWindow::Dispatch(unsigned message, uintptr_t wParam, intptr_t lParam)
{
    if (!m_ended)
        m_dialog.WindowProc(message, wParam, lParam);
}

void QtDialogWindow::OnEnterKey()
{
    if (auto* focused = qobject_cast<QPushButton*>(m_widget->focusWidget())) {
        if (focused->isEnabled())
            focused->click();
        return;
    }
    for (const Control& c : m_items) {
        if (c.tpl->kind == ControlKind::DefPushButton) {
            if (c.widget->isEnabled())
                static_cast<QPushButton*>(c.widget)->click();
            return;
        }
    }
    // No default button: Enter is the OK command.
    Dispatch(WM_COMMAND, CommandWParam(IDOK, BN_CLICKED), 0);
}

void QtDialogWindow::PaintDialog(QPainter& painter)
{
    m_painter = &painter;
    Dispatch(WM_PAINT, 0, 0);
    m_painter = nullptr;
}

void QtDialogWindow::ShowContextMenu(const QPoint& globalPos)
{
    if (m_contextMenuItems.empty() || m_ended)
        return;
    QMenu menu(m_widget.get());
    for (const auto& [text, id] : m_contextMenuItems)
        menu.addAction(px::qt::ToQString(text))->setData(id);
    if (QAction* picked = menu.exec(globalPos))
        PostMessage(WM_SYSCOMMAND, picked->data().toUInt(), 0);
}

void QtDialogWindow::BrowseForFile(int id)
{
    QLineEdit* edit = EditOf(id);
    if (!edit || m_ended)
        return;
    // Opened in the folder the dialog's rule gives for the text; any file, no filter, no
    // default extension.
    const QString folder = px::qt::ToQString(CMFCEditBrowseCtrl::InitialFolder(px::qt::FromQString(edit->text())));
    const QString chosen
        = QFileDialog::getOpenFileName(m_widget.get(), px::qt::ToQString(GetHostText(HostText::OpenFileTitle)), folder);
    if (!chosen.isEmpty())
        SetDlgItemText(id, px::qt::FromQString(chosen));
}

std::u16string QtDialogWindow::GetDlgItemText(int id)
{
    const Control* c = Find(id);
    if (!c)
        return {};
    QString text;
    if (auto* edit = qobject_cast<QLineEdit*>(c->focus))
        text = edit->text();
    else if (auto* button = qobject_cast<QAbstractButton*>(c->focus))
        text = button->text();
    else if (auto* label = qobject_cast<QLabel*>(c->focus))
        text = label->text();
    else if (auto* group = qobject_cast<QGroupBox*>(c->focus))
        text = group->title();
    return px::qt::FromQString(text);
}

void QtDialogWindow::SetDlgItemText(int id, const std::u16string& text)
{
    const Control* c = Find(id);
    if (!c)
        return;
    const QString value = px::qt::ToQString(text);
    if (auto* edit = qobject_cast<QLineEdit*>(c->focus)) {
        ++m_settingText;
        edit->setText(value);
        --m_settingText;
        // An edit notifies its dialog of text set by the program too, even when it is the
        // same text, as a Win32 edit does.
        Dispatch(WM_COMMAND, CommandWParam(id, EN_CHANGE), 0);
    } else if (auto* button = qobject_cast<QAbstractButton*>(c->focus)) {
        button->setText(value);
    } else if (auto* label = qobject_cast<QLabel*>(c->focus)) {
        label->setText(value);
    } else if (auto* group = qobject_cast<QGroupBox*>(c->focus)) {
        group->setTitle(value);
    }
}

bool QtDialogWindow::IsDlgButtonChecked(int id)
{
    auto* box = qobject_cast<QCheckBox*>(Item(id));
    return box && box->isChecked();
}

void QtDialogWindow::CheckDlgButton(int id, bool checked)
{
    if (auto* box = qobject_cast<QCheckBox*>(Item(id)))
        box->setChecked(checked);
}

void QtDialogWindow::EnableDlgItem(int id, bool enable)
{
    if (const Control* c = Find(id))
        c->widget->setEnabled(enable);
}

void QtDialogWindow::SetPasswordChar(int id, char16_t ch)
{
    QLineEdit* edit = EditOf(id);
    if (!edit)
        return;
    if (ch == 0) {
        edit->setEchoMode(QLineEdit::Normal);
        return;
    }
    edit->setStyle(m_host.MaskStyle(ch));
    edit->setEchoMode(QLineEdit::Password);
}

void QtDialogWindow::RedrawItem(int id)
{
    if (const Control* c = Find(id))
        c->widget->update();
}

void QtDialogWindow::GotoDlgItem(int id)
{
    QWidget* item = Item(id);
    if (!item)
        return;
    // Set on the window's focus chain even while a message box holds the activation: the
    // field has the focus as soon as the dialog is active again.
    item->setFocus(Qt::TabFocusReason);
    if (QLineEdit* edit = EditOf(id))
        edit->selectAll();
}

void QtDialogWindow::SetTimer(uintptr_t id, uint32_t elapseMs)
{
    if (m_ended)
        return;
    QTimer*& timer = m_timers[id];
    if (!timer) {
        timer = new QTimer(m_widget.get());
        QObject::connect(timer, &QTimer::timeout, timer, [this, id] { DeliverTick(id); });
    }
    timer->start(static_cast<int>(std::clamp(elapseMs, kTimerMinimumMs, kTimerMaximumMs)));
}

void QtDialogWindow::KillTimer(uintptr_t id)
{
    const auto it = m_timers.find(id);
    if (it != m_timers.end())
        it->second->stop();  // kept for re-arming: this may run inside its own tick
}

void QtDialogWindow::DeliverTick(uintptr_t id) { Dispatch(WM_TIMER, id, 0); }

void QtDialogWindow::PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam)
{
    if (m_ended)
        return;
    if (!QMetaObject::invokeMethod(
            m_widget.get(), [this, message, wParam, lParam] { Dispatch(message, wParam, lParam); },
            Qt::QueuedConnection))
        px::qt::LogOsFailure("QMetaObject::invokeMethod(posted message)", message, QStringLiteral("not queued"));
}

int QtDialogWindow::MessageBox(const std::u16string& text, const std::u16string& caption, unsigned type)
{
    QMessageBox box(m_widget.get());
    box.setWindowTitle(px::qt::ToQString(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(px::qt::ToQString(text));
    box.setIcon(QtIcon(MessageBoxIconOf(type)));
    QPushButton* ok = box.addButton(px::qt::ToQString(GetHostText(HostText::Ok)), QMessageBox::AcceptRole);
    QPushButton* cancel = nullptr;
    if (MessageBoxHasCancel(type))
        cancel = box.addButton(px::qt::ToQString(GetHostText(HostText::Cancel)), QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    // Wide enough for its title, which a window manager cuts to the width of the box.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const int titleWidth
            = QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(box.windowTitle());
        grid->addItem(new QSpacerItem(titleWidth + kTitleBarButtonsWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
            grid->rowCount(), 0, 1, grid->columnCount());
    }
    // Esc and the close box answer Cancel when there is one, else OK.
    box.setEscapeButton(cancel ? cancel : ok);
    // Its loop keeps dispatching the program's timers and posted messages.
    box.exec();
    return (cancel && box.clickedButton() != ok) ? IDCANCEL : IDOK;
}

void QtDialogWindow::ShowWindow(int showCommand)
{
    if (m_ended)
        return;
    if (showCommand == SW_HIDE) {
        // Shown again where it was: a window manager may place a re-mapped window anew.
        m_hiddenGeometry = m_widget->saveGeometry();
        m_widget->hide();
        return;
    }
    if (showCommand == SW_MINIMIZE) {
        m_widget->showMinimized();
        return;
    }
    if (!m_widget->isVisible() && !m_hiddenGeometry.isEmpty())
        m_widget->restoreGeometry(m_hiddenGeometry);
    // WORKAROUND: a window the program minimised and the window manager restored keeps,
    // in Qt's X11 window, the minimised state and its "start iconic" hint (Qt does not hear
    // of the restore), so every later show maps it iconic again. Passing the window through
    // the minimised state makes Qt clear the hint on the way out; a shown window is normal.
    if (!m_widget->isVisible()) {
        m_widget->setWindowState(m_widget->windowState() | Qt::WindowMinimized);
        m_widget->setWindowState(m_widget->windowState() & ~Qt::WindowMinimized);
        m_widget->show();
    } else if (m_widget->isMinimized()) {
        m_widget->showNormal();
    }
    m_widget->raise();
    m_widget->activateWindow();
}

bool QtDialogWindow::IsWindowVisible() { return m_widget->isVisible(); }
bool QtDialogWindow::IsIconic() { return m_widget->isMinimized(); }
ClientSize QtDialogWindow::GetClientSize() { return {m_widget->width(), m_widget->height()}; }

ClientSize QtDialogWindow::GetSystemIconSize()
{
    const int size = m_widget->style()->pixelMetric(QStyle::PM_LargeIconSize);
    return {size, size};
}

void QtDialogWindow::DrawIcon(int x, int y, IconId icon)
{
    // Drawing happens only inside the window's painting. A minimised Qt window has no client
    // area on the screen (the window manager shows its window icon): an icon drawn into the
    // dialog's surface then would stay in the pixels Qt keeps and shows again on a restore,
    // which repaints nothing.
    if (!m_painter || m_widget->isMinimized())
        return;
    const ClientSize size = GetSystemIconSize();
    m_painter->drawPixmap(x, y, QtWindowHost::Icon(icon).pixmap(size.cx, size.cy));
}

void QtDialogWindow::SetIcon(IconId icon, bool)
{
    // One image serves as the large and the small icon: set it once.
    if (m_windowIcon == icon)
        return;
    m_windowIcon = icon;
    m_widget->setWindowIcon(QtWindowHost::Icon(icon));
}

bool QtDialogWindow::NotifyIconAdd(const NotifyIconData& nid)
{
    if (m_ended || (m_tray && m_tray->isVisible()))
        return false;  // the shell refuses to add an icon twice
    // Asked first: it is the query at which Qt picks the icon's protocol, the one then watched.
    const bool reachable = px::qt::TrayIconReachable();
    m_host.WatchTray();
    // Set up even when no tray takes the icon: its menu and activations work the same.
    if (!m_tray) {
        m_tray = new QSystemTrayIcon(m_widget.get());
        // With a menu of its own the icon publishes it to a StatusNotifier host, which shows
        // it on the right button; without one such a host shows its own menu instead.
        m_tray->setContextMenu(TrayMenu());
        QObject::connect(m_tray, &QSystemTrayIcon::activated, m_tray, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Context) {
                // On an XEmbed tray Qt has opened the menu already; a StatusNotifier host
                // that asks for it instead of showing it gets it here, at the mouse.
                if (!TrayMenu()->isVisible())
                    TrayMenu()->popup(QCursor::pos());
                return;
            }
            if (m_trayCallbackMessage != 0)
                PostMessage(m_trayCallbackMessage, m_trayId, static_cast<intptr_t>(MouseMessageFor(reason)));
        });
    }
    const QIcon icon = (nid.uFlags & NIF_ICON) ? QtWindowHost::Icon(nid.hIcon) : QIcon();
    m_tray->setIcon(icon.isNull() ? QApplication::windowIcon() : icon);
    m_tray->setToolTip((nid.uFlags & NIF_TIP) ? px::qt::ToQString(nid.szTip) : QString());
    m_trayCallbackMessage = (nid.uFlags & NIF_MESSAGE) ? nid.uCallbackMessage : 0;
    m_trayId = nid.uID;
    if (!reachable)
        return false;
    // A StatusNotifier host shows the menu from the entries it last read, so they are there
    // before the icon is.
    AskForTrayMenu();
    m_tray->show();
    return true;
}

bool QtDialogWindow::NotifyIconSetTip(const NotifyIconData& nid)
{
    if (!m_tray)
        return false;
    m_tray->setToolTip(px::qt::ToQString(nid.szTip));
    return true;
}

bool QtDialogWindow::NotifyIconShowInfo(const NotifyIconData& nid)
{
    if (!m_tray || !m_tray->isVisible())
        return false;
    // A StatusNotifier tray's icon sends it to the desktop's notification server
    // (org.freedesktop.Notifications); on an XEmbed tray Qt shows a balloon by the icon.
    m_tray->showMessage(px::qt::ToQString(nid.szInfoTitle), px::qt::ToQString(nid.szInfo), QSystemTrayIcon::Information,
        kNotificationShownMs);
    return true;
}

QMenu* QtDialogWindow::TrayMenu()
{
    if (!m_trayMenu) {
        m_trayMenu = new QMenu(m_widget.get());
        // Whoever is about to show the menu (Qt on an XEmbed tray, a StatusNotifier host, this
        // window), the dialog gives its entries first, as it does for each right click.
        QObject::connect(m_trayMenu, &QMenu::aboutToShow, m_trayMenu, [this] {
            if (!m_openingTrayMenu)
                AskForTrayMenu();
        });
    }
    return m_trayMenu;
}

void QtDialogWindow::AskForTrayMenu()
{
    if (m_trayCallbackMessage == 0)
        return;
    const bool outer = m_fillingTrayMenu;
    m_fillingTrayMenu = true;
    Dispatch(m_trayCallbackMessage, m_trayId, WM_RBUTTONDOWN);
    m_fillingTrayMenu = outer;
}

void QtDialogWindow::SetTrayMenuEntries(const std::vector<MenuItem>& items)
{
    QMenu* menu = TrayMenu();
    // The same entries keep their actions: a StatusNotifier host picks an entry by the id it
    // read for it, and a new action would get a new id.
    if (items == m_trayMenuEntries)
        return;
    menu->clear();
    for (const MenuItem& item : items) {
        if (item.separator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(px::qt::ToQString(item.text));
        // The pick arrives afterwards as a command, as a menu's pick is posted.
        QObject::connect(action, &QAction::triggered, action,
            [this, id = item.id] { PostMessage(WM_COMMAND, CommandWParam(static_cast<int>(id), 0), 0); });
    }
    m_trayMenuEntries = items;
}

bool QtDialogWindow::NotifyIconDelete(const NotifyIconData&)
{
    if (!m_tray || !m_tray->isVisible())
        return false;
    m_tray->hide();
    return true;
}

void QtDialogWindow::TrayGone()
{
    // Qt's tray icon would dock into the next tray by itself; hidden, it goes there only when
    // the dialog adds it again, as a Windows shell's restart takes its icons with it.
    if (m_tray && m_tray->isVisible())
        m_tray->hide();
}

void QtDialogWindow::TrayBack()
{
    if (m_ended)
        return;
    if (!QMetaObject::invokeMethod(
            m_widget.get(),
            [this] {
                if (!m_ended)
                    m_dialog.TrayReturned();
            },
            Qt::QueuedConnection))
        px::qt::LogOsFailure("QMetaObject::invokeMethod(tray returned)", 0, QStringLiteral("not queued"));
}

void QtDialogWindow::TrackPopupMenu(const std::vector<MenuItem>& items)
{
    if (m_ended)
        return;
    SetTrayMenuEntries(items);
    // Asked for while the tray shows the menu: the entries are all it needs.
    if (m_fillingTrayMenu || m_trayMenu->isVisible())
        return;
    m_openingTrayMenu = true;
    m_trayMenu->popup(QCursor::pos());
    m_openingTrayMenu = false;
}

// The window menu a Linux desktop draws on the title bar is the window manager's: no program
// adds to it. The window's own commands go to its context menu instead.
bool QtDialogWindow::HasSystemMenu() { return false; }
bool QtDialogWindow::AppendSystemMenuItem(const std::u16string&, unsigned) { return false; }

bool QtDialogWindow::AppendContextMenuItem(const std::u16string& text, unsigned commandId)
{
    m_contextMenuItems.emplace_back(text, commandId);
    return true;
}

void QtDialogWindow::EndDialog(int result)
{
    if (m_ended)
        return;
    m_ended = true;
    m_result = result;
    // The window's timers end with it. Its tray icon is the dialog's to remove, which it does
    // when the window goes (WM_DESTROY), on every host.
    for (auto& [id, timer] : m_timers)
        timer->stop();
    if (m_trayMenu)
        m_trayMenu->close();
    m_widget->hide();
    if (m_loop)
        m_loop->exit(result);
}
