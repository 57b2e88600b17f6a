// Start-up listing, the tab captions, the start handler's refusals and the system menu.

#include "DiskImage.h"
#include "GuiTestSupport.h"
#include "platform/DriveTable.h"
#include "platform/RawDevice.h"
#include "ui/AboutDlg.h"
#include "ui/SelectionPages.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cerrno>

using namespace kelvane;
using namespace kelvane::test;

namespace {

// Waits for the next modal box, tells what it was, and lets `close` dismiss it.
void WhenModalAppears(QString* title, const std::function<void(QWidget*)>& close) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, title, close] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        timer->stop();
        timer->deleteLater();
        *title = modal->windowTitle();
        close(modal);
    });
    timer->start(10);
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { SetUpApplication(); }
    void listsEveryDriveInOrderOnAllThreePages();
    void stopsListingAtTheFirstDriveThatDoesNotOpen();
    void saysWhenNoDriveOpensForLackOfRights();
    void captionKeepsTheTemplateTextUntilTheFirstTabSwitch();
    void startRefusesEachTabWithItsMessage();
    void enterKeyActsAsTheStartButton();
    void systemMenuEndsWithTheAboutItemThatOpensTheBox();
};

void WindowTest::listsEveryDriveInOrderOnAllThreePages() {
    TempDir dir;
    const SparseImage big(dir.File("big.img"), 78165360ull * 512);
    const SparseImage small(dir.File("small.img"), 64ull << 20);
    const SparseImage third(dir.File("third.img"), 1ull << 30);
    SetDriveTable({big.Path(), small.Path(), third.Path()});
    CEraserDlg dlg;

    for (const char* name : {"m_pageFreeSpace", "m_pagePartition", "m_pageDisk"}) {
        QTableWidget* disks = Page(dlg, name)->DiskList();
        QCOMPARE(disks->rowCount(), 3);
        QCOMPARE(RowTexts(disks, 0).at(1), QStringLiteral("38166MB"));
        QCOMPARE(RowTexts(disks, 1).at(1), QStringLiteral("64MB"));
        QCOMPARE(RowTexts(disks, 2).at(1), QStringLiteral("1024MB"));
        // An image is named by its path: the row order is the drive order.
        QVERIFY(RowTexts(disks, 0).at(0).contains(QStringLiteral("big.img")));
        QVERIFY(RowTexts(disks, 2).at(0).contains(QStringLiteral("third.img")));
        for (int r = 0; r < 3; ++r)
            QCOMPARE(RowTexts(disks, r), RowTexts(Page(dlg, "m_pageDisk")->DiskList(), r));
    }
}

void WindowTest::stopsListingAtTheFirstDriveThatDoesNotOpen() {
    TempDir dir;
    const SparseImage first(dir.File("first.img"), 8ull << 20);
    const SparseImage third(dir.File("third.img"), 8ull << 20);
    SetDriveTable({first.Path(), dir.File("missing.img"), third.Path()});
    CEraserDlg dlg;
    for (const char* name : {"m_pageFreeSpace", "m_pagePartition", "m_pageDisk"})
        QCOMPARE(Page(dlg, name)->DiskList()->rowCount(), 1);
}

void WindowTest::saysWhenNoDriveOpensForLackOfRights() {
    TempDir dir;
    const SparseImage disk(dir.File("disk.img"), 8ull << 20);
    SetDriveTable({disk.Path()});
    // Root opens anything; the refusal an ordinary user meets comes from the opener instead.
    SetRawDeviceOpener([](const std::string&, Access, int& error) {
        error = EACCES;
        return std::unique_ptr<RawDevice>();
    });
    CEraserDlg dlg;
    SetRawDeviceOpener({});
    QCOMPARE(Page(dlg, "m_pageDisk")->DiskList()->rowCount(), 0);
    const QString status = StatusText(dlg);
    QVERIFY2(status.contains(QString::fromStdString(disk.Path())) && status.contains(QStringLiteral("root")),
             qPrintable(status));

    // A drive that is merely missing keeps the listing silent.
    SetDriveTable({dir.File("missing.img")});
    CEraserDlg quiet;
    QCOMPARE(StatusText(quiet), QString());
}

