// Real jobs on image drives through the window: start, confirmation, stop, outcome texts, the reset,
// cursor confinement and closing during a job.

#include "DiskImage.h"
#include "GuiTestSupport.h"
#include "SystemTools.h"
#include "platform/DriveTable.h"
#include "ui/DropListCtrl.h"
#include "ui/SelectionPages.h"
#include "ui/ShredPage.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

using namespace kelvane;
using namespace kelvane::test;

namespace {

const QString kDiskQuestion =
    QStringLiteral("此操作将会彻底清除硬盘上的所有数据，并且使用任何数据恢复手段都将无法恢复，是不要继续?");
const QString kStopQuestion = QStringLiteral("确定要停止当前操作吗");
constexpr int kJobTimeoutMs = 60000;

bool AllZero(const Bytes& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

} // namespace

class JobsTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { SetUpApplication(); }
    void init();
    void cleanup();
    void wholeDiskJobZeroesTheDiskAndLeavesThePageIdle();
    void stopAnsweredYesEndsTheJobWithTheStoppedText();
    void stopAnsweredNoLetsTheJobFinish();
    void yesAfterTheJobEndedDoesNotStopTheNextJob();
    void declinedConfirmationWritesNothingAndKeepsTheStatus();
    void shredJobDeletesTheFilesAndKeepsTheRows();
    void freeSpaceJobZeroesTheFreeClustersOfAFatVolume();
    void partitionJobFormatsThroughTheDialogThenWipes();
    void closingTheFormatDialogCancelsTheJob();
    void cursorStaysInTheWindowWhileAJobRuns();
    void closingDuringAJobStopsItAndClosesAfterwards();

  private:
    // An image of `bytes` filled with a pattern, as the only drive; the window opens over it.
    void OpenWithDisk(std::uint64_t bytes);
    void StartWholeDisk();
    void OpenOnPartitionTab();
    void WhenFormatDialogShows(std::function<void(QDialog*)> act);
    QPushButton* Start() { return m_dlg->findChild<QPushButton*>(QStringLiteral("m_btnStart")); }
    QString DiskName() { return RowTexts(Page(*m_dlg, "m_pageDisk")->DiskList(), 0).at(0); }

    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<SparseImage> m_image;
    std::unique_ptr<CEraserDlg> m_dlg;
    ScriptedPrompts m_prompts;
};

void JobsTest::init() {
    m_dir = std::make_unique<TempDir>();
    m_prompts = ScriptedPrompts();
}

void JobsTest::cleanup() {
    // A failed test may leave a job asking; the answers it scripted may point into its ended frame.
    m_prompts.answer = [](const QString&) { return false; };
    if (m_dlg)
        QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->IsRunning(), kJobTimeoutMs);
    m_dlg.reset();
    m_image.reset();
    m_dir.reset();
}

void JobsTest::OpenWithDisk(std::uint64_t bytes) {
    m_image = std::make_unique<SparseImage>(m_dir->File("disk.img"), bytes);
    const Bytes pattern = Pattern(1 << 20, 7);
    for (std::uint64_t at = 0; at < bytes; at += pattern.size())
        m_image->Write(at, pattern);
    SetDriveTable({m_image->Path()});
    m_dlg = std::make_unique<CEraserDlg>();
    m_prompts.Install(*m_dlg);
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
}

void JobsTest::StartWholeDisk() {
    ShowTab(*m_dlg, 0);
    ClickRow(Page(*m_dlg, "m_pageDisk")->DiskList(), 0);
    QTest::mouseClick(Start(), Qt::LeftButton);
}

