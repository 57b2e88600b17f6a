#include "ui/AboutDlg.h"

#include "ui/EraserApp.h"

namespace kelvane {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setFont(DialogFont());
    m_ui.setupUi(this);
    setFixedSize(size());
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_ui.labelIcon->setPixmap(QPixmap(QStringLiteral(":/res/icon128")));
    connect(m_ui.buttonOk, &QPushButton::clicked, this, &QDialog::accept);
}

CTracePage::CTracePage(QWidget* parent) : QWidget(parent) {
    setFont(DialogFont());
    m_ui.setupUi(this);
}

} // namespace kelvane
