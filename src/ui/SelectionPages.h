#pragma once

#include "device/PartitionRows.h"
#include "ui_DiskWipePage.h"
#include "ui_FreeSpaceWipePage.h"
#include "ui_PartitionWipePage.h"

#include <QWidget>
#include <vector>

class QTableWidget;

namespace kelvane {

class IMessageSink;

// A disk list above the partition list of the disk chosen in it. A row of the disk list is a drive
// number; a row of the partition list is partition number row + 1.
class CSelectionPage : public QWidget {
    Q_OBJECT
  public:
    // Appends row `index` to the disk list; the main window fills the lists once, in drive order.
    void AddDiskRow(int index, const DiskRow& row);

    int SelDisk() const { return m_nSelDisk; }
    int SelPartition() const { return m_nSelPartition; }
    QTableWidget* DiskList() const { return m_listDisk; }
    QTableWidget* PartitionList() const { return m_listPartition; }

    // The end of a job: no disk row selected, no partition rows, nothing recorded.
    virtual void ResetSelection();

  protected:
    CSelectionPage(IMessageSink& sink, QWidget* parent);
    // Columns, styles and handlers of both lists.
    void OnInitDialog(QTableWidget* listPartition, QTableWidget* listDisk, bool checkBoxes);
    virtual void OnItemChangedPartitionList();
    // Forgets the partitions chosen on the list being replaced.
    virtual void ClearPartitionChoice() { m_nSelPartition = -1; }

    QTableWidget* m_listPartition = nullptr;
    QTableWidget* m_listDisk = nullptr;
    int m_nSelPartition = -1;
    int m_nSelDisk = -1;
    bool m_bRebuilding = false; // the partition rows are being replaced; their changes are not choices

  private:
    void OnItemChangedDiskList();
    void FillPartitionList();

    IMessageSink& m_sink;
};

// Tab 0: the partition list only shows what is on the disk.
class CDiskWipePage final : public CSelectionPage {
    Q_OBJECT
  public:
    CDiskWipePage(IMessageSink& sink, QWidget* parent);

  private:
    Ui::CDiskWipePageForm m_ui;
};

// Tab 1: one partition.
class CPartitionWipePage final : public CSelectionPage {
    Q_OBJECT
  public:
    CPartitionWipePage(IMessageSink& sink, QWidget* parent);

  private:
    Ui::CPartitionWipePageForm m_ui;
};

// Tab 2: the checked partitions, in the order they were checked.
class CFreeSpaceWipePage final : public CSelectionPage {
    Q_OBJECT
  public:
    CFreeSpaceWipePage(IMessageSink& sink, QWidget* parent);

    const std::vector<int>& CheckedPartitions() const { return m_checkedPartitions; }

  private:
    // The check boxes choose here; selecting a row chooses nothing.
    void OnItemChangedPartitionList() override {}
    void OnPartitionCheckChanged(int row, int column);
    void ClearPartitionChoice() override;

    Ui::CFreeSpaceWipePageForm m_ui;
    std::vector<int> m_checkedPartitions;
};

} // namespace kelvane