void JobsTest::wholeDiskJobZeroesTheDiskAndLeavesThePageIdle() {
    OpenWithDisk(8u << 20);
    const QString name = DiskName();
    StartWholeDisk();
    QTRY_COMPARE(m_prompts.questions, QStringList{kDiskQuestion});
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->IsRunning(), kJobTimeoutMs);
    QTRY_COMPARE(StatusText(*m_dlg), QStringLiteral("清除磁盘 ") + name + QStringLiteral(" 上的数据完成!"));
    QVERIFY(AllZero(m_image->Read(0, 8u << 20)));
    CSelectionPage* page = Page(*m_dlg, "m_pageDisk");
    QCOMPARE(ButtonText(*m_dlg), QStringLiteral("开始擦除!"));
    QCOMPARE(page->SelDisk(), -1);
    QVERIFY(page->DiskList()->selectionModel()->selectedRows().isEmpty());
    QCOMPARE(page->PartitionList()->rowCount(), 0);

    // The next job starts at once.
    StartWholeDisk();
    QTRY_COMPARE(m_prompts.questions.size(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->IsRunning(), kJobTimeoutMs);
}

void JobsTest::stopAnsweredYesEndsTheJobWithTheStoppedText() {
    OpenWithDisk(64u << 20);
    const QString name = DiskName();
    // The stop button is pressed while the job waits for its confirmation, so the request is there
    // before the first write and the job ends at its first poll.
    QString captionWhileRunning;
    m_prompts.answer = [&](const QString& question) {
        if (question == kDiskQuestion) {
            captionWhileRunning = ButtonText(*m_dlg);
            m_dlg->OnOK();
        }
        return true;
    };
    StartWholeDisk();
    QTRY_COMPARE(m_prompts.questions, (QStringList{kDiskQuestion, kStopQuestion}));
    QCOMPARE(captionWhileRunning, QStringLiteral("停止!"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->IsRunning(), kJobTimeoutMs);
    QTRY_COMPARE(StatusText(*m_dlg),
                 QStringLiteral("清除磁盘 ") + name + QStringLiteral(" 上的数据被用户停止!"));
    QVERIFY(AllZero(m_image->Read(0, 512)));
    const Bytes pattern = Pattern(1 << 20, 7);
    QCOMPARE(m_image->Read((64u << 20) - 4096, 4096), Bytes(pattern.end() - 4096, pattern.end()));
    QCOMPARE(ButtonText(*m_dlg), QStringLiteral("开始擦除!"));
    QCOMPARE(Page(*m_dlg, "m_pageDisk")->SelDisk(), -1);
}

void JobsTest::stopAnsweredNoLetsTheJobFinish() {
    OpenWithDisk(8u << 20);
    const QString name = DiskName();
    m_prompts.answer = [this](const QString& question) {
        if (question == kDiskQuestion)
            m_dlg->OnOK();
        return question == kDiskQuestion; // No to the stop question
    };
    StartWholeDisk();
    QTRY_COMPARE(m_prompts.questions, (QStringList{kDiskQuestion, kStopQuestion}));
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->IsRunning(), kJobTimeoutMs);
    QTRY_COMPARE(StatusText(*m_dlg), QStringLiteral("清除磁盘 ") + name + QStringLiteral(" 上的数据完成!"));
    QVERIFY(AllZero(m_image->Read(0, 8u << 20)));
}

void JobsTest::yesAfterTheJobEndedDoesNotStopTheNextJob() {
    // Large enough that the stop button is pressed long before the zeros are all written.
    OpenWithDisk(256u << 20);
    const QString done = QStringLiteral("清除磁盘 ") + DiskName() + QStringLiteral(" 上的数据完成!");
    int stopQuestions = 0;
    m_prompts.answer = [&](const QString& question) {
        if (question == kDiskQuestion) {
            if (stopQuestions == 0)
                QTimer::singleShot(0, m_dlg.get(), [this] { m_dlg->OnOK(); });
            return true;
        }
        // The user leaves the stop question open until the job has ended by itself, then says Yes.
        ++stopQuestions;
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->IsRunning(), kJobTimeoutMs); }();
        return true;
    };
    StartWholeDisk();
    QTRY_COMPARE_WITH_TIMEOUT(stopQuestions, 1, kJobTimeoutMs);
    QTRY_COMPARE(StatusText(*m_dlg), done);
    // The late Yes reached no job, and it must not reach this one either.
    StartWholeDisk();
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->IsRunning(), kJobTimeoutMs);
    QTRY_COMPARE(StatusText(*m_dlg), done);
    QVERIFY(AllZero(m_image->Read((256u << 20) - 4096, 4096)));
}

