#include "ui/SelectionPages.h"

#include "device/PhysicalDrive.h"
#include "ui/UiText.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableWidget>
#include <algorithm>
#include <array>

namespace kelvane {

namespace {

struct Column {
    const char* header;
    int widthPx;
};

constexpr std::array<Column, 3> kDiskColumns{{{"磁盘名称", 200}, {"磁盘大小(MB)", 120}, {"接口类型", 100}}};
// Mount points are longer than the two-character letters this list was first sized for, so the letter
// column takes the width the others leave free.
constexpr std::array<Column, 6> kPartitionColumns{
    {{"盘符", 110}, {"卷标", 100}, {"分区类型", 70}, {"开始位置", 90}, {"容量", 90}, {"剩余空间", 90}}};

template <std::size_t N> void SetUpList(QTableWidget* list, const std::array<Column, N>& columns) {
    list->setColumnCount(static_cast<int>(N));
    for (std::size_t i = 0; i < N; ++i) {
        auto* header = new QTableWidgetItem(QString::fromUtf8(columns[i].header));
        header->setTextAlignment(Qt::AlignCenter);
        list->setHorizontalHeaderItem(static_cast<int>(i), header);
        list->setColumnWidth(static_cast<int>(i), columns[i].widthPx);
    }
    list->verticalHeader()->hide();
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 2);
    list->horizontalHeader()->setHighlightSections(false);
    list->horizontalHeader()->setSectionsClickable(false);
    list->setShowGrid(true);
    list->setWordWrap(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    // A job works on one disk and one partition; a selection of several rows would show rows
    // highlighted that the job then leaves alone.
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setTabKeyNavigation(false);
}

QTableWidgetItem* MakeItem(const std::string& text) {
    auto* item = new QTableWidgetItem(ToQString(text));
    item->setTextAlignment(Qt::AlignCenter);
    item->setToolTip(item->text()); // long mount points and names are elided in their columns
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

int SelectedRow(const QTableWidget* list) {
    const QModelIndexList rows = list->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

} // namespace

CSelectionPage::CSelectionPage(IMessageSink& sink, QWidget* parent) : QWidget(parent), m_sink(sink) {}

void CSelectionPage::OnInitDialog(QTableWidget* listPartition, QTableWidget* listDisk, bool checkBoxes) {
    m_listPartition = listPartition;
    m_listDisk = listDisk;
    SetUpList(m_listDisk, kDiskColumns);
    SetUpList(m_listPartition, kPartitionColumns);
    m_listPartition->setProperty("checkBoxes", checkBoxes);
    connect(m_listDisk->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CSelectionPage::OnItemChangedDiskList);
    connect(m_listPartition->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CSelectionPage::OnItemChangedPartitionList);
}

void CSelectionPage::AddDiskRow(int index, const DiskRow& row) {
    m_listDisk->insertRow(index);
    m_listDisk->setItem(index, 0, MakeItem(row.name));
    m_listDisk->setItem(index, 1, MakeItem(row.size));
    m_listDisk->setItem(index, 2, MakeItem(row.bus));
}

void CSelectionPage::OnItemChangedDiskList() {
    m_nSelDisk = SelectedRow(m_listDisk);
    FillPartitionList();
}

void CSelectionPage::FillPartitionList() {
    m_bRebuilding = true;
    m_listPartition->clearSelection();
    m_listPartition->setRowCount(0);
    // What was chosen on the old rows would name a partition of another disk.
    ClearPartitionChoice();
    if (m_nSelDisk >= 0) {
        // A drive of its own, read-only: the running job's drive is not touched, and a drive that does not
        // open simply has no rows.
        CPhysicalDrive drive(m_sink);
        drive.Open(static_cast<std::uint16_t>(m_nSelDisk));
        const auto partitions = drive.GetPartitionList();
        const bool checkBoxes = m_listPartition->property("checkBoxes").toBool();
        const int count = std::min(drive.GetPartitionCount(), static_cast<int>(partitions.size()));
        m_listPartition->setRowCount(count);
        for (int r = 0; r < count; ++r) {
            const PartitionRow row = MakePartitionRow(drive, partitions[static_cast<std::size_t>(r)]);
            QTableWidgetItem* letter = MakeItem(row.letter);
            if (checkBoxes) {
                letter->setFlags(letter->flags() | Qt::ItemIsUserCheckable);
                letter->setCheckState(Qt::Unchecked);
            }
            m_listPartition->setItem(r, 0, letter);
            m_listPartition->setItem(r, 1, MakeItem(row.label));
            m_listPartition->setItem(r, 2, MakeItem(row.type));
            m_listPartition->setItem(r, 3, MakeItem(row.start));
            m_listPartition->setItem(r, 4, MakeItem(row.capacity));
            m_listPartition->setItem(r, 5, MakeItem(row.free));
        }
        drive.Close();
    }
    m_bRebuilding = false;
}

void CSelectionPage::OnItemChangedPartitionList() {
    if (m_bRebuilding)
        return;
    const int row = SelectedRow(m_listPartition);
    m_nSelPartition = row < 0 ? -1 : row + 1;
}

void CSelectionPage::ResetSelection() {
    m_listDisk->clearSelection();
    m_bRebuilding = true;
    m_listPartition->setRowCount(0);
    m_bRebuilding = false;
    m_nSelDisk = -1;
    ClearPartitionChoice();
}

CDiskWipePage::CDiskWipePage(IMessageSink& sink, QWidget* parent) : CSelectionPage(sink, parent) {
    m_ui.setupUi(this);
    OnInitDialog(m_ui.m_listPartition, m_ui.m_listDisk, false);
}

CPartitionWipePage::CPartitionWipePage(IMessageSink& sink, QWidget* parent) : CSelectionPage(sink, parent) {
    m_ui.setupUi(this);
    OnInitDialog(m_ui.m_listPartition, m_ui.m_listDisk, false);
}

CFreeSpaceWipePage::CFreeSpaceWipePage(IMessageSink& sink, QWidget* parent) : CSelectionPage(sink, parent) {
    m_ui.setupUi(this);
    OnInitDialog(m_ui.m_listPartition, m_ui.m_listDisk, true);
    connect(m_listPartition, &QTableWidget::cellChanged, this, &CFreeSpaceWipePage::OnPartitionCheckChanged);
}

void CFreeSpaceWipePage::OnPartitionCheckChanged(int row, int column) {
    if (m_bRebuilding || column != 0)
        return;
    const int number = row + 1;
    const auto found = std::find(m_checkedPartitions.begin(), m_checkedPartitions.end(), number);
    if (m_listPartition->item(row, 0)->checkState() == Qt::Checked) {
        if (found == m_checkedPartitions.end())
            m_checkedPartitions.push_back(number);
    } else if (found != m_checkedPartitions.end()) {
        m_checkedPartitions.erase(found);
    }
}

void CFreeSpaceWipePage::ClearPartitionChoice() {
    m_nSelPartition = -1;
    m_checkedPartitions.clear();
}

} // namespace kelvane
