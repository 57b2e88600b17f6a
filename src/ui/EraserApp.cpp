#include "ui/EraserApp.h"

#include "ui/AboutDlg.h"
#include "ui/EraserDlg.h"
#include "ui/FormatDlg.h"
#include "ui/SelectionPages.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QLibraryInfo>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QTranslator>
#include <cstdio>

namespace kelvane {

QFont DialogFont(bool newSong) {
    QFont font;
    if (newSong)
        font.setFamilies({QStringLiteral("新宋体"), QStringLiteral("NSimSun"),
                          QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC")});
    else
        font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                          QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(12); // 9 points at 96 dots per inch
    return font;
}

namespace {

// With KELVANE_SCREENSHOT_DIR set, the window saves a picture of each tab and of the About box there
// and closes; the layout is checked on these pictures.
void SaveScreenshots(CEraserDlg& dlg, const QString& dir) {
    QDir().mkpath(dir);
    // The first disk chosen on each page, so that the pictures show a partition list too.
    for (CSelectionPage* page : dlg.findChildren<CSelectionPage*>()) {
        if (page->DiskList()->rowCount() > 0)
            page->DiskList()->selectionModel()->select(page->DiskList()->model()->index(0, 0),
                                                       QItemSelectionModel::ClearAndSelect |
                                                           QItemSelectionModel::Rows);
    }
    auto* tabs = dlg.findChild<QTabWidget*>(QStringLiteral("m_tab"));
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QApplication::processEvents();
        dlg.grab().save(QDir(dir).filePath(QStringLiteral("tab%1.png").arg(i)));
    }
    CAboutDlg about(&dlg);
    about.show();
    QApplication::processEvents();
    about.grab().save(QDir(dir).filePath(QStringLiteral("about.png")));
    about.close();
    CFormatDlg format(&dlg, {"demo", 1, "", "FAT32", 163840}, dlg.Prompts());
    format.show();
    QApplication::processEvents();
    format.grab().save(QDir(dir).filePath(QStringLiteral("format.png")));
    format.close();
    dlg.close();
}

} // namespace

int RunEraserWindow(int argc, char** argv) {
    // Without a display Qt would abort with a core dump; a user on a console wants the commands instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs(
            "kelvane: 没有图形显示，无法打开窗口; 请在命令行使用 list、wipe-disk、wipe-free、wipe-partition "
            "或 shred (kelvane --help)\n",
            stderr);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvane"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setFont(DialogFont());
    // The standard dialogs (the file dialog) in the window's language, where Qt's translations exist.
    QTranslator qtText;
    if (qtText.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtText);

    CEraserDlg dlg;
    dlg.show();
    const QString screenshotDir = qEnvironmentVariable("KELVANE_SCREENSHOT_DIR");
    if (!screenshotDir.isEmpty())
        QTimer::singleShot(500, &dlg, [&dlg, screenshotDir] { SaveScreenshots(dlg, screenshotDir); });
    return QApplication::exec();
}

} // namespace kelvane
