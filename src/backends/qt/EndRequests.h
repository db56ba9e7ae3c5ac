#pragma once
// How the system asks the program to end on Linux, turned into one callback on the window
// thread: the termination signals (SIGTERM, SIGINT, SIGHUP), and the connection to the X
// server breaking (Qt then ends the process at once, so the callback runs right before that).

#include <QObject>
#include <QSocketNotifier>
#include <cstdint>
#include <functional>
#include <memory>

class EndRequests : public QObject {
public:
    // cause is an EndCause, detail the signal's number for a signal.
    using Handler = std::function<void(uintptr_t cause, intptr_t detail)>;

    // Catches the signals from now on; one instance per process.
    explicit EndRequests(Handler handler);
    ~EndRequests() override;
    EndRequests(const EndRequests&) = delete;
    EndRequests& operator=(const EndRequests&) = delete;

private:
    void ReadSignals();

    Handler m_handler;
    int m_fds[2] = {-1, -1};  // the signal handler writes the number into [1]
    std::unique_ptr<QSocketNotifier> m_notifier;
};
