#pragma once

#include "ui_AboutDlg.h"
#include "ui_TracePage.h"

#include <QDialog>
#include <QWidget>

namespace kelvane {

// The program's name and version; OK, Escape and the close box close it.
class CAboutDlg final : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent);

  private:
    Ui::CAboutDlgForm m_ui;
};

// Check boxes for kinds of usage traces. The window builds it with the other pages but gives it no tab:
// nothing shows it and nothing reads it.
class CTracePage final : public QWidget {
    Q_OBJECT
  public:
    explicit CTracePage(QWidget* parent);

  private:
    Ui::CTracePageForm m_ui;
};

} // namespace kelvane
