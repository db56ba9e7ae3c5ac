#pragma once
// A dialog with no behaviour of its own beyond the base, for the tests of the window hosts:
// it records every message a host delivers, and lets a test hook initialisation, timer ticks
// and the drag icon.

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/Window.h"

namespace hosttest {

struct Message {
    unsigned message;
    uintptr_t wParam;
    intptr_t lParam;
    bool operator==(const Message&) const = default;
};

inline Message Command(int id, int code) { return {WM_COMMAND, CDialogEx::MakeCommandWParam(id, code), 0}; }

class ProbeDialog : public CDialogEx {
public:
    explicit ProbeDialog(int templateId)
        : CDialogEx(templateId)
    {
    }

    MessageResult WindowProc(unsigned message, uintptr_t wParam, intptr_t lParam) override
    {
        if (message == WM_COMMAND || message == WM_TIMER || message == WM_SYSCOMMAND || message == WM_DESTROY
            || message >= WM_USER)
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
    IconId OnQueryDragIcon() override { return dragIcon; }
    void OnTrayReturned() override
    {
        ++trayReturns;
        CDialogEx::OnTrayReturned();
    }

    // The messages received that match message.
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
    // The commands received with this id and notification code, whatever control sent them.
    size_t Commands(int id, int code) const
    {
        const uintptr_t wParam = CDialogEx::MakeCommandWParam(id, code);
        size_t n = 0;
        for (const Message& r : received)
            n += (r.message == WM_COMMAND && r.wParam == wParam) ? 1 : 0;
        return n;
    }

    // The dialog's own helpers, for hooks that act as its handlers would.
    using CDialogEx::AppendWindowMenuItem;
    using CDialogEx::EndDialog;
    using CDialogEx::HasTrayIcon;
    using CDialogEx::KillTimer;
    using CDialogEx::MessageBox;
    using CDialogEx::NotifyIconAdd;
    using CDialogEx::NotifyIconDelete;
    using CDialogEx::SetTimer;

    std::vector<Message> received;
    std::function<void(DialogWindow&)> onInit;
    std::function<void(uintptr_t)> onTimer;
    IconId dragIcon = 0;
    int trayReturns = 0;  // how often the dialog was told that the tray came back
};

}  // namespace hosttest
