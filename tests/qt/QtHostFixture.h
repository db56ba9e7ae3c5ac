#pragma once
// The Qt window host on the offscreen platform: one QApplication for the suite, a host per
// test, and helpers that act inside the modal loops the way a user would.

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

#include "ProbeDialog.h"
#include "backends/qt/QtDialogWindow.h"
#include "backends/qt/QtWindowHost.h"
#include "platform/Window.h"

namespace qttest {

using hosttest::Command;
using hosttest::Message;
using hosttest::ProbeDialog;

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
