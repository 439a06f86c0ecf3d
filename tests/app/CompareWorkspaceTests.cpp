#include <gtest/gtest.h>

#include <deque>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "LookChecks.hpp"
#include "PanelTestSupport.hpp"
#include "RevisionFiles.hpp"
#include "import/PackageImporter.hpp"
#include "panels/SidebarView.hpp"
#include "sheets/CompareSheet.hpp"
#include "dialogs/StoreRevisionDialog.hpp"
#include "sheets/WorkspaceSheet.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

std::vector<std::string> comboTexts(const QComboBox* combo) {
    std::vector<std::string> out;
    for (int i = 0; i < combo->count(); ++i) out.push_back(combo->itemText(i).toStdString());
    return out;
}

bool importAndWait(AppModel& model, const fs::path& url) {
    QSignalSpy done(&model, &AppModel::importFinished);
    model.importURL(url);
    return done.wait(20000) && done.front().front().toBool();
}

std::vector<std::pair<std::string, std::string>> fileHashes(const PCBPackage& p) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& f : p.files) out.emplace_back(f.fileName, f.dataHash);
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

TEST(CompareSheet, OffersTwelveDownloadsByNameAndTheOpenBoard) {
    UserFolders folders;
    for (int i = 0; i < 13; ++i) writeZip(folders.downloads / ("rev" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".zip"), {5});
    writeZip(folders.downloads / "X.ZIP", {6});
    writeText(folders.downloads / "notes.txt", "not an archive");
    EXPECT_EQ(WorkspaceScanner::recentZipURLs().size(), 12u);
    EXPECT_EQ(WorkspaceScanner::recentZipURLs().front().filename(), "X.ZIP");  // capitals sort first

    PanelFixture f;
    CompareSheet sheet(f.model.get());
    const auto a = comboTexts(child<QComboBox>(&sheet, "compare.pickerA"));
    ASSERT_EQ(a.size(), 13u);
    EXPECT_EQ(a[0], "Choose file\u2026");
    EXPECT_EQ(a[1], "X.ZIP");
    EXPECT_EQ(a[12], "rev10.zip");
    EXPECT_EQ(comboTexts(child<QComboBox>(&sheet, "compare.pickerB")), a);
    EXPECT_FALSE(child(&sheet, "compare.current"));
    EXPECT_FALSE(child<QPushButton>(&sheet, "compare.compare")->isEnabled());

    f.model->loadPackage(sampleBoard("Open"));
    CompareSheet withBoard(f.model.get());
    const auto b = comboTexts(child<QComboBox>(&withBoard, "compare.pickerB"));
    ASSERT_EQ(b.size(), 14u);
    EXPECT_EQ(b[1], "Current \u2014 Open");
    EXPECT_EQ(text(child<QLabel>(&withBoard, "compare.currentLine")), "Current: Open (3 files)");
    auto* pickerB = child<QComboBox>(&withBoard, "compare.pickerB");
    pickerB->setCurrentIndex(1);
    Q_EMIT pickerB->activated(1);
    EXPECT_EQ(pickerB->currentText().toStdString(), "Current \u2014 Open");
    EXPECT_FALSE(withBoard.revisedURL());
    // A choice reads the offer again: an archive that arrived meanwhile is listed.
    writeZip(folders.downloads / "AAA.zip", {2});
    Q_EMIT pickerB->activated(1);
    EXPECT_EQ(comboTexts(child<QComboBox>(&withBoard, "compare.pickerA"))[1], "AAA.zip");
}

TEST(CompareSheet, MissingRevisionsAndUnreadableArchivesShowInTheErrorLine) {
    UserFolders folders;
    writeZip(folders.downloads / "b.zip", {5});
    writeText(folders.downloads / "x", "hello");
    ScopedServices services;
    PanelFixture f;
    CompareSheet sheet(f.model.get());
    sheet.show();
    auto* error = child<QLabel>(&sheet, "compare.error");
    sheet.run();
    EXPECT_EQ(text(error), "Choose Revision A");
    EXPECT_FALSE(sheet.busy());

    services->zipAnswer = [&](QWidget*) { return std::optional<fs::path>(folders.downloads / "x"); };
    child<QPushButton>(&sheet, "compare.chooseA")->click();
    // Not among the offered archives: the picker shows it all the same.
    EXPECT_EQ(child<QComboBox>(&sheet, "compare.pickerA")->currentText(), "x");
    sheet.run();
    EXPECT_EQ(text(error), "Choose Revision B");

    sheet.setRevisedURL(folders.downloads / "b.zip");
    EXPECT_EQ(child<QComboBox>(&sheet, "compare.pickerB")->currentText(), "b.zip");
    sheet.run();
    EXPECT_TRUE(sheet.busy());
    EXPECT_FALSE(child<QPushButton>(&sheet, "compare.compare")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.busy(), 20000);
    EXPECT_EQ(text(error), "Could not import: 'x' is not a ZIP archive.");
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_FALSE(f.model->compareDiff());

    // A cancelled chooser clears the choice.
    services->zipAnswer = [](QWidget*) { return std::optional<fs::path>(); };
    child<QPushButton>(&sheet, "compare.chooseA")->click();
    EXPECT_FALSE(sheet.baseURL());
    EXPECT_EQ(child<QComboBox>(&sheet, "compare.pickerA")->currentIndex(), 0);
}

