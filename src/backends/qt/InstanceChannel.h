#pragma once
// One Perennix per folder on Linux: a listening Unix socket in the abstract namespace, named
// from the user and the folder. The kernel removes such a name with its last descriptor, so
// a killed process never leaves a stale one behind, and binding it is the atomic claim.

#include <QByteArray>
#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

class InstanceChannel {
public:
    InstanceChannel();
    ~InstanceChannel();
    InstanceChannel(const InstanceChannel&) = delete;
    InstanceChannel& operator=(const InstanceChannel&) = delete;

    // Binds the name for key; false when a live process holds it (or no socket could be made,
    // which is logged and then treated as free: a start is never refused for want of one).
    bool Claim(const std::u16string& key, std::function<void()> onRequest);
    // Connects to the holder of key and asks it to show itself; false when none answered.
    static bool Signal(const std::u16string& key);

private:
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void()> m_onRequest;
};
