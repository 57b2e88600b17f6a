#pragma once

#include "ui_ShredPage.h"

#include <QWidget>
#include <string>
#include <vector>

namespace kelvane {

struct CPrompts;
class CDropListCtrl;

// Tab 3: the files the shred job overwrites and deletes, gathered with the file dialog and by drops.
class CShredPage final : public QWidget {
    Q_OBJECT
  public:
    CShredPage(const CPrompts& prompts, QWidget* parent);

    CDropListCtrl* FileList() const { return m_listFiles; }
    // The rows' paths, top row first, as the file system's bytes.
    std::vector<std::string> Files() const;

    void OnAddFiles();
    void OnRemoveFile();
    void OnClearList();

  private:
    Ui::CShredPageForm m_ui;
    CDropListCtrl* m_listFiles = nullptr;
    const CPrompts& m_prompts;
};

} // namespace kelvane
