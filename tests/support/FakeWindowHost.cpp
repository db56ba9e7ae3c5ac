#include "FakeWindowHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "resources/Resource.h"

namespace fake {

namespace {
bool IsEdit(ControlKind kind) { return kind == ControlKind::Edit || kind == ControlKind::BrowseEdit; }
}  // namespace

FakeWindow::FakeWindow(FakeHost& host, CDialogEx& dlg, const DialogTemplate& tpl)
    : visible(tpl.style.Has(DialogStyle::Visible))
    , dialog(dlg)
    , templateId(tpl.id)
    , m_host(host)
{
    for (const ControlTemplate& c : tpl.controls) {
        if (c.id == IDC_STATIC)
            continue;
        FakeItem item;
        item.kind = c.kind;
        item.text = std::u16string(c.text);
        m_items[c.id] = item;
    }
    // A modal dialog is shown when its loop starts, whatever its template's initial style.
    visible = true;
}

std::vector<int> FakeWindow::ItemIds() const
{
    std::vector<int> ids;
    for (const auto& [id, item] : m_items)
        ids.push_back(id);
    return ids;
}

const FakeItem& FakeWindow::Item(int id) const
{
    static const FakeItem missing;
    auto it = m_items.find(id);
    if (it == m_items.end()) {
        ADD_FAILURE() << "dialog " << templateId << " has no item " << id;
        return missing;
    }
    return it->second;
}

FakeItem& FakeWindow::MutableItem(int id)
{
    static FakeItem missing;
    auto it = m_items.find(id);
    if (it == m_items.end()) {
        ADD_FAILURE() << "dialog " << templateId << " has no item " << id;
        missing = FakeItem();
        return missing;
    }
    return it->second;
}

void FakeWindow::Dispatch(unsigned message, uintptr_t wParam, intptr_t lParam)
{
    if (!ended)
        dialog.WindowProc(message, wParam, lParam);
}

void FakeWindow::Click(int id)
{
    if (ended)
        return;
    FakeItem& item = MutableItem(id);
    if (!item.enabled)
        return;
    if (item.kind == ControlKind::AutoCheckBox)
        item.checked = !item.checked;
    Dispatch(WM_COMMAND, CDialogEx::MakeCommandWParam(id, BN_CLICKED), 0);
    m_host.Pump();
}

void FakeWindow::Type(int id, const std::u16string& text)
{
    if (ended)
        return;
    FakeItem& item = MutableItem(id);
    if (!item.enabled)
        return;
    item.text = text;
    item.history.push_back(text);
    Dispatch(WM_COMMAND, CDialogEx::MakeCommandWParam(id, EN_CHANGE), 0);
    m_host.Pump();
}

void FakeWindow::PressEnter() { Command(IDOK); }
void FakeWindow::PressEscape() { Command(IDCANCEL); }

void FakeWindow::Command(unsigned id)
{
    Dispatch(WM_COMMAND, CDialogEx::MakeCommandWParam(static_cast<int>(id), 0), 0);
    m_host.Pump();
}

void FakeWindow::SysCommand(unsigned id)
{
    Dispatch(WM_SYSCOMMAND, id, 0);
    m_host.Pump();
}

void FakeWindow::PickWindowMenuEntry(const std::u16string& text)
{
    for (const auto* menu : {&systemMenu, &contextMenu}) {
        for (const auto& [entry, id] : *menu) {
            if (entry == text) {
                SysCommand(id);
                return;
            }
        }
    }
    ADD_FAILURE() << "no window menu holds the entry " << testing::PrintToString(text);
}

void FakeWindow::TrayNotify(unsigned mouseMessage)
{
    Dispatch(WM_TRAYNOTIFY, IDR_MAINFRAME, static_cast<intptr_t>(mouseMessage));
    m_host.Pump();
}

void FakeWindow::Paint() { Dispatch(WM_PAINT, 0, 0); }

std::u16string FakeWindow::GetDlgItemText(int id) { return Item(id).text; }

void FakeWindow::SetDlgItemText(int id, const std::u16string& text)
{
    FakeItem& item = MutableItem(id);
    item.text = text;
    item.history.push_back(text);
    // An edit tells its dialog about every change of its text, also one the program made.
    if (IsEdit(item.kind))
        Dispatch(WM_COMMAND, CDialogEx::MakeCommandWParam(id, EN_CHANGE), 0);
}

bool FakeWindow::IsDlgButtonChecked(int id) { return Item(id).checked; }
void FakeWindow::CheckDlgButton(int id, bool checked) { MutableItem(id).checked = checked; }

void FakeWindow::EnableDlgItem(int id, bool enable)
{
    MutableItem(id).enabled = enable;
    enableCalls.emplace_back(id, enable);
}

void FakeWindow::SetPasswordChar(int id, char16_t ch) { MutableItem(id).passwordChar = ch; }
void FakeWindow::RedrawItem(int id) { ++MutableItem(id).redraws; }

void FakeWindow::GotoDlgItem(int id)
{
    // An item the template does not have is a failure; the focus then stays where it was.
    if (m_items.count(id) != 0)
        focusedItem = id;
    else
        MutableItem(id);
}

void FakeWindow::SetTimer(uintptr_t id, uint32_t elapseMs)
{
    if (elapseMs == 0) {
        ADD_FAILURE() << "timer " << id << " armed with 0 ms would fire without pause";
        return;
    }
    TimerState& t = timers[id];
    t.intervalMs = elapseMs;
    t.nextDueMs = m_host.clock.NowMs() + elapseMs;
    t.order = ++m_host.m_armOrder;
}

void FakeWindow::KillTimer(uintptr_t id) { timers.erase(id); }

void FakeWindow::PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam)
{
    posted.push_back({message, wParam, lParam});
}