void JobsTest::declinedConfirmationWritesNothingAndKeepsTheStatus() {
    OpenWithDisk(4u << 20);
    m_prompts.answer = [](const QString&) { return false; };
    StartWholeDisk();
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->IsRunning(), kJobTimeoutMs);
    QCOMPARE(StatusText(*m_dlg), QString());
    QCOMPARE(ButtonText(*m_dlg), QStringLiteral("开始擦除!"));
    QCOMPARE(Page(*m_dlg, "m_pageDisk")->SelDisk(), -1);
    QCOMPARE(m_image->Read(0, 1 << 20), Pattern(1 << 20, 7));
}

void JobsTest::shredJobDeletesTheFilesAndKeepsTheRows() {
    OpenWithDisk(1u << 20);
    QStringList files;
    for (const char* name : {"a.bin", "b.bin"}) {
        const std::string path = m_dir->File(name);
        std::ofstream(path) << std::string(10000, 'k');
        files << QString::fromStdString(path);
    }
    ShowTab(*m_dlg, 3);
    m_prompts.filesToChoose = files;
    QTest::mouseClick(ShredPage(*m_dlg)->findChild<QPushButton*>(QStringLiteral("buttonAddFiles")),
                      Qt::LeftButton);
    QTest::mouseClick(Start(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->IsRunning(), kJobTimeoutMs);
    QTRY_COMPARE(StatusText(*m_dlg), QStringLiteral("粉碎文件操作完成!"));
    QCOMPARE(m_prompts.questions.size(), 1);
    for (const QString& file : files)
        QVERIFY(!std::filesystem::exists(file.toStdString()));
    QCOMPARE(ShredPage(*m_dlg)->FileList()->count(), 2);
    QCOMPARE(ButtonText(*m_dlg), QStringLiteral("开始粉碎!"));
}

void JobsTest::freeSpaceJobZeroesTheFreeClustersOfAFatVolume() {
    if (RunTool("command -v mkfs.fat").exitStatus != 0)
        QSKIP("mkfs.fat is not installed (package dosfstools)");
    constexpr std::uint64_t kStart = 2048;
    constexpr std::uint64_t kSectors = 80u * 2048; // 80 MiB: enough clusters for FAT32 at one sector each
    const std::uint64_t imageBytes = (kStart + kSectors) * 512;
    m_image = std::make_unique<SparseImage>(m_dir->File("fat.img"), imageBytes);
    const Bytes pattern = Pattern(1 << 20, 3);
    for (std::uint64_t at = kStart * 512; at < imageBytes; at += pattern.size())
        m_image->Write(at, pattern); // what deleted files left behind
    m_image->WriteSector(0, PartitionTable({{0x0C, kStart, kSectors}}));
    RunOrThrow("mkfs.fat -F 32 -s 1 --offset " + std::to_string(kStart) + " " + Quote(m_image->Path()) + " " +
               std::to_string(kSectors / 2) + " >/dev/null 2>&1");

    SetDriveTable({m_image->Path()});
    m_dlg = std::make_unique<CEraserDlg>();
    m_prompts.Install(*m_dlg);
    m_dlg->show();
    ShowTab(*m_dlg, 2);
    CFreeSpaceWipePage* page = FreeSpacePage(*m_dlg);
    ClickRow(page->DiskList(), 0);
    page->PartitionList()->item(0, 0)->setCheckState(Qt::Checked);
    QTest::mouseClick(Start(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->IsRunning(), kJobTimeoutMs);
    QVERIFY2(StatusText(*m_dlg).endsWith(QStringLiteral(" 中的数据完成!")), qPrintable(StatusText(*m_dlg)));
    QVERIFY(m_prompts.questions.isEmpty());
    QVERIFY(page->CheckedPartitions().empty());

    // The geometry from the boot sector as mkfs.fat wrote it; cluster 2 holds the root folder.
    const Bytes boot = m_image->Read(kStart * 512, 512);
    const std::uint64_t reserved = GetLe(boot, 14, 2);
    const std::uint64_t fats = GetLe(boot, 16, 1);
    const std::uint64_t fatSectors = GetLe(boot, 36, 4);
    const std::uint64_t total = GetLe(boot, 32, 4);
    const std::uint64_t dataStart = reserved + fats * fatSectors;
    const std::uint64_t firstFree = kStart + dataStart + 1; // cluster 3, one sector per cluster
    const std::uint64_t end = kStart + total;
    QVERIFY(AllZero(m_image->Read(firstFree * 512, static_cast<std::size_t>((end - firstFree) * 512))));
}

// A FAT32 partition of 80 MiB behind pattern bytes, as the only drive; the window opens on tab 1 with
// the partition selected.
void JobsTest::OpenOnPartitionTab() {
    constexpr std::uint64_t kStart = 2048;
    constexpr std::uint64_t kSectors = 80u * 2048;
    m_image = std::make_unique<SparseImage>(m_dir->File("part.img"), (kStart + kSectors) * 512);
    const Bytes pattern = Pattern(1 << 20, 5);
    for (std::uint64_t at = kStart * 512; at < (kStart + kSectors) * 512; at += pattern.size())
        m_image->Write(at, pattern);
    m_image->WriteSector(0, PartitionTable({{0x0C, kStart, kSectors}}));
    RunOrThrow("mkfs.fat -F 32 -s 1 --offset 2048 " + Quote(m_image->Path()) + " 81920 >/dev/null 2>&1");
    SetDriveTable({m_image->Path()});
    m_dlg = std::make_unique<CEraserDlg>();
    m_prompts.Install(*m_dlg);
    m_dlg->show();
    ShowTab(*m_dlg, 1);
    CSelectionPage* page = Page(*m_dlg, "m_pagePartition");
    ClickRow(page->DiskList(), 0);
    ClickRow(page->PartitionList(), 0);
}

// Runs `act` on the format dialog once the job has opened it.
void JobsTest::WhenFormatDialogShows(std::function<void(QDialog*)> act) {
    auto* poll = new QTimer(m_dlg.get());
    connect(poll, &QTimer::timeout, m_dlg.get(), [poll, act] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            dialog != nullptr && dialog->objectName() == QStringLiteral("formatDialog")) {
            poll->stop();
            act(dialog);
        }
    });
    poll->start(10);
}

