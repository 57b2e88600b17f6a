// What a click on the disk and partition lists records, and what the partition rows show.

#include "ui/SelectionPages.h"

#include "DiskImage.h"
#include "GuiTestSupport.h"
#include "platform/DriveTable.h"

#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <memory>

using namespace kelvane;
using namespace kelvane::test;

class SelectionPagesTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void init();
    void cleanup() { m_dlg.reset(); }
    void clickingAnotherDiskListsItsPartitions();
    void partitionRowsShowStartCapacityAndNoFigureWithoutAMount();
    void partitionPageRecordsTheClickedRowPlusOne();
    void freeSpacePageKeepsCheckedPartitionsInCheckingOrder();
    void wholeDiskPagePartitionsCannotBeChosen();
    void choosingAnotherDiskForgetsThePartitionChoice();
    void deselectingTheDiskForgetsIt();

  private:
    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<CEraserDlg> m_dlg;
    ScriptedPrompts m_prompts;
};

void SelectionPagesTest::initTestCase() {
    SetUpApplication();
    m_dir = std::make_unique<TempDir>();
    // Drive 0: three primaries, the first at sector 63 for 10,240,000 sectors. Drive 1: one.
    const SparseImage first(m_dir->File("first.img"), 13312063ull * 512 + (1ull << 20));
    first.WriteSector(
        0, PartitionTable({{0x0C, 63, 10240000}, {0x07, 10240063, 2048000}, {0x83, 12288063, 1024000}}));
    const SparseImage second(m_dir->File("second.img"), 128ull << 20);
    second.WriteSector(0, PartitionTable({{0x0C, 2048, 204800}}));
    SetDriveTable({first.Path(), second.Path()});
}

void SelectionPagesTest::init() {
    m_prompts = ScriptedPrompts();
    m_dlg = std::make_unique<CEraserDlg>();
    m_prompts.Install(*m_dlg);
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
}

void SelectionPagesTest::clickingAnotherDiskListsItsPartitions() {
    ShowTab(*m_dlg, 1);
    CSelectionPage* page = Page(*m_dlg, "m_pagePartition");
    QCOMPARE(page->SelDisk(), -1);
    ClickRow(page->DiskList(), 0);
    QCOMPARE(page->SelDisk(), 0);
    QCOMPARE(page->PartitionList()->rowCount(), 3);
    ClickRow(page->DiskList(), 1);
    QCOMPARE(page->SelDisk(), 1);
    QCOMPARE(page->PartitionList()->rowCount(), 1);
    QCOMPARE(RowTexts(page->PartitionList(), 0).at(3), QStringLiteral("1(MB)"));
    // One disk at a time: the first row lost its selection.
    QCOMPARE(page->DiskList()->selectionModel()->selectedRows().size(), 1);
}

void SelectionPagesTest::partitionRowsShowStartCapacityAndNoFigureWithoutAMount() {
    CSelectionPage* page = Page(*m_dlg, "m_pageDisk");
    ClickRow(page->DiskList(), 0);
    const QStringList row = RowTexts(page->PartitionList(), 0);
    QCOMPARE(row.at(0), QString()); // no mount point, so no letter and no label
    QCOMPARE(row.at(1), QString());
    QCOMPARE(row.at(3), QStringLiteral("0(MB)"));
    QCOMPARE(row.at(4), QStringLiteral("5000(MB)"));
    QCOMPARE(row.at(5), QStringLiteral("-1(MB)"));
    QCOMPARE(RowTexts(page->PartitionList(), 1).at(4), QStringLiteral("1000(MB)"));
}

void SelectionPagesTest::partitionPageRecordsTheClickedRowPlusOne() {
    ShowTab(*m_dlg, 1);
    CSelectionPage* page = Page(*m_dlg, "m_pagePartition");
    ClickRow(page->DiskList(), 0);
    QCOMPARE(page->SelPartition(), -1);
    ClickRow(page->PartitionList(), 2);
    QCOMPARE(page->SelPartition(), 3);
    ClickRow(page->PartitionList(), 0);
    QCOMPARE(page->SelPartition(), 1);
}

void SelectionPagesTest::freeSpacePageKeepsCheckedPartitionsInCheckingOrder() {
    ShowTab(*m_dlg, 2);
    CFreeSpaceWipePage* page = FreeSpacePage(*m_dlg);
    ClickRow(page->DiskList(), 0);
    QTableWidget* parts = page->PartitionList();
    for (int row : {2, 0, 1})
        parts->item(row, 0)->setCheckState(Qt::Checked);
    QCOMPARE(page->CheckedPartitions(), (std::vector<int>{3, 1, 2}));
    parts->item(0, 0)->setCheckState(Qt::Unchecked);
    QCOMPARE(page->CheckedPartitions(), (std::vector<int>{3, 2}));
    // Selecting a row is not checking it.
    ClickRow(parts, 0);
    QCOMPARE(page->CheckedPartitions(), (std::vector<int>{3, 2}));
    QCOMPARE(page->SelPartition(), -1);
}

void SelectionPagesTest::wholeDiskPagePartitionsCannotBeChosen() {
    CSelectionPage* page = Page(*m_dlg, "m_pageDisk");
    ClickRow(page->DiskList(), 0);
    QVERIFY(!page->PartitionList()->isEnabled());
    ClickRow(page->PartitionList(), 1);
    QCOMPARE(page->SelPartition(), -1);
}

void SelectionPagesTest::choosingAnotherDiskForgetsThePartitionChoice() {
    ShowTab(*m_dlg, 1);
    CSelectionPage* page = Page(*m_dlg, "m_pagePartition");
    ClickRow(page->DiskList(), 0);
    ClickRow(page->PartitionList(), 2);
    ClickRow(page->DiskList(), 1);
    // Partition 3 of the first disk is no partition of the second one.
    QCOMPARE(page->SelPartition(), -1);
    QTest::mouseClick(m_dlg->findChild<QPushButton*>(QStringLiteral("m_btnStart")), Qt::LeftButton);
    QCOMPARE(m_prompts.messages, QStringList{QStringLiteral("请选择分区")});

    ShowTab(*m_dlg, 2);
    CFreeSpaceWipePage* freeSpace = FreeSpacePage(*m_dlg);
    ClickRow(freeSpace->DiskList(), 0);
    freeSpace->PartitionList()->item(1, 0)->setCheckState(Qt::Checked);
    ClickRow(freeSpace->DiskList(), 1);
    QVERIFY(freeSpace->CheckedPartitions().empty());
    QCOMPARE(freeSpace->PartitionList()->item(0, 0)->checkState(), Qt::Unchecked);
}

void SelectionPagesTest::deselectingTheDiskForgetsIt() {
    CSelectionPage* page = Page(*m_dlg, "m_pageDisk");
    ClickRow(page->DiskList(), 1);
    const QRect cell = page->DiskList()->visualRect(page->DiskList()->model()->index(1, 0));
    QTest::mouseClick(page->DiskList()->viewport(), Qt::LeftButton, Qt::ControlModifier, cell.center());
    // Nothing is highlighted, so nothing may be erased.
    QCOMPARE(page->SelDisk(), -1);
    QCOMPARE(page->PartitionList()->rowCount(), 0);
    QTest::mouseClick(m_dlg->findChild<QPushButton*>(QStringLiteral("m_btnStart")), Qt::LeftButton);
    QCOMPARE(m_prompts.messages, QStringList{QStringLiteral("请选择磁盘")});
}

QTEST_MAIN(SelectionPagesTest)
#include "SelectionPagesTest.moc"
