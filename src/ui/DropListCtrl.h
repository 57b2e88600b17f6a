#pragma once

#include <QListWidget>
#include <QPersistentModelIndex>
#include <QStringList>

namespace kelvane {

// The shred list: one full file path per row, the newest row on top. Files and folders dropped on it
// are added, a folder as all the files below it.
class CDropListCtrl : public QListWidget {
    Q_OBJECT
  public:
    explicit CDropListCtrl(QWidget* parent = nullptr);

    // Adds the dropped paths in order. A path that some row already contains ends the drop: neither it
    // nor the paths after it are added.
    void OnDropFiles(const QStringList& paths);
    // Inserts every file below `folder`, depth first; folders get no row. Returns 1.
    int AddFolderFiles(const QString& folder);
    void InsertRow(const QString& path) { insertItem(0, path); }
    // The row the user selected last, or -1; it follows the row when rows are inserted above it.
    int SelectionMark() const { return m_selectionMark.isValid() ? m_selectionMark.row() : -1; }

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    QPersistentModelIndex m_selectionMark;
};

} // namespace kelvane
