#include "ui/GuiHost.h"

#include "ui/EraserDlg.h"
#include "ui/UiText.h"

#include <QMetaObject>
#include <QThread>

namespace kelvane {

void GuiHost::RunOnUi(const std::function<void()>& fn) {
    if (QThread::currentThread() == m_dlg.thread()) { // blocking on ourselves deadlocks
        fn();
        return;
    }
    QMetaObject::invokeMethod(&m_dlg, fn, Qt::BlockingQueuedConnection);
}

void GuiHost::ShowMessage(std::string_view text) {
    if (m_bShutdown.load())
        return;
    const QString message = ToQString(text);
    RunOnUi([&] { m_dlg.Prompts().showMessage(&m_dlg, message); });
}

bool GuiHost::AskYesNo(std::string_view question) {
    if (m_bShutdown.load())
        return false;
    const QString text = ToQString(question);
    bool yes = false;
    RunOnUi([&] { yes = m_dlg.Prompts().askYesNo(&m_dlg, text); });
    return yes;
}

void GuiHost::SetStatus(std::string_view text) {
    {
        std::lock_guard lock(m_mutex);
        m_status.assign(text);
        m_bStatusDirty = true;
    }
    PostRefresh();
}

void GuiHost::SetProgress(int pos) {
    m_progressPos.store(pos < 0 ? 0 : pos);
    PostRefresh();
}

void GuiHost::PostRefresh() {
    if (QThread::currentThread() == m_dlg.thread()) {
        Refresh();
        return;
    }
    if (m_bRefreshPending.exchange(true))
        return; // the refresh already queued will read the newest values
    QMetaObject::invokeMethod(
        &m_dlg, [this] { Refresh(); }, Qt::QueuedConnection);
}

void GuiHost::Refresh() {
    // Cleared before reading, so a value stored meanwhile posts a refresh of its own.
    m_bRefreshPending.store(false);
    std::string status;
    bool statusChanged = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_bStatusDirty) {
            status = m_status;
            statusChanged = true;
            m_bStatusDirty = false;
        }
    }
    if (statusChanged)
        m_dlg.SetStatusText(ToQString(status));
    const int pos = m_progressPos.exchange(-1);
    if (pos >= 0)
        m_dlg.SetProgressPos(pos);
}

void GuiHost::ResetPage(JobKind kind) {
    // Queued refreshes posted before this call run first, so a final text set just before the reset is
    // on the status line when the page changes.
    RunOnUi([&] { m_dlg.ResetPage(kind); });
}

std::optional<FormatChoice> GuiHost::AskFormat(const FormatTarget& target) {
    if (m_bShutdown.load())
        return std::nullopt;
    std::optional<FormatChoice> choice;
    RunOnUi([&] { choice = m_dlg.AskFormat(target); });
    return choice;
}

void GuiHost::JobEnded(JobKind kind) {
    RunOnUi([&] { m_dlg.OnJobEnded(kind); });
}

} // namespace kelvane