TEST(CompareSheet, SuccessComparesClosesAndShowsDifferences) {
    UserFolders folders;
    writeZip(folders.downloads / "RevA.zip", {5, 8});
    writeZip(folders.downloads / "RevB.zip", {5, 9, 12});
    PanelFixture f;
    SidebarView sidebar(f.model.get());
    QPointer<CompareSheet> sheet = new CompareSheet(f.model.get());
    sheet->show();
    auto* a = child<QComboBox>(sheet.data(), "compare.pickerA");
    auto* b = child<QComboBox>(sheet.data(), "compare.pickerB");
    a->setCurrentIndex(1);
    Q_EMIT a->activated(1);
    b->setCurrentIndex(2);
    Q_EMIT b->activated(2);
    ASSERT_EQ(sheet->baseURL()->filename(), "RevA.zip");
    ASSERT_EQ(sheet->revisedURL()->filename(), "RevB.zip");
    child<QPushButton>(sheet.data(), "compare.compare")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!sheet || !sheet->isVisible(), 20000);
    ASSERT_TRUE(f.model->compareDiff());
    EXPECT_EQ(f.model->compareBaseName(), "RevA");
    EXPECT_EQ(f.model->package()->name, "RevB");
    EXPECT_EQ(f.model->statusMessage().rfind("Compare RevA \u2192 RevB: ", 0), 0u) << f.model->statusMessage();
    EXPECT_FALSE(child(&sidebar, "sidebar.differencesHeader")->isHidden());
    EXPECT_TRUE(sidebar.compareRow("Top Copper"));
}

// The pickers name the files chosen, from the list or through "Choose A…" / "Choose B…", and keep naming them
// while the comparison reads them; they cannot be changed under a running comparison.
TEST(CompareSheet, ThePickersShowTheChosenFilesBeforeAndWhileItRuns) {
    UserFolders folders;
    writeZip(folders.downloads / "Listed.zip", {5});
    QTemporaryDir elsewhere;
    const fs::path a = fs::path(elsewhere.path().toStdString()) / "card-RevA.zip";
    const fs::path b = fs::path(elsewhere.path().toStdString()) / "card-RevB.zip";
    writeZip(a, {5, 8});
    writeZip(b, {5, 9, 12});
    ScopedServices services;
    std::deque<fs::path> answers{a, b};
    services->zipAnswer = [&](QWidget*) {
        const fs::path next = answers.front();
        answers.pop_front();
        return std::optional<fs::path>(next);
    };
    PanelFixture f;
    QPointer<CompareSheet> sheet = new CompareSheet(f.model.get());
    sheet->show();
    auto* pickerA = child<QComboBox>(sheet.data(), "compare.pickerA");
    auto* pickerB = child<QComboBox>(sheet.data(), "compare.pickerB");
    child<QPushButton>(sheet.data(), "compare.chooseA")->click();
    EXPECT_EQ(pickerA->currentText(), "card-RevA.zip");
    EXPECT_EQ(pickerB->currentText(), "Choose file\u2026");
    child<QPushButton>(sheet.data(), "compare.chooseB")->click();
    EXPECT_EQ(pickerA->currentText(), "card-RevA.zip");
    EXPECT_EQ(pickerB->currentText(), "card-RevB.zip");
    EXPECT_EQ(comboTexts(pickerA)[1], "Listed.zip");  // the offered archives stay offered

    QSignalSpy diff(f.model.get(), &AppModel::compareDiffChanged);
    sheet->run();
    ASSERT_TRUE(sheet->busy());
    for (QWidget* w : std::initializer_list<QWidget*>{pickerA, pickerB, child(sheet.data(), "compare.chooseA"),
                                                       child(sheet.data(), "compare.chooseB")})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    while (sheet && sheet->busy()) {
        EXPECT_EQ(pickerA->currentText(), "card-RevA.zip");
        EXPECT_EQ(pickerB->currentText(), "card-RevB.zip");
        QTest::qWait(5);
    }
    ASSERT_TRUE(diff.count() > 0 || diff.wait(20000));
    EXPECT_EQ(f.model->revisionTitles()[0], "Revision A \u2014 card-RevA");
    EXPECT_EQ(f.model->revisionTitles()[1], "Revision B \u2014 card-RevB");
}

