#pragma once
// One Perennix per folder on Linux: a lock file and a listening Unix socket in a folder only
// this user may enter ($XDG_RUNTIME_DIR, or a private folder in the temporary folder), named
// from the folder the program runs from. The lock, which the kernel releases with its last
// descriptor, is the claim; the socket carries a later start's request to show the window.
// Neither name can be taken by another user, a socket at the name that holds no claim is
// replaced, and both names go when the claim ends.

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

    // Takes the claim for key; false when a live process of this user holds it. A claim that
    // cannot be made safely (no private folder, no socket) is logged and treated as free: a
    // start is never refused for want of one.
    bool Claim(const std::u16string& key, std::function<void()> onRequest);
    // Connects to the holder of key and asks it to show itself; false when none answered or
    // the one listening is not this program run by this user.
    static bool Signal(const std::u16string& key);

private:
    int m_fd = -1;
    int m_lockFd = -1;
    std::string m_setupPath;  // held while a claim is looked at, taken or given up
    std::string m_lockPath;
    std::string m_socketPath;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void()> m_onRequest;
};