int FakeWindow::MessageBox(const std::u16string& text, const std::u16string& caption, unsigned type)
{
    BoxRecord record{text, caption, type, IDOK, m_host.clock.NowMs()};
    BoxAnswer answer;
    if (!m_host.boxAnswers.empty()) {
        answer = m_host.boxAnswers.front();
        m_host.boxAnswers.pop_front();
    } else if (type == MB_OKCANCEL) {
        ADD_FAILURE() << "unexpected question: no answer scripted";
        answer.result = IDCANCEL;
    }
    record.answer = answer.result;
    const size_t index = m_host.boxes.size();
    m_host.boxes.push_back(record);
    // The box's own loop keeps the program's timers and posted messages going.
    m_host.AdvanceBy(answer.advanceMs);
    return m_host.boxes[index].answer;
}

void FakeWindow::ShowWindow(int showCommand)
{
    visible = showCommand != SW_HIDE;
    iconic = showCommand == SW_MINIMIZE;
    trayCalls.emplace_back(showCommand == SW_HIDE ? "hide"
            : iconic                              ? "minimize"
            : showCommand == SW_RESTORE           ? "restore"
                                                  : "show");
}

bool FakeWindow::NotifyIconAdd(const NotifyIconData& nid)
{
    trayCalls.emplace_back("add");
    // As a shell: no tray takes nothing, and a tray holds one icon per window and id.
    if (!m_host.trayAvailable || trayIconPresent)
        return false;
    trayIconPresent = true;
    trayTip = nid.szTip;
    return true;
}

bool FakeWindow::NotifyIconDelete(const NotifyIconData&)
{
    trayCalls.emplace_back("delete");
    const bool was = trayIconPresent;
    trayIconPresent = false;
    return was;
}

bool FakeWindow::NotifyIconSetTip(const NotifyIconData& nid)
{
    if (!trayIconPresent)
        return false;
    trayTip = nid.szTip;
    return true;
}

bool FakeWindow::NotifyIconShowInfo(const NotifyIconData& nid)
{
    if (!trayIconPresent)
        return false;
    trayNotifications.emplace_back(nid.szInfoTitle, nid.szInfo);
    return true;
}

void FakeWindow::TrackPopupMenu(const std::vector<MenuItem>& items)
{
    m_host.menus.push_back(items);
    if (m_host.nextMenuPick) {
        PostMessage(WM_COMMAND, *m_host.nextMenuPick, 0);
        m_host.nextMenuPick.reset();
    }
}

bool FakeWindow::HasSystemMenu() { return m_host.hasSystemMenu; }

