#include "ui/FormatDlg.h"

#include "device/PartitionInfo.h"
#include "ui/UiText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelvane {
namespace {

// FAT keeps at most 11 bytes of label; NTFS 32 characters, as the system's own format offers.
constexpr int kFatLabelBytes = 11;
constexpr int kNtfsLabelChars = 32;

QString CapacityText(std::uint64_t sectorCount) {
    const double mb = static_cast<double>(sectorCount) * 512.0 / (1024.0 * 1024.0);
    return mb >= 1024.0 ? QString::number(mb / 1024.0, 'f', 1) + QStringLiteral(" GB")
                        : QString::number(mb, 'f', 0) + QStringLiteral(" MB");
}

} // namespace

CFormatDlg::CFormatDlg(QWidget* owner, const FormatTarget& target, const CPrompts& prompts)
    : QDialog(owner), m_prompts(prompts) {
    setObjectName(QStringLiteral("formatDialog"));
    const QString where =
        target.letter.empty() ? QStringLiteral("分区 %1").arg(target.partition) : ToQString(target.letter);
    setWindowTitle(QStringLiteral("格式化 ") + where);
    setModal(true);

    auto* capacity = new QComboBox(this);
    capacity->setObjectName(QStringLiteral("comboCapacity"));
    capacity->addItem(CapacityText(target.sectorCount));

    m_comboFileSystem = new QComboBox(this);
    m_comboFileSystem->setObjectName(QStringLiteral("comboFileSystem"));
    m_comboFileSystem->addItem(QStringLiteral("FAT32"), static_cast<int>(FileSystemKind::Fat32));
    m_comboFileSystem->addItem(QStringLiteral("NTFS"), static_cast<int>(FileSystemKind::Ntfs));
    // What the partition holds now is the likely wish; the user may choose the other.
    m_comboFileSystem->setCurrentIndex(IsNtfsTypeName(target.typeName) ? 1 : 0);

    m_comboClusterSize = new QComboBox(this);
    m_comboClusterSize->setObjectName(QStringLiteral("comboClusterSize"));
    m_comboClusterSize->addItem(QStringLiteral("默认配置大小"), 0u);
    for (std::uint32_t bytes = 512; bytes <= 65536; bytes *= 2)
        m_comboClusterSize->addItem(bytes < 8192 ? QStringLiteral("%1 字节").arg(bytes)
                                                 : QStringLiteral("%1 KB").arg(bytes / 1024),
                                    bytes);

    m_editLabel = new QLineEdit(this);
    m_editLabel->setObjectName(QStringLiteral("editLabel"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("容量(&P):"), capacity);
    form->addRow(QStringLiteral("文件系统(&F):"), m_comboFileSystem);
    form->addRow(QStringLiteral("分配单元大小(&A):"), m_comboClusterSize);
    form->addRow(QStringLiteral("卷标(&L):"), m_editLabel);

    auto* options = new QGroupBox(QStringLiteral("格式化选项(&O)"), this);
    m_checkQuick = new QCheckBox(QStringLiteral("快速格式化(&Q)"), options);
    m_checkQuick->setObjectName(QStringLiteral("checkQuick"));
    m_checkQuick->setChecked(true);
    auto* optionsLayout = new QVBoxLayout(options);
    optionsLayout->addWidget(m_checkQuick);

    auto* buttons = new QDialogButtonBox(this);
    auto* start = buttons->addButton(QStringLiteral("开始(&S)"), QDialogButtonBox::AcceptRole);
    start->setObjectName(QStringLiteral("buttonStart"));
    auto* close = buttons->addButton(QStringLiteral("关闭(&C)"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("buttonClose"));
    connect(start, &QPushButton::clicked, this, &CFormatDlg::OnStart);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(options);
    layout->addWidget(buttons);
    setMinimumWidth(360);

    connect(m_comboFileSystem, &QComboBox::currentIndexChanged, this, &CFormatDlg::OnFileSystemChanged);
    OnFileSystemChanged();
}

void CFormatDlg::OnFileSystemChanged() {
    const bool fat = m_comboFileSystem->currentData().toInt() == static_cast<int>(FileSystemKind::Fat32);
    m_editLabel->setMaxLength(fat ? kFatLabelBytes : kNtfsLabelChars);
    // Only a full NTFS format writes the whole volume; mkfs.fat always leaves the data area alone.
    m_checkQuick->setEnabled(!fat);
    if (fat)
        m_checkQuick->setChecked(true);
}

void CFormatDlg::OnStart() {
    if (!m_prompts.askYesNo(this, ToQString(kFormatWarning)))
        return; // back to the dialog, nothing written
    FormatChoice choice;
    choice.fileSystem = static_cast<FileSystemKind>(m_comboFileSystem->currentData().toInt());
    choice.clusterBytes = m_comboClusterSize->currentData().toUInt();
    choice.label = m_editLabel->text().toStdString();
    choice.quick = m_checkQuick->isChecked();
    m_choice = choice;
    accept();
}

} // namespace kelvane
