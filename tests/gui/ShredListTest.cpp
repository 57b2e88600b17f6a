// The shred list: drops, the file dialog, removing a row and emptying the list.

#include "DiskImage.h"
#include "GuiTestSupport.h"
#include "platform/DriveTable.h"
#include "ui/DropListCtrl.h"
#include "ui/ShredPage.h"

#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <memory>

using namespace kelvane;
using namespace kelvane::test;
namespace fs = std::filesystem;

namespace {

QString MakeFile(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
    return QString::fromStdString(path.string());
}

QStringList Rows(CDropListCtrl* list) {
    QStringList rows;
    for (int r = 0; r < list->count(); ++r)
        rows << list->item(r)->text();
    return rows;
}

// Drops the paths on the list the way a file manager does.
void Drop(CDropListCtrl* list, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    data.setUrls(urls);
    // A drop goes to the widget that accepted the drag when it entered.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &drop);
}

} // namespace

class ShredListTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        SetUpApplication();
        SetDriveTable({});
    }
    void init();
    void cleanup() { m_dlg.reset(); }
    void droppedFolderBecomesItsFilesNewestOnTop();
    void pathAlreadyListedEndsTheDrop();
    void folderWalkListsLinksWithoutFollowingThem();
    void dialogAddsWhateverIsChosenEvenTwice();
    void removeTakesTheLastSelectedRowOnly();
    void clearAsksOnlyWhenThereIsSomethingToClear();

  private:
    CDropListCtrl* List() { return ShredPage(*m_dlg)->FileList(); }
    QPushButton* Button(const char* name) {
        return ShredPage(*m_dlg)->findChild<QPushButton*>(QString::fromLatin1(name));
    }

    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<CEraserDlg> m_dlg;
    ScriptedPrompts m_prompts;
};

void ShredListTest::init() {
    m_dir = std::make_unique<TempDir>();
    m_prompts = ScriptedPrompts();
    m_dlg = std::make_unique<CEraserDlg>();
    m_prompts.Install(*m_dlg);
    ShowTab(*m_dlg, 3);
    m_dlg->show();
}

void ShredListTest::droppedFolderBecomesItsFilesNewestOnTop() {
    const fs::path folder = m_dir->Path() / "folder";
    const QString a = MakeFile(folder / "a.txt");
    const QString b = MakeFile(folder / "sub" / "b.txt");
    const QString single = MakeFile(m_dir->Path() / "single.txt");
    Drop(List(), {QString::fromStdString(folder.string()), single});
    const QStringList rows = Rows(List());
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.first(), single); // added last, so on top
    QVERIFY(rows.contains(a));
    QVERIFY(rows.contains(b));
}

void ShredListTest::pathAlreadyListedEndsTheDrop() {
    const QString one = MakeFile(m_dir->Path() / "one.txt");
    const QString two = MakeFile(m_dir->Path() / "two.txt");
    const QString three = MakeFile(m_dir->Path() / "three.txt");
    const QString inner = MakeFile(m_dir->Path() / "dir" / "inner.txt");
    Drop(List(), {two});
    // one goes in; two is listed, so neither it nor three is added.
    Drop(List(), {one, two, three});
    QCOMPARE(Rows(List()), (QStringList{one, two}));
    // A folder whose file is listed counts as listed: its path is part of that row.
    List()->InsertRow(inner);
    Drop(List(), {QString::fromStdString((m_dir->Path() / "dir").string()), three});
    QCOMPARE(Rows(List()), (QStringList{inner, one, two}));
    // Whole path components count: a listed "dir.txt" does not stand for the folder "dir" ... nor
    // "dirty/x" for "dir".
    List()->clear();
    const QString sibling = MakeFile(m_dir->Path() / "dir.txt");
    const QString cousin = MakeFile(m_dir->Path() / "dirty" / "x.txt");
    List()->InsertRow(sibling);
    List()->InsertRow(cousin);
    Drop(List(), {QString::fromStdString((m_dir->Path() / "dir").string())});
    QCOMPARE(Rows(List()), (QStringList{inner, cousin, sibling}));
}

void ShredListTest::folderWalkListsLinksWithoutFollowingThem() {
    const fs::path folder = m_dir->Path() / "loop";
    const QString file = MakeFile(folder / "f.txt");
    fs::create_directory_symlink(folder, folder / "back"); // leads to its own ancestor
    Drop(List(), {QString::fromStdString(folder.string())});
    const QStringList rows = Rows(List());
    QCOMPARE(rows.size(), 2);
    QVERIFY(rows.contains(file));
    QVERIFY(rows.contains(QString::fromStdString((folder / "back").string())));
}

void ShredListTest::dialogAddsWhateverIsChosenEvenTwice() {
    const QString a = MakeFile(m_dir->Path() / "a.txt");
    const QString b = MakeFile(m_dir->Path() / "b.txt");
    m_prompts.filesToChoose = {a, b};
    QTest::mouseClick(Button("buttonAddFiles"), Qt::LeftButton);
    m_prompts.filesToChoose = {a};
    QTest::mouseClick(Button("buttonAddFiles"), Qt::LeftButton);
    QCOMPARE(Rows(List()), (QStringList{a, b, a}));
    m_prompts.filesToChoose.clear(); // cancelled
    QTest::mouseClick(Button("buttonAddFiles"), Qt::LeftButton);
    QCOMPARE(List()->count(), 3);
}

void ShredListTest::removeTakesTheLastSelectedRowOnly() {
    for (const char* name : {"r1", "r2", "r3", "r4"})
        List()->InsertRow(QString::fromLatin1(name)); // r4 on top
    QTest::mouseClick(Button("buttonRemoveFile"), Qt::LeftButton);
    QCOMPARE(List()->count(), 4); // nothing was ever selected

    auto click = [this](int row, Qt::KeyboardModifiers modifiers) {
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, modifiers,
                          List()->visualItemRect(List()->item(row)).center());
    };
    click(0, Qt::NoModifier);
    click(2, Qt::ControlModifier);           // r4 and r2 selected, r2 last
    List()->InsertRow(QStringLiteral("r5")); // rows move down; the mark moves with its row
    QTest::mouseClick(Button("buttonRemoveFile"), Qt::LeftButton);
    QCOMPARE(Rows(List()), (QStringList{"r5", "r4", "r3", "r1"}));
}

void ShredListTest::clearAsksOnlyWhenThereIsSomethingToClear() {
    QTest::mouseClick(Button("buttonClearList"), Qt::LeftButton);
    QVERIFY(m_prompts.questions.isEmpty());

    List()->InsertRow(QStringLiteral("/tmp/x"));
    m_prompts.answer = [](const QString&) { return false; };
    QTest::mouseClick(Button("buttonClearList"), Qt::LeftButton);
    QCOMPARE(m_prompts.questions, QStringList{QStringLiteral("您确定要清空粉碎文件列表吗?")});
    QCOMPARE(List()->count(), 1);
    m_prompts.answer = [](const QString&) { return true; };
    QTest::mouseClick(Button("buttonClearList"), Qt::LeftButton);
    QCOMPARE(List()->count(), 0);
}

QTEST_MAIN(ShredListTest)
#include "ShredListTest.moc"