TEST(CompareSheet, WithABoardOpenRevisionBIsThatBoardAndCancelDropsTheRun) {
    UserFolders folders;
    writeZip(folders.downloads / "RevA.zip", {5, 8});
    writeZip(folders.downloads / "Other.zip", {1});
    PanelFixture f;
    f.model->loadPackage(sampleBoard("Open"));
    const auto open = f.model->package();

    QPointer<CompareSheet> cancelled = new CompareSheet(f.model.get());
    cancelled->show();
    cancelled->setBaseURL(folders.downloads / "RevA.zip");
    cancelled->run();
    child<QPushButton>(cancelled.data(), "compare.cancel")->click();
    QTest::qWait(300);
    QCoreApplication::processEvents();
    EXPECT_FALSE(f.model->compareDiff());
    EXPECT_EQ(f.model->package(), open);

    QPointer<CompareSheet> sheet = new CompareSheet(f.model.get());
    sheet->show();
    sheet->setBaseURL(folders.downloads / "RevA.zip");
    sheet->setRevisedURL(folders.downloads / "Other.zip");
    sheet->run();
    QTRY_VERIFY_WITH_TIMEOUT(!sheet || !sheet->isVisible(), 20000);
    ASSERT_TRUE(f.model->compareDiff());
    EXPECT_EQ(f.model->package(), open);
    EXPECT_EQ(f.model->compareBase()->name, "RevA");
}

TEST(WorkspaceSheet, StoreProposesNextRevisionsAndDeletingTheLastDropsTheProject) {
    UserFolders folders;
    writeZip(folders.downloads / "Board.zip", {5});
    ScopedServices services;
    std::vector<std::string> proposed;
    services->storeAnswer = [&](QWidget*, const std::string& project, const std::string& revision) {
        proposed.push_back(project + "/" + revision);
        return std::optional<StoreNames>(StoreNames{project, revision});
    };
    PanelFixture f;
    WorkspaceSheet sheet(f.model.get());
    EXPECT_FALSE(child<QPushButton>(&sheet, "workspace.add")->isEnabled());
    EXPECT_FALSE(child(&sheet, "workspace.empty")->isHidden());

    ASSERT_TRUE(importAndWait(*f.model, folders.downloads / "Board.zip"));
    EXPECT_TRUE(child<QPushButton>(&sheet, "workspace.add")->isEnabled());
    for (int i = 0; i < 2; ++i) {
        QSignalSpy stored(&sheet, &WorkspaceSheet::storeFinished);
        child<QPushButton>(&sheet, "workspace.add")->click();
        ASSERT_TRUE(stored.wait(20000));
        EXPECT_TRUE(stored.front().front().toBool()) << f.model->statusMessage();
    }
    EXPECT_EQ(proposed, (std::vector<std::string>{"Board/Rev A", "Board/Rev B"}));
    ASSERT_EQ(sheet.projects().size(), 1u);
    ASSERT_EQ(sheet.projects()[0].revisions.size(), 2u);
    EXPECT_TRUE(child(&sheet, "workspace.empty")->isHidden());
    EXPECT_EQ(sheet.nextRevName("Board"), "Rev C");
    EXPECT_EQ(sheet.nextRevName("board"), "Rev A");

    // "Open" imports the stored archive and keeps the sheet open.
    sheet.show();
    QSignalSpy imported(f.model.get(), &AppModel::importFinished);
    sheet.findChildren<QPushButton*>("workspace.open")[0]->click();
    ASSERT_TRUE(imported.wait(20000));
    EXPECT_TRUE(imported.front().front().toBool()) << f.model->statusMessage();
    EXPECT_TRUE(sheet.isVisible());

    sheet.findChildren<QPushButton*>("workspace.delete")[0]->click();
    ASSERT_EQ(sheet.projects()[0].revisions.size(), 1u);
    sheet.findChildren<QPushButton*>("workspace.delete")[0]->click();
    EXPECT_TRUE(sheet.projects().empty());
    EXPECT_FALSE(child(&sheet, "workspace.empty")->isHidden());
}

