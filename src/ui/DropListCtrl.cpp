#include "ui/DropListCtrl.h"

#include "platform/FolderWalk.h"
#include "ui/UiText.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <sys/stat.h>

namespace kelvane {

namespace {

// lstat: a link is never taken for the folder it points to.
bool IsFolder(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString WithoutTrailingSlash(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

// A row stands for the dropped path when it is that path or a file below it, judged by whole path
// components: /data/ab.txt is not below /data/a.
bool IsSameOrBelow(const QString& row, const QString& dropped) {
    if (row == dropped)
        return true;
    const QString prefix = dropped.endsWith(QLatin1Char('/')) ? dropped : dropped + QLatin1Char('/');
    return row.startsWith(prefix, Qt::CaseSensitive);
}

} // namespace

CDropListCtrl::CDropListCtrl(QWidget* parent) : QListWidget(parent) {
    // Column after column, top to bottom, the way a list in list mode arranges its rows.
    setViewMode(QListView::ListMode);
    setFlow(QListView::TopToBottom);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setDropIndicatorShown(false);
    connect(this, &QListWidget::itemSelectionChanged, this, [this] {
        const QModelIndex current = currentIndex();
        if (current.isValid() && selectionModel()->isSelected(current))
            m_selectionMark = QPersistentModelIndex(current);
    });
}

void CDropListCtrl::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void CDropListCtrl::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void CDropListCtrl::dropEvent(QDropEvent* event) {
    if (!event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    OnDropFiles(paths);
    event->acceptProposedAction();
}

void CDropListCtrl::OnDropFiles(const QStringList& dropped) {
    for (const QString& raw : dropped) {
        const QString path = WithoutTrailingSlash(raw);
        if (path.isEmpty())
            continue;
        for (int r = 0; r < count(); ++r) {
            if (IsSameOrBelow(item(r)->text(), path))
                return; // listed already: the rest of this drop is dropped with it
        }
        if (IsFolder(path))
            AddFolderFiles(path);
        else
            InsertRow(path);
    }
}

int CDropListCtrl::AddFolderFiles(const QString& folder) {
    // Depth first, links listed and never followed, each folder walked once: the walk always ends.
    for (const std::string& file : FilesBelow(ToFileName(WithoutTrailingSlash(folder))))
        InsertRow(FromFileName(file));
    return 1;
}

} // namespace kelvane
