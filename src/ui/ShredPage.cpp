#include "ui/ShredPage.h"

#include "ui/DropListCtrl.h"
#include "ui/EraserApp.h"
#include "ui/Prompts.h"
#include "ui/UiText.h"

namespace kelvane {

CShredPage::CShredPage(const CPrompts& prompts, QWidget* parent) : QWidget(parent), m_prompts(prompts) {
    setFont(DialogFont(true));
    m_ui.setupUi(this);
    m_listFiles = m_ui.m_listFiles;
    connect(m_ui.buttonAddFiles, &QPushButton::clicked, this, &CShredPage::OnAddFiles);
    connect(m_ui.buttonRemoveFile, &QPushButton::clicked, this, &CShredPage::OnRemoveFile);
    connect(m_ui.buttonClearList, &QPushButton::clicked, this, &CShredPage::OnClearList);
}

std::vector<std::string> CShredPage::Files() const {
    std::vector<std::string> files;
    files.reserve(static_cast<std::size_t>(m_listFiles->count()));
    for (int r = 0; r < m_listFiles->count(); ++r)
        files.push_back(ToFileName(m_listFiles->item(r)->text()));
    return files;
}

void CShredPage::OnAddFiles() {
    // Chosen files are added as they come, even when already listed.
    for (const QString& path : m_prompts.chooseFiles(this))
        m_listFiles->InsertRow(path);
}

void CShredPage::OnRemoveFile() {
    // One row, the one selected last, however many are selected.
    const int mark = m_listFiles->SelectionMark();
    if (mark >= 0)
        delete m_listFiles->takeItem(mark);
}

void CShredPage::OnClearList() {
    if (m_listFiles->count() == 0)
        return;
    if (m_prompts.askYesNo(this, QStringLiteral("您确定要清空粉碎文件列表吗?")))
        m_listFiles->clear();
}

} // namespace kelvane