TEST(WorkspaceSheet, ZipFolderAndSingleGerberRevisionsReopenWithTheSameFiles) {
    UserFolders folders;
    const fs::path root = folders.downloads / "sources";
    writeZip(root / "Zipped.zip", {5, 7});
    for (const auto& [name, data] : revisionEntries({3})) atomicWriteFile((fs::create_directories(root / "Folder" / "gerbers"), root / "Folder" / "gerbers" / name), data);
    writeText(root / "single-F_Cu.gbr", copperGerber({4}));
    ScopedServices services;
    services->storeAnswer = [](QWidget*, const std::string& project, const std::string& revision) {
        return std::optional<StoreNames>(StoreNames{project, revision});
    };
    PanelFixture f;
    WorkspaceSheet sheet(f.model.get());
    for (const fs::path& source : {root / "Zipped.zip", root / "Folder", root / "single-F_Cu.gbr"}) {
        ASSERT_TRUE(importAndWait(*f.model, source)) << source << ": " << f.model->statusMessage();
        const auto before = fileHashes(*f.model->package());
        QSignalSpy stored(&sheet, &WorkspaceSheet::storeFinished);
        sheet.addCurrent();
        ASSERT_TRUE(stored.wait(20000));
        ASSERT_TRUE(stored.front().front().toBool()) << source << ": " << f.model->statusMessage();
        const auto& projects = sheet.projects();
        const auto project = std::find_if(projects.begin(), projects.end(),
                                          [&](const ProjectEntry& p) { return p.name == f.model->package()->name; });
        ASSERT_NE(project, projects.end());
        const PCBPackage reopened = PackageImporter().importAny(f.model->revisionStore().archiveURL(project->revisions.back()));
        EXPECT_EQ(fileHashes(reopened), before) << source;
    }
    // A folder whose file changed after it was opened is not stored as if it were the reviewed board.
    ASSERT_TRUE(importAndWait(*f.model, root / "Folder"));
    writeText(root / "Folder" / "gerbers" / "board.drl", "M48\nMETRIC\nT1C0.500\n%\nT1\nX1.0Y1.0\nM30\n");
    QSignalSpy stored(&sheet, &WorkspaceSheet::storeFinished);
    sheet.addCurrent();
    ASSERT_TRUE(stored.wait(20000));
    EXPECT_FALSE(stored.front().front().toBool());
    EXPECT_EQ(f.model->statusMessage(), "Store failed: 'board.drl' has changed since the board was opened.");
}

TEST(WorkspaceSheet, BoardsWithoutAStorableSourceAreRefused) {
    UserFolders folders;
    ScopedServices services;
    services->storeAnswer = [](QWidget*, const std::string& project, const std::string& revision) {
        return std::optional<StoreNames>(StoreNames{project, revision});
    };
    PanelFixture f;
    WorkspaceSheet sheet(f.model.get());
    const fs::path kicad = folders.downloads / "demo.kicad_pcb";
    writeText(kicad, "(kicad_pcb (version 20221018) (generator pcbnew)\n"
                     "  (layers (0 \"F.Cu\" signal) (31 \"B.Cu\" signal) (44 \"Edge.Cuts\" user))\n"
                     "  (segment (start 1 1) (end 10 1) (width 0.25) (layer \"F.Cu\") (net 0))\n"
                     "  (gr_rect (start 0 0) (end 20 10) (layer \"Edge.Cuts\") (width 0.1))\n)\n");
    ASSERT_TRUE(importAndWait(*f.model, kicad)) << f.model->statusMessage();
    QSignalSpy stored(&sheet, &WorkspaceSheet::storeFinished);
    sheet.addCurrent();
    ASSERT_TRUE(stored.wait(20000));
    EXPECT_FALSE(stored.front().front().toBool());
    EXPECT_EQ(f.model->statusMessage(), "Store failed: only ZIP, folder or Gerber/drill boards can be stored.");
    EXPECT_TRUE(sheet.projects().empty());

    f.model->loadPackage(sampleBoard("memory"));  // built in memory: no source at all
    QSignalSpy again(&sheet, &WorkspaceSheet::storeFinished);
    sheet.addCurrent();
    ASSERT_TRUE(again.wait(20000));
    EXPECT_EQ(f.model->statusMessage(), "Store failed: only ZIP, folder or Gerber/drill boards can be stored.");
}

TEST(WorkspaceSheet, StoreDialogNeedsBothNames) {
    StoreRevisionDialog dialog("Board", "Rev A");
    EXPECT_TRUE(dialog.storeButton()->isEnabled());
    EXPECT_LT(dialog.projectField()->y(), dialog.revisionField()->y() + 1);
    dialog.revisionField()->clear();
    EXPECT_FALSE(dialog.storeButton()->isEnabled());
    dialog.revisionField()->setText("Rev B");
    dialog.projectField()->clear();
    EXPECT_FALSE(dialog.storeButton()->isEnabled());
}

TEST(Gallery, CompareAndWorkspaceSheetsLookRight) {
    UserFolders folders;
    writeZip(folders.downloads / "RevA.zip", {5});
    PanelFixture f;
    f.model->loadPackage(sampleBoard("ESP32"));
    CompareSheet compare(f.model.get());
    compare.show();
    expectLooksRight(&compare, "sheet-compare");
    WorkspaceSheet workspace(f.model.get());
    workspace.show();
    expectLooksRight(&workspace, "sheet-workspace");
}
