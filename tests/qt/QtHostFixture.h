#pragma once
// The Qt window host on the offscreen platform: one QApplication for the suite, a host per
// test, a probe dialog that records every message the host delivers, and helpers that act
// inside the modal loops the way a user would.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Window.h"
#include "platform/qt/QtDialogWindow.h"
#include "platform/qt/QtWindowHost.h"

namespace qttest {

struct Message {
    unsigned message;
    uintptr_t wParam;
    intptr_t lParam;
    bool operator==(const Message&) const = default;
};

inline Message Command(int id, int code) { return {WM_COMMAND, CDialogEx::MakeCommandWParam(id, code), 0}; }

// A dialog with no behaviour of its own beyond the base: records what it gets, and lets a
// test hook initialisation and timer ticks.
class ProbeDialog : public CDialogEx {
public:
    explicit ProbeDialog(int templateId)
        : CDialogEx(templateId)
    {
    }

    MessageResult WindowProc(unsigned message, uintptr_t wParam, intptr_t lParam) override
    {
        if (message != WM_PAINT)
            received.push_back({message, wParam, lParam});
        return CDialogEx::WindowProc(message, wParam, lParam);
    }
    bool OnInitDialog() override
    {
        CDialogEx::OnInitDialog();
        if (onInit)
            onInit(*m_pWnd);
        return true;
    }
    void OnTimer(uintptr_t id) override
    {
        if (onTimer)
            onTimer(id);
    }

    // The messages received that match message (and, when given, wParam).
    std::vector<Message> Received(unsigned message) const
    {
        std::vector<Message> out;
        for (const Message& m : received) {
            if (m.message == message)
                out.push_back(m);
        }
        return out;
    }
    size_t Count(const Message& m) const
    {
        size_t n = 0;
        for (const Message& r : received)
            n += (r == m) ? 1 : 0;
        return n;
    }

    std::vector<Message> received;
    std::function<void(DialogWindow&)> onInit;
    std::function<void(uintptr_t)> onTimer;
};

// Runs act once ready() holds, checking every few milliseconds from the event loop that is
// running then (a modal dialog's, a message box's, a menu's).
inline void When(std::function<bool()> ready, std::function<void()> act)
{
    auto* poll = new QTimer();
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, ready = std::move(ready), act = std::move(act)] {
        if (!ready())
            return;
        poll->stop();
        poll->deleteLater();
        act();
    });
    poll->start();
}

// Runs act as soon as the next modal loop runs.
inline void Soon(std::function<void()> act) { QTimer::singleShot(0, std::move(act)); }

// Lets the event loop run for ms (timers keep firing), from inside a modal loop.
inline void Pause(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

inline QMessageBox* ActiveBox() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }

// Clicks the message box button with this text.
inline void Answer(QMessageBox* box, const QString& buttonText)
{
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == buttonText) {
            button->click();
            return;
        }
    }
    ADD_FAILURE() << "no button " << buttonText.toStdString();
}

class QtHostTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (QApplication::instance())
            return;
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "qt_tests";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);  // lives for the whole test program
    }

    QtHostTest()
    {
        SetWindowHost(&host);
        // A test that loses its way must fail, not hang: after a while every open loop is
        // closed.
        m_failsafe.setSingleShot(true);
        QObject::connect(&m_failsafe, &QTimer::timeout, [this] {
            ADD_FAILURE() << "the test did not end its dialogs in time";
            if (QWidget* modal = QApplication::activeModalWidget(); modal && !qobject_cast<QDialog*>(modal))
                modal->close();
            if (auto* box = ActiveBox())
                box->done(0);
            for (QtDialogWindow* w : host.OpenWindows())
                w->EndDialog(-2);
            m_failsafe.start(200);
        });
        m_failsafe.start(20000);
    }
    ~QtHostTest() override { SetWindowHost(nullptr); }

    // The innermost open dialog window.
    QtDialogWindow& Top() const { return *host.OpenWindows().back(); }

    QtWindowHost host;

private:
    QTimer m_failsafe;
};

}  // namespace qttest
