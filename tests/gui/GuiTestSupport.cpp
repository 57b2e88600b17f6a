#include "GuiTestSupport.h"

#include "ui/EraserApp.h"
#include "ui/SelectionPages.h"
#include "ui/ShredPage.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

namespace kelvane::test {

void ScriptedPrompts::Install(CEraserDlg& dlg) {
    CPrompts& prompts = dlg.Prompts();
    prompts.askYesNo = [this](QWidget*, const QString& question) {
        questions << question;
        return answer(question);
    };
    prompts.showMessage = [this](QWidget*, const QString& text) { messages << text; };
    prompts.chooseFiles = [this](QWidget*) { return filesToChoose; };
}

void SetUpApplication() {
    QApplication::setApplicationName(QStringLiteral("Kelvane"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setFont(DialogFont());
}

CSelectionPage* Page(CEraserDlg& dlg, const char* objectName) {
    return dlg.findChild<CSelectionPage*>(QString::fromLatin1(objectName));
}

CFreeSpaceWipePage* FreeSpacePage(CEraserDlg& dlg) {
    return dlg.findChild<CFreeSpaceWipePage*>(QStringLiteral("m_pageFreeSpace"));
}

CShredPage* ShredPage(CEraserDlg& dlg) {
    return dlg.findChild<CShredPage*>(QStringLiteral("m_pageShred"));
}

QString StatusText(CEraserDlg& dlg) {
    return dlg.findChild<QLineEdit*>(QStringLiteral("m_editStatus"))->text();
}

QString ButtonText(CEraserDlg& dlg) {
    return dlg.findChild<QPushButton*>(QStringLiteral("m_btnStart"))->text();
}

void ShowTab(CEraserDlg& dlg, int index) {
    dlg.findChild<QTabWidget*>(QStringLiteral("m_tab"))->setCurrentIndex(index);
}

void ClickRow(QTableWidget* list, int row) {
    const QRect cell = list->visualRect(list->model()->index(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

QStringList RowTexts(QTableWidget* list, int row) {
    QStringList texts;
    for (int c = 0; c < list->columnCount(); ++c)
        texts << (list->item(row, c) ? list->item(row, c)->text() : QString());
    return texts;
}

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + (i % 251) + 1) | 1; // never zero
    return bytes;
}

} // namespace kelvane::test
