#include "ui/Prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace kelvane {

CPrompts CPrompts::Modal() {
    CPrompts prompts;
    prompts.askYesNo = [](QWidget* owner, const QString& question) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("提示!"), question, QMessageBox::NoButton,
                        owner);
        // Named by hand: the boxes must read the same whatever translations are installed.
        QPushButton* yes = box.addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
        box.addButton(QStringLiteral("否(&N)"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.exec();
        return box.clickedButton() == yes;
    };
    prompts.showMessage = [](QWidget* owner, const QString& text) {
        QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), text, QMessageBox::NoButton,
                        owner);
        box.setDefaultButton(box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole));
        box.exec();
    };
    prompts.chooseFiles = [](QWidget* owner) {
        // The non-native dialog: its look does not depend on the desktop the window runs under.
        return QFileDialog::getOpenFileNames(owner, QString(), QString(), QStringLiteral("All file(*.*) (*)"),
                                             nullptr, QFileDialog::DontUseNativeDialog);
    };
    return prompts;
}

} // namespace kelvane
