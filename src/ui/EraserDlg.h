#pragma once

#include "device/PhysicalDrive.h"
#include "erase/EraseEngine.h"
#include "ui/GuiHost.h"
#include "ui/Prompts.h"
#include "ui_EraserDlg.h"

#include <QDialog>
#include <QIcon>
#include <QTimer>

class QMenu;

namespace kelvane {

class CDiskWipePage;
class CFreeSpaceWipePage;
class CPartitionWipePage;
class CSelectionPage;
class CShredPage;
class CTracePage;

// System command identifiers: the About item and the window menu's Close.
inline constexpr unsigned IDM_ABOUTBOX = 16;
inline constexpr unsigned SC_CLOSE = 0xF060;

// The main window: four job tabs, the status line, the progress bar and the start/stop button. It
// lists the drives when it opens and runs one job at a time on a worker thread.
class CEraserDlg final : public QDialog {
    Q_OBJECT
  public:
    explicit CEraserDlg(QWidget* parent = nullptr);
    ~CEraserDlg() override;

    CPrompts& Prompts() { return m_prompts; }
    bool IsRunning() const { return m_bRunning; }
    // True while a job runs and the cursor has been kept inside the window.
    bool IsCursorConfined() const { return m_bConfined; }
    // The stand-in for the window's system menu: right click on the window, or Alt+Space.
    QMenu* SystemMenu() const { return m_menuSystem; }

    // The start/stop button.
    void OnOK();
    void OnSysCommand(unsigned id);

    // The job's host calls these on the window's thread.
    void SetStatusText(const QString& text);
    void SetProgressPos(int pos);
    void ResetPage(JobKind kind);
    void OnJobEnded(JobKind kind);
    // The format dialog, modal to the window; the choice after Start and Yes, nothing after Close.
    std::optional<FormatChoice> AskFormat(const FormatTarget& target);

  protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void OnInitDialog();
    void ListDrives();
    void OnTabChanged(int index);
    bool TabRequirementMet(int tab);
    JobRequest MakeRequest(int tab) const;
    void StartJob(const JobRequest& request);
    void OnWorkerFinished(quint64 serial);
    void OnMouseMove(const QPoint& globalPos);
    void ReleaseCursor();
    bool ConfirmClose();
    CSelectionPage* PageOf(JobKind kind) const;

    Ui::CEraserDlgForm m_ui;
    CFreeSpaceWipePage* m_pageFreeSpace = nullptr;
    QPushButton* m_btnStart = nullptr;
    QLineEdit* m_editStatus = nullptr;
    QProgressBar* m_progress = nullptr;
    QTabWidget* m_tab = nullptr;
    QIcon m_hIcon;
    CDiskWipePage* m_pageDisk = nullptr;
    CPartitionWipePage* m_pagePartition = nullptr;
    CTracePage* m_pageTrace = nullptr;
    CShredPage* m_pageShred = nullptr;
    QMenu* m_menuSystem = nullptr;

    CPrompts m_prompts;
    GuiHost m_host;
    CPhysicalDrive m_drive; // listing only; a job opens its drive in the engine
    CEraseEngine m_engine;

    bool m_bRunning = false;       // from the start of a job until it has ended
    quint64 m_nJobSerial = 0;      // which job the running state belongs to
    int m_nWorkers = 0;            // worker threads not yet finished, the ending one included
    bool m_bCloseWhenDone = false; // the user closed the window during a job and agreed to stop it
    bool m_bConfined = false;
    QTimer m_timerConfine;
};

} // namespace kelvane
