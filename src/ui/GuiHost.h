#pragma once

#include "erase/EraseHost.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

namespace kelvane {

class CEraserDlg;

// The engine's host in the window. Questions, messages and the page reset are sent to the window's
// thread and wait there; status and progress are stored and picked up by one queued refresh, so a job
// that reports per cluster never waits for a repaint.
class GuiHost final : public IEraseHost {
  public:
    explicit GuiHost(CEraserDlg& dlg) : m_dlg(dlg) {}

    void ShowMessage(std::string_view text) override;
    void SetStatus(std::string_view text) override;
    void SetProgress(int pos) override;
    int ProgressMax() const override { return m_progressMax.load(); }
    bool AskYesNo(std::string_view question) override;
    void ResetPage(JobKind kind) override;
    void JobEnded(JobKind kind) override;
    std::optional<FormatChoice> AskFormat(const FormatTarget& target) override;

    // Called on the window's thread when the bar's range is set.
    void SetProgressMax(int max) { m_progressMax.store(max); }
    // The window is going away: from now on questions are answered No and nothing more is shown.
    void Shutdown() { m_bShutdown.store(true); }

  private:
    void RunOnUi(const std::function<void()>& fn);
    void PostRefresh();
    void Refresh();

    CEraserDlg& m_dlg;
    std::atomic<int> m_progressMax{1000};
    std::atomic<bool> m_bShutdown{false};

    std::mutex m_mutex; // guards m_status and m_bStatusDirty; never held across RunOnUi
    std::string m_status;
    bool m_bStatusDirty = false;
    std::atomic<int> m_progressPos{-1}; // -1: no new position since the last refresh
    std::atomic<bool> m_bRefreshPending{false};
};

} // namespace kelvane