void JobsTest::partitionJobFormatsThroughTheDialogThenWipes() {
    if (RunTool("command -v mkntfs").exitStatus != 0)
        QSKIP("mkntfs is not installed (package ntfs-3g)");
    OpenOnPartitionTab();
    WhenFormatDialogShows([](QDialog* dialog) {
        auto* fs = dialog->findChild<QComboBox*>(QStringLiteral("comboFileSystem"));
        fs->setCurrentIndex(fs->findText(QStringLiteral("NTFS")));
        dialog->findChild<QLineEdit*>(QStringLiteral("editLabel"))->setText(QStringLiteral("新卷"));
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("buttonStart")), Qt::LeftButton);
    });
    QTest::mouseClick(Start(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->IsRunning(), kJobTimeoutMs);
    // Start asked the warning before anything was written.
    QCOMPARE(m_prompts.questions,
             (QStringList{
                 QString::fromUtf8(kFormatWarning.data(), static_cast<qsizetype>(kFormatWarning.size()))}));
    QVERIFY2(StatusText(*m_dlg).endsWith(QStringLiteral(" 中的数据完成!")), qPrintable(StatusText(*m_dlg)));
    QCOMPARE(Page(*m_dlg, "m_pagePartition")->SelPartition(), -1);
    QCOMPARE(Page(*m_dlg, "m_pagePartition")->PartitionList()->rowCount(), 0);
    // An NTFS volume now, with its label, and not a byte of what lay there before.
    QCOMPARE(m_image->Read(2048 * 512 + 3, 4), (Bytes{'N', 'T', 'F', 'S'}));
    const Bytes pattern = Pattern(1 << 20, 5);
    const Bytes volume = m_image->Read(2048 * 512, 80u << 20);
    QVERIFY(std::search(volume.begin(), volume.end(), pattern.begin() + 1000, pattern.begin() + 1064) ==
            volume.end());
    const ToolResult label = RunTool("blkid -p -o value -s LABEL -O 1048576 " + Quote(m_image->Path()));
    QCOMPARE(QString::fromStdString(label.out).trimmed(), QStringLiteral("新卷"));
}

