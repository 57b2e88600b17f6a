#pragma once

#include "erase/EraseHost.h"
#include "ui/Prompts.h"

#include <QDialog>
#include <optional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace kelvane {

// The format dialog the partition job shows before it writes anything: the partition's capacity, the
// file system, the allocation unit size, the volume label and quick format, with Start and Close.
// Start asks the format warning; only a Yes closes the dialog with a choice.
class CFormatDlg : public QDialog {
    Q_OBJECT
  public:
    CFormatDlg(QWidget* owner, const FormatTarget& target, const CPrompts& prompts);

    // The choice after a Start answered Yes; nothing after Close, Escape or the close box.
    std::optional<FormatChoice> Choice() const { return m_choice; }

  private:
    void OnStart();
    void OnFileSystemChanged();

    const CPrompts& m_prompts;
    QComboBox* m_comboFileSystem = nullptr;
    QComboBox* m_comboClusterSize = nullptr;
    QLineEdit* m_editLabel = nullptr;
    QCheckBox* m_checkQuick = nullptr;
    std::optional<FormatChoice> m_choice;
};

} // namespace kelvane
