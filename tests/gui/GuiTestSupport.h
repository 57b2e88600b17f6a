#pragma once

// What the window tests share: answers for the window's boxes, widgets found by object name, clicks on
// list rows and image drives.

#include "ui/EraserDlg.h"

#include <QStringList>
#include <functional>
#include <string>
#include <vector>

class QTableWidget;

namespace kelvane {
class CSelectionPage;
class CFreeSpaceWipePage;
class CShredPage;
} // namespace kelvane

namespace kelvane::test {

// Takes the place of the window's message boxes and file dialog: records what they would have shown and
// answers from the test.
struct ScriptedPrompts {
    QStringList messages;
    QStringList questions;
    // Answers a question; Yes unless the test says otherwise.
    std::function<bool(const QString&)> answer = [](const QString&) { return true; };
    QStringList filesToChoose;

    void Install(CEraserDlg& dlg);
};

// The font, the style and the Chinese fallback as the program sets them.
void SetUpApplication();

CSelectionPage* Page(CEraserDlg& dlg, const char* objectName);
CFreeSpaceWipePage* FreeSpacePage(CEraserDlg& dlg);
CShredPage* ShredPage(CEraserDlg& dlg);
QString StatusText(CEraserDlg& dlg);
QString ButtonText(CEraserDlg& dlg);
void ShowTab(CEraserDlg& dlg, int index);
// A left click in the middle of the row's first cell.
void ClickRow(QTableWidget* list, int row);
QStringList RowTexts(QTableWidget* list, int row);

// Byte pattern that no erasure writes.
std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed);

} // namespace kelvane::test
