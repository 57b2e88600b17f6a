#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace kelvane {

// The window's modal boxes and its file dialog. Every box the window or a job shows goes through here,
// so a test can answer them without a modal loop that would block it.
struct CPrompts {
    // Yes/No box with the question icon and the caption "提示!"; true only for Yes.
    std::function<bool(QWidget* owner, const QString& question)> askYesNo;
    // OK box with the warning icon and the application's name as caption.
    std::function<void(QWidget* owner, const QString& text)> showMessage;
    // The open-file dialog (several files, any type); the chosen paths, or nothing when cancelled.
    std::function<QStringList(QWidget* owner)> chooseFiles;

    // The real boxes and dialog.
    static CPrompts Modal();
};

} // namespace kelvane
