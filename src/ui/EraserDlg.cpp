#include "ui/EraserDlg.h"

#include "device/PartitionRows.h"
#include "platform/DriveTable.h"
#include "ui/AboutDlg.h"
#include "ui/DropListCtrl.h"
#include "ui/EraserApp.h"
#include "ui/FormatDlg.h"
#include "ui/SelectionPages.h"
#include "ui/ShredPage.h"
#include "ui/UiText.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QMenu>
#include <QShortcut>
#include <QThread>
#include <algorithm>
#include <cerrno>

// Resources of a static library are registered by hand, and only from outside any namespace.
static void InitKelvaneResources() {
    Q_INIT_RESOURCE(kelvane);
}

namespace kelvane {

namespace {

// String 101: the About item of the system menu.
constexpr const char* IDS_ABOUTBOX = "关于 Tollbrook(&A)...";

constexpr int kTabDisk = 0;
constexpr int kTabPartition = 1;
constexpr int kTabFreeSpace = 2;
constexpr int kTabShred = 3;

// How often the cursor is pulled back while it is confined. X11 offers no clip rectangle that leaves
// the pointer usable by the rest of the desktop, so the window polls and moves it back.
constexpr int kConfinePollMs = 15;

QString IdleCaption(int tab) {
    return tab == kTabShred ? QStringLiteral("开始粉碎!") : QStringLiteral("开始擦除!");
}

} // namespace

CEraserDlg::CEraserDlg(QWidget* parent)
    : QDialog(parent), m_prompts(CPrompts::Modal()), m_host(*this), m_drive(m_host), m_engine(m_host) {
    InitKelvaneResources();
    m_hIcon = QIcon(QStringLiteral(":/res/icon128"));
    setFont(DialogFont());
    m_ui.setupUi(this);
    m_btnStart = m_ui.m_btnStart;
    m_editStatus = m_ui.m_editStatus;
    m_progress = m_ui.m_progress;
    m_tab = m_ui.m_tab;
    // Caption and close box, no minimise or maximise box, fixed size: the layout is drawn to measure.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(size());
    OnInitDialog();
}

CEraserDlg::~CEraserDlg() {
    if (m_nWorkers > 0) {
        // Normally closing waits for the job; a window deleted under a job stops it here. The worker may be
        // waiting on this thread, so events go on being handled until it has finished.
        m_host.Shutdown();
        m_engine.RequestStop();
        while (m_nWorkers > 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

void CEraserDlg::OnInitDialog() {
    const QString aboutText = QString::fromUtf8(IDS_ABOUTBOX);
    m_menuSystem = new QMenu(this);
    m_menuSystem->addAction(QStringLiteral("关闭(&C)"))->setData(SC_CLOSE);
    if (!aboutText.isEmpty()) {
        m_menuSystem->addSeparator();
        m_menuSystem->addAction(aboutText)->setData(IDM_ABOUTBOX);
    }
    connect(m_menuSystem, &QMenu::triggered, this,
            [this](QAction* action) { OnSysCommand(action->data().toUInt()); });
    auto* menuKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(menuKey, &QShortcut::activated, this, [this] { m_menuSystem->popup(mapToGlobal(QPoint(0, 0))); });

    setWindowIcon(m_hIcon);
    m_ui.labelBitmap->setPixmap(QPixmap(QStringLiteral(":/res/bitmap135")));
    // Seven lines must fit where the Song face's 12-pixel lines were planned; the Noto faces' natural
    // spacing of 18 pixels would run into the text below.
    const QString warning = m_ui.labelWarning->text();
    m_ui.labelWarning->setTextFormat(Qt::RichText);
    m_ui.labelWarning->setText(
        QStringLiteral("<div style=\"line-height: 85%\">%1</div>").arg(warning.toHtmlEscaped()));

    m_progress->setRange(0, 1000);
    m_host.SetProgressMax(m_progress->maximum());

    m_pageDisk = new CDiskWipePage(m_host, m_tab);
    m_pageFreeSpace = new CFreeSpaceWipePage(m_host, m_tab);
    m_pagePartition = new CPartitionWipePage(m_host, m_tab);
    m_pageTrace = new CTracePage(m_tab);
    m_pageShred = new CShredPage(m_prompts, m_tab);
    m_pageDisk->setObjectName(QStringLiteral("m_pageDisk"));
    m_pageFreeSpace->setObjectName(QStringLiteral("m_pageFreeSpace"));
    m_pagePartition->setObjectName(QStringLiteral("m_pagePartition"));
    m_pageTrace->setObjectName(QStringLiteral("m_pageTrace"));
    m_pageShred->setObjectName(QStringLiteral("m_pageShred"));
    m_tab->addTab(m_pageDisk, QStringLiteral("彻底擦除硬盘数据"));
    m_tab->addTab(m_pagePartition, QStringLiteral("彻底擦除分区数据"));
    m_tab->addTab(m_pageFreeSpace, QStringLiteral("擦除分区残留数据"));
    m_tab->addTab(m_pageShred, QStringLiteral("粉碎文件目录"));
    m_pageTrace->hide();
    m_tab->setCurrentIndex(kTabDisk);
    // Connected only now: adding the first tab selects it, and the template's caption stays until the
    // user switches tabs.
    connect(m_tab, &QTabWidget::currentChanged, this, &CEraserDlg::OnTabChanged);

    connect(m_btnStart, &QPushButton::clicked, this, &CEraserDlg::OnOK);
    m_timerConfine.setInterval(kConfinePollMs);
    connect(&m_timerConfine, &QTimer::timeout, this, [this] { OnMouseMove(QCursor::pos()); });

    ListDrives();
}

void CEraserDlg::ListDrives() {
    // A row's position is the drive number the jobs open, so the list stops at the first gap.
    const auto& table = DriveTable();
    for (std::size_t index = 0; index < 0xFFFF; ++index) {
        if (!m_drive.Open(static_cast<std::uint16_t>(index))) {
            const int error = m_drive.LastOpenError();
            if ((error == EACCES || error == EPERM) && index < table.size())
                SetStatusText(QStringLiteral("无法打开磁盘 %1：权限不够，请以 root 身份运行")
                                  .arg(FromFileName(table[index].path)));
            break;
        }
        const DiskRow row = MakeDiskRow(m_drive);
        const int at = static_cast<int>(index);
        m_pageFreeSpace->AddDiskRow(at, row);
        m_pagePartition->AddDiskRow(at, row);
        m_pageDisk->AddDiskRow(at, row);
        m_drive.Close();
    }
    m_drive.Close(); // an open that failed half way can leave the device open
}

void CEraserDlg::OnTabChanged(int index) {
    // The caption follows the tab shown; the running state does not, so during a job the button still
    // asks to stop it whatever it reads.
    m_btnStart->setText(IdleCaption(index));
}

bool CEraserDlg::TabRequirementMet(int tab) {
    QString missing;
    switch (tab) {
    case kTabDisk:
        if (m_pageDisk->SelDisk() < 0)
            missing = QStringLiteral("请选择磁盘");
        break;
    case kTabPartition:
        if (m_pagePartition->SelDisk() < 0)
            missing = QStringLiteral("请选择磁盘");
        else if (m_pagePartition->SelPartition() < 0)
            missing = QStringLiteral("请选择分区");
        break;
    case kTabFreeSpace:
        if (m_pageFreeSpace->SelDisk() < 0)
            missing = QStringLiteral("请选择磁盘");
        else if (m_pageFreeSpace->CheckedPartitions().empty())
            missing = QStringLiteral("请选择分区");
        break;
    case kTabShred:
        if (m_pageShred->FileList()->count() <= 0)
            missing = QStringLiteral("请添加文件到粉碎文件列表中!");
        break;
    default:
        return false;
    }
    if (missing.isEmpty())
        return true;
    m_prompts.showMessage(this, missing);
    return false;
}

JobRequest CEraserDlg::MakeRequest(int tab) const {
    JobRequest request;
    switch (tab) {
    case kTabDisk:
        request.kind = JobKind::WholeDisk;
        request.disk = m_pageDisk->SelDisk();
        break;
    case kTabPartition:
        request.kind = JobKind::Partition;
        request.disk = m_pagePartition->SelDisk();
        request.partitions = {m_pagePartition->SelPartition()};
        break;
    case kTabFreeSpace:
        request.kind = JobKind::FreeSpace;
        request.disk = m_pageFreeSpace->SelDisk();
        request.partitions = m_pageFreeSpace->CheckedPartitions();
        break;
    default:
        request.kind = JobKind::Shred;
        request.files = m_pageShred->Files();
        break;
    }
    return request;
}

void CEraserDlg::OnOK() {
    const int tab = m_tab->currentIndex();
    if (m_bRunning) {
        // A Yes after the job has ended is ignored by the engine, so it cannot stop the next job.
        if (m_prompts.askYesNo(this, QStringLiteral("确定要停止当前操作吗")))
            m_engine.RequestStop();
        return;
    }
    if (!TabRequirementMet(tab))
        return;
    StartJob(MakeRequest(tab));
}

void CEraserDlg::StartJob(const JobRequest& request) {
    if (!m_engine.BeginJob()) {
        // The engine still winds up the last job; the button acts as its stop button until then.
        if (m_prompts.askYesNo(this, QStringLiteral("确定要停止当前操作吗")))
            m_engine.RequestStop();
        return;
    }
    QThread* worker = QThread::create([this, request] { m_engine.Run(request); });
    const quint64 serial = ++m_nJobSerial;
    connect(worker, &QThread::finished, this, [this, worker, serial] {
        worker->wait();
        worker->deleteLater();
        OnWorkerFinished(serial);
    });
    worker->start();
    if (!worker->isRunning() && !worker->isFinished()) {
        // No thread to run the job (the system refused one): nothing has been written.
        delete worker;
        m_engine.AbandonJob();
        m_prompts.showMessage(this, QStringLiteral("无法启动擦除线程，没有写入任何数据。"));
        return;
    }
    ++m_nWorkers;
    // The worker's first call to the window waits for this handler to return, so the job cannot end
    // before the window shows it running.
    m_btnStart->setText(QStringLiteral("停止!"));
    m_bRunning = true;
    m_bConfined = false;
    m_timerConfine.start();
}

void CEraserDlg::OnWorkerFinished(quint64 serial) {
    --m_nWorkers;
    // A job whose thread ended without saying so (it should not) still leaves the window idle.
    if (serial == m_nJobSerial && m_bRunning)
        OnJobEnded(JobKind::WholeDisk);
    if (m_nWorkers == 0 && m_bCloseWhenDone)
        QTimer::singleShot(0, this, &QDialog::close);
}

void CEraserDlg::SetStatusText(const QString& text) {
    m_editStatus->setText(text);
    m_editStatus->setCursorPosition(0); // the beginning names the job; show it, not the end
}

void CEraserDlg::SetProgressPos(int pos) {
    // The bar ignores positions outside its range; a progress control pins them to the ends.
    m_progress->setValue(std::clamp(pos, m_progress->minimum(), m_progress->maximum()));
}

CSelectionPage* CEraserDlg::PageOf(JobKind kind) const {
    switch (kind) {
    case JobKind::WholeDisk:
        return m_pageDisk;
    case JobKind::Partition:
        return m_pagePartition;
    case JobKind::FreeSpace:
        return m_pageFreeSpace;
    case JobKind::Shred:
        break;
    }
    return nullptr;
}

void CEraserDlg::ResetPage(JobKind kind) {
    if (CSelectionPage* page = PageOf(kind))
        page->ResetSelection();
}

std::optional<FormatChoice> CEraserDlg::AskFormat(const FormatTarget& target) {
    CFormatDlg dialog(this, target, m_prompts);
    dialog.exec();
    return dialog.Choice();
}

void CEraserDlg::OnJobEnded(JobKind) {
    if (!m_bRunning)
        return;
    m_bRunning = false;
    // The caption of the tab now shown, which need not be the job's tab.
    m_btnStart->setText(IdleCaption(m_tab->currentIndex()));
    ReleaseCursor();
}

void CEraserDlg::OnMouseMove(const QPoint& globalPos) {
    const QRect area = frameGeometry();
    if (!m_bRunning) {
        ReleaseCursor();
        return;
    }
    // Confinement begins once the cursor has been over the window during the job.
    if (!m_bConfined && !area.contains(globalPos))
        return;
    m_bConfined = true;
    const QPoint inside(std::clamp(globalPos.x(), area.left(), area.right()),
                        std::clamp(globalPos.y(), area.top(), area.bottom()));
    if (inside != globalPos)
        QCursor::setPos(inside);
}

void CEraserDlg::ReleaseCursor() {
    m_timerConfine.stop();
    m_bConfined = false;
}

void CEraserDlg::OnSysCommand(unsigned id) {
    switch (id & 0xFFF0) {
    case IDM_ABOUTBOX: {
        CAboutDlg about(this);
        about.exec();
        break;
    }
    case SC_CLOSE:
        close();
        break;
    default:
        break;
    }
}

void CEraserDlg::contextMenuEvent(QContextMenuEvent* event) {
    m_menuSystem->popup(event->globalPos());
}

bool CEraserDlg::ConfirmClose() {
    if (m_nWorkers == 0)
        return true;
    // The worker uses this window and its drive: the window stays until the job has ended.
    if (m_bRunning && !m_bCloseWhenDone) {
        if (!m_prompts.askYesNo(this, QStringLiteral("确定要停止当前操作吗")))
            return false;
        m_engine.RequestStop();
    }
    m_bCloseWhenDone = true;
    return false;
}

void CEraserDlg::reject() {
    if (ConfirmClose())
        QDialog::reject();
}

void CEraserDlg::closeEvent(QCloseEvent* event) {
    if (!ConfirmClose()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace kelvane