void WindowTest::captionKeepsTheTemplateTextUntilTheFirstTabSwitch() {
    SetDriveTable({});
    CEraserDlg dlg;
    QCOMPARE(ButtonText(dlg), QStringLiteral("开始擦除"));
    ShowTab(dlg, 3);
    QCOMPARE(ButtonText(dlg), QStringLiteral("开始粉碎!"));
    for (int tab : {0, 1, 2}) {
        ShowTab(dlg, 3);
        ShowTab(dlg, tab);
        QCOMPARE(ButtonText(dlg), QStringLiteral("开始擦除!"));
    }
    // The trace page exists but no tab shows it.
    QWidget* trace = dlg.findChild<QWidget*>(QStringLiteral("m_pageTrace"));
    QVERIFY(trace);
    for (int tab = 0; tab < 4; ++tab) {
        ShowTab(dlg, tab);
        QVERIFY(!trace->isVisible());
    }
}

void WindowTest::startRefusesEachTabWithItsMessage() {
    TempDir dir;
    const SparseImage image(dir.File("disk.img"), 8ull << 20);
    SetDriveTable({image.Path()});
    CEraserDlg dlg;
    ScriptedPrompts prompts;
    prompts.Install(dlg);
    dlg.show();
    auto* start = dlg.findChild<QPushButton*>(QStringLiteral("m_btnStart"));

    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(prompts.messages, QStringList{QStringLiteral("请选择磁盘")});
    QCOMPARE(ButtonText(dlg), QStringLiteral("开始擦除")); // nothing started, nothing renamed

    ShowTab(dlg, 1);
    QTest::mouseClick(start, Qt::LeftButton);
    ClickRow(Page(dlg, "m_pagePartition")->DiskList(), 0);
    QTest::mouseClick(start, Qt::LeftButton);
    ShowTab(dlg, 2);
    ClickRow(Page(dlg, "m_pageFreeSpace")->DiskList(), 0);
    QTest::mouseClick(start, Qt::LeftButton);
    ShowTab(dlg, 3);
    QTest::mouseClick(start, Qt::LeftButton);

    QCOMPARE(prompts.messages, (QStringList{QStringLiteral("请选择磁盘"), QStringLiteral("请选择磁盘"),
                                            QStringLiteral("请选择分区"), QStringLiteral("请选择分区"),
                                            QStringLiteral("请添加文件到粉碎文件列表中!")}));
    QVERIFY(prompts.questions.isEmpty());
    QVERIFY(!dlg.IsRunning());
}

void WindowTest::enterKeyActsAsTheStartButton() {
    SetDriveTable({});
    CEraserDlg dlg;
    ScriptedPrompts prompts;
    prompts.Install(dlg);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTableWidget* disks = Page(dlg, "m_pageDisk")->DiskList();
    disks->setFocus();
    QTest::keyClick(disks, Qt::Key_Return);
    QTRY_COMPARE(prompts.messages, QStringList{QStringLiteral("请选择磁盘")});
    QVERIFY(dlg.isVisible()); // the default button never closes the window
}

void WindowTest::systemMenuEndsWithTheAboutItemThatOpensTheBox() {
    SetDriveTable({});
    CEraserDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    const QList<QAction*> items = dlg.SystemMenu()->actions();
    QVERIFY(items.size() >= 2);
    QVERIFY(items.at(items.size() - 2)->isSeparator());
    QCOMPARE(items.last()->text(), QStringLiteral("关于 Tollbrook(&A)..."));

    // The item, Escape closing the box.
    QString title;
    QString nameLine;
    WhenModalAppears(&title, [&nameLine](QWidget* box) {
        nameLine = box->findChild<QLabel*>(QStringLiteral("labelName"))->text();
        QTest::keyClick(box, Qt::Key_Escape);
    });
    items.last()->trigger();
    QCOMPARE(title, QStringLiteral("关于 Kelvane"));
    QCOMPARE(nameLine, QStringLiteral("Kelvane 1.5版"));

    // Identifiers 16 to 31 all mean the About box; its OK button closes it.
    title.clear();
    WhenModalAppears(&title, [](QWidget* box) {
        QTest::mouseClick(box->findChild<QPushButton*>(QStringLiteral("buttonOk")), Qt::LeftButton);
    });
    dlg.OnSysCommand(IDM_ABOUTBOX | 0xF);
    QCOMPARE(title, QStringLiteral("关于 Kelvane"));
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(dlg.isVisible());
    QCOMPARE(ButtonText(dlg), QStringLiteral("开始擦除"));

    // Alt+Space opens the menu where the keyboard user looks for it.
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QTest::keyClick(&dlg, Qt::Key_Space, Qt::AltModifier);
    QTRY_VERIFY(dlg.SystemMenu()->isVisible());
    dlg.SystemMenu()->close();
}

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