void JobsTest::closingTheFormatDialogCancelsTheJob() {
    OpenOnPartitionTab();
    const Bytes before = m_image->Read(0, 4u << 20);
    WhenFormatDialogShows([](QDialog* dialog) {
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("buttonClose")), Qt::LeftButton);
    });
    QTest::mouseClick(Start(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->IsRunning(), kJobTimeoutMs);
    QVERIFY(m_prompts.questions.isEmpty());
    QCOMPARE(StatusText(*m_dlg), QStringLiteral("格式化 ") + QString::fromStdString(m_image->Path()) +
                                     QStringLiteral("上的分区 被用户取消!"));
    QCOMPARE(ButtonText(*m_dlg), QStringLiteral("开始擦除!"));
    QVERIFY(m_image->Read(0, 4u << 20) == before);
}

void JobsTest::cursorStaysInTheWindowWhileAJobRuns() {
    OpenWithDisk(4u << 20);
    bool confinedInside = false;
    QPoint afterPull;
    m_prompts.answer = [&](const QString&) {
        // The job is running and waits for this answer.
        const QRect area = m_dlg->frameGeometry();
        QCursor::setPos(area.center());
        QTest::qWait(60);
        QCursor::setPos(area.right() + 200, area.bottom() + 200);
        QTest::qWait(60);
        afterPull = QCursor::pos();
        confinedInside = m_dlg->IsCursorConfined() && area.contains(afterPull);
        return false;
    };
    StartWholeDisk();
    QTRY_COMPARE(m_prompts.questions.size(), 1);
    QVERIFY2(confinedInside,
             qPrintable(QStringLiteral("cursor at %1,%2").arg(afterPull.x()).arg(afterPull.y())));
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->IsRunning(), kJobTimeoutMs);
    const QPoint outside = m_dlg->frameGeometry().bottomRight() + QPoint(200, 200);
    QCursor::setPos(outside);
    QTest::qWait(60);
    QCOMPARE(QCursor::pos(), outside);
    QVERIFY(!m_dlg->IsCursorConfined());
}

void JobsTest::closingDuringAJobStopsItAndClosesAfterwards() {
    OpenWithDisk(64u << 20);
    bool visibleAfterClose = false;
    m_prompts.answer = [&](const QString& question) {
        if (question == kDiskQuestion) {
            m_dlg->close();
            visibleAfterClose = m_dlg->isVisible(); // the window stays while its job runs
        }
        return true;
    };
    StartWholeDisk();
    QTRY_COMPARE(m_prompts.questions, (QStringList{kDiskQuestion, kStopQuestion}));
    QVERIFY(visibleAfterClose);
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->isVisible(), kJobTimeoutMs);
    QVERIFY(!m_dlg->IsRunning());
    QVERIFY(StatusText(*m_dlg).endsWith(QStringLiteral(" 上的数据被用户停止!")));
    const Bytes pattern = Pattern(1 << 20, 7);
    QCOMPARE(m_image->Read((64u << 20) - 512, 512), Bytes(pattern.end() - 512, pattern.end()));
}

QTEST_MAIN(JobsTest)
#include "JobsTest.moc"