bool FakeWindow::AppendSystemMenuItem(const std::u16string& text, unsigned commandId)
{
    if (!m_host.hasSystemMenu) {
        ADD_FAILURE() << "an entry for a system menu the window said it does not have";
        return false;
    }
    systemMenu.emplace_back(text, commandId);
    return true;
}

bool FakeWindow::AppendContextMenuItem(const std::u16string& text, unsigned commandId)
{
    if (!m_host.hasContextMenu)
        return false;
    contextMenu.emplace_back(text, commandId);
    return true;
}

void FakeWindow::EndDialog(int result)
{
    if (ended)
        return;
    ended = true;
    endCode = result;
    // The window's timers and queued messages die with it.
    timers.clear();
    posted.clear();
}

FakeHost::~FakeHost() = default;

void FakeHost::Pump()
{
    for (bool delivered = true; delivered;) {
        delivered = false;
        for (FakeWindow* w : open) {
            if (w->ended || w->posted.empty())
                continue;
            const PostedMessage m = w->posted.front();
            w->posted.pop_front();
            w->Dispatch(m.message, m.wParam, m.lParam);
            delivered = true;
            break;  // the set of open windows may have changed
        }
    }
}

void FakeHost::TrayReturns()
{
    for (FakeWindow* w : open)
        w->trayIconPresent = false;
    for (FakeWindow* w : std::vector<FakeWindow*>(open)) {
        if (!w->ended)
            w->dialog.TrayReturned();
    }
    Pump();
}

void FakeHost::AdvanceBy(int64_t ms)
{
    const int64_t target = clock.NowMs() + ms;
    for (;;) {
        Pump();
        FakeWindow* dueWindow = nullptr;
        uintptr_t dueId = 0;
        const TimerState* due = nullptr;
        for (FakeWindow* w : open) {
            if (w->ended)
                continue;
            for (const auto& [id, t] : w->timers) {
                if (t.nextDueMs > target)
                    continue;
                if (!due || t.nextDueMs < due->nextDueMs || (t.nextDueMs == due->nextDueMs && t.order < due->order)) {
                    due = &t;
                    dueWindow = w;
                    dueId = id;
                }
            }
        }
        if (!due) {
            clock.SetMs(std::max(clock.NowMs(), target));
            return;
        }
        clock.SetMs(std::max(clock.NowMs(), due->nextDueMs));
        TimerState& t = dueWindow->timers[dueId];
        t.nextDueMs += t.intervalMs;
        // However late the thread was, a timer delivers one tick for the time it missed.
        if (t.nextDueMs <= clock.NowMs())
            t.nextDueMs = clock.NowMs() + t.intervalMs;
        dueWindow->Dispatch(WM_TIMER, dueId, 0);
    }
}

int FakeHost::RunModal(CDialogEx& dialog, DialogWindow* owner)
{
    const DialogTemplate* tpl = FindDialogTemplate(dialog.GetTemplateId());
    if (!tpl)
        return -1;
    modalsOpened.push_back(tpl->id);
    owners.push_back(owner);
    auto window = std::make_unique<FakeWindow>(*this, dialog, *tpl);
    FakeWindow* w = window.get();
    open.push_back(w);
    dialog.Attach(w);
    dialog.OnInitDialog();
    Pump();
    auto& queue = m_scripts[tpl->id];
    if (!w->ended && !queue.empty()) {
        Script script = std::move(queue.front());
        queue.pop_front();
        script(*w);
    }
    if (!w->ended)
        w->EndDialog(IDCANCEL);
    // The window goes: the dialog hears of it whichever way it ended.
    dialog.WindowProc(WM_DESTROY, 0, 0);
    dialog.Detach();
    open.erase(std::find(open.begin(), open.end(), w));
    closed.push_back(std::move(window));
    return w->endCode;
}

bool FakeHost::ClaimInstance(const std::u16string& key)
{
    claims.push_back(key);
    return std::find(heldElsewhere.begin(), heldElsewhere.end(), key) == heldElsewhere.end()
        && std::find(heldByStranger.begin(), heldByStranger.end(), key) == heldByStranger.end();
}

bool FakeHost::SignalInstance(const std::u16string& key)
{
    instanceSignals.push_back(key);
    return std::find(heldElsewhere.begin(), heldElsewhere.end(), key) != heldElsewhere.end();
}

}  // namespace fake
