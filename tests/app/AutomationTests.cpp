// The automation hooks: the delay rule, and the program run from outside as a script would run it, with a
// fresh configuration folder each time.
#include <gtest/gtest.h>

#include <cmath>
#include <climits>
#include <limits>

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "WindowTestSupport.hpp"
#include "app/AutomationHooks.hpp"

namespace corvane::testing {
namespace {

TEST(CaptureDelay, TheWholeTextMustBeOneNumber) {
    EXPECT_EQ(captureDelaySeconds(std::nullopt), 4.0);
    EXPECT_EQ(captureDelaySeconds("2.5"), 2.5);
    EXPECT_EQ(captureDelaySeconds("+2"), 2.0);
    EXPECT_EQ(captureDelaySeconds("1e1"), 10.0);
    for (const char* bad : {"", " 2", "2 ", "2s", "+", "+-2", "++2", "0x10", "two", "2,5"})
        EXPECT_EQ(captureDelaySeconds(std::string(bad)), 4.0) << '"' << bad << '"';
}

TEST(CaptureDelay, NegativeNaNAndHugeValuesHaveSafeMeanings) {
    EXPECT_EQ(captureDelaySeconds("-3"), 0.0);
    EXPECT_EQ(captureDelaySeconds("-inf"), 0.0);
    EXPECT_EQ(captureDelaySeconds("nan"), 4.0);
    EXPECT_TRUE(std::isinf(captureDelaySeconds("inf")));
    EXPECT_TRUE(std::isinf(captureDelaySeconds("1e400")));
    EXPECT_EQ(captureDelaySeconds("1e-400"), 0.0);
    EXPECT_EQ(captureDelaySeconds("-1e400"), 0.0);

    EXPECT_EQ(captureDelayMilliseconds(2.5), 2500);
    EXPECT_EQ(captureDelayMilliseconds(0), 0);
    EXPECT_EQ(captureDelayMilliseconds(std::numeric_limits<double>::infinity()), INT_MAX);
    EXPECT_EQ(captureDelayMilliseconds(3e6), INT_MAX);  // past the timer's range
}

#ifdef CORVANE_PROGRAM

struct ProgramRun {
    int exitCode = -1;
    bool finished = false;
    std::vector<std::string> lines;  // standard error, our lines only
    bool has(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
};

// Runs the program with `variables` set, in a fresh configuration folder, from `workingDirectory`.
struct Launcher {
    QTemporaryDir home;
    QString configFolder() const { return home.filePath("config"); }
    QString settingsFile() const { return configFolder() + "/Corvane/Corvane.conf"; }

    ProgramRun run(const std::vector<std::pair<QString, QString>>& variables, int timeoutMs = 30000,
            const QString& workingDirectory = QString()) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"CORVANE_IMPORT", "CORVANE_COMPARE_A", "CORVANE_COMPARE_B", "CORVANE_METAL_SNAPSHOT",
                                 "CORVANE_SCREENSHOT", "CORVANE_SCREENSHOT_DELAY"})
            env.remove(name);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", configFolder());
        env.insert("HOME", home.path());
        for (const auto& [k, v] : variables) env.insert(k, v);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(workingDirectory.isEmpty() ? home.path() : workingDirectory);
        process.start(QStringLiteral(CORVANE_PROGRAM), {});
        ProgramRun result;
        if (!process.waitForStarted(10000)) return result;
        result.finished = process.waitForFinished(timeoutMs);
        if (!result.finished) {
            process.kill();
            process.waitForFinished(5000);
        } else {
            result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        }
        for (const QByteArray& line : process.readAllStandardError().split('\n')) {
            const std::string s = line.toStdString();
            // Qt's own diagnostics on the offscreen platform are not ours.
            if (!s.empty() && s.find("QStandardPaths") == std::string::npos && s.find("This plugin") == std::string::npos)
                result.lines.push_back(s);
        }
        return result;
    }
};

std::string readPdfText(const QString& path) {
    QProcess p;
    p.start("pdftotext", {path, "-"});
    if (!p.waitForFinished(20000)) return {};
    return p.readAllStandardOutput().toStdString();
}

std::string pdfInfo(const QString& path) {
    QProcess p;
    p.start("pdfinfo", {path});
    if (!p.waitForFinished(20000)) return {};
    return p.readAllStandardOutput().toStdString();
}

std::string samplePath() { return std::string(CORVANE_SOURCE_DIR) + "/Samples/ESP32_RevA.zip"; }

TEST(AutomationRun, SnapshotOfTheSoftwareCanvasAfterAnImport) {
    Launcher l;
    const QString png = l.home.filePath("shot.png");
    const ProgramRun r = l.run({{"CORVANE_IMPORT", QString::fromStdString(samplePath())},
                         {"CORVANE_METAL_SNAPSHOT", png},
                         {"CORVANE_SCREENSHOT_DELAY", "0.5"}});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"metal available: false",
                                                 "software snapshot written: " + png.toStdString()}));
    const QImage image(png);
    ASSERT_FALSE(image.isNull());
    EXPECT_GT(image.width(), 400);
    EXPECT_GT(image.height(), 400);
}

TEST(AutomationRun, SoftwareSnapshotShowsTheBoardTheRightWayUp) {
    Launcher l;
    const QString zip = l.home.filePath("probe.zip"), png = l.home.filePath("probe.png");
    writeFile(zip.toStdString(), probeBoardZip());
    const ProgramRun r = l.run({{"CORVANE_IMPORT", zip}, {"CORVANE_METAL_SNAPSHOT", png}, {"CORVANE_SCREENSHOT_DELAY", "0"}});
    EXPECT_EQ(r.exitCode, 0);
    const QImage image(png);
    ASSERT_FALSE(image.isNull());
    expectProbeBoard(image);
}

TEST(AutomationRun, PdfOfTheWindowContentKeepsItsTextAndSize) {
    Launcher l;
    const QString pdf = l.home.filePath("window.pdf");
    const ProgramRun r = l.run({{"CORVANE_IMPORT", QString::fromStdString(samplePath())},
                         {"CORVANE_SCREENSHOT", pdf},
                         {"CORVANE_SCREENSHOT_DELAY", "0"}});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.lines, std::vector<std::string>{"screenshot written: " + pdf.toStdString()});
    EXPECT_NE(pdfInfo(pdf).find("Page size:       1280 x 820 pts"), std::string::npos) << pdfInfo(pdf);
    const std::string text = readPdfText(pdf);
    // The capture waited for the import: the board is loaded and the welcome panel gone.
    // (pdftotext writes the "fi" of "files" as its ligature)
    EXPECT_NE(text.find("ESP32_RevA.zip \u2014 8 "), std::string::npos) << text;
    EXPECT_EQ(text.find("Drop a manufacturer package .zip here"), std::string::npos);
    EXPECT_NE(text.find("Inspect"), std::string::npos);
}

// With no delay the capture is due at once and fires in the very turn of the event loop in which the last
// result (the checks' report, the comparison) arrives: the rows made from it must be in the picture.
TEST(AutomationRun, ACaptureShowsEveryRowTheImportAndItsChecksMade) {
    Launcher l;
    const QString zip = l.home.filePath("core.zip"), pdf = l.home.filePath("core.pdf");
    // A fabrication note the layer filter leaves out: the package warns of it, and the window says so.
    writeFile(zip.toStdString(), realBoardZip({}, {{"fab-notes.pdf", {'%', 'P', 'D', 'F'}}}));
    const ProgramRun r = l.run({{"CORVANE_IMPORT", zip}, {"CORVANE_SCREENSHOT", pdf}, {"CORVANE_SCREENSHOT_DELAY", "0"}});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0);
    const std::string text = readPdfText(pdf);
    for (const char* name : {"core.GTL", "core.GBL", "core.GTS", "core.GBS", "core.GTP", "core.GBP", "core.GTO",
                             "core.GBO", "core.TXT", "Board Summary", "Smallest Drill"})
        EXPECT_NE(text.find(name), std::string::npos) << name << "\n" << text;
    // The checks' counts and findings, not the line shown before a run has ended.
    EXPECT_NE(text.find("Details"), std::string::npos) << text;
    EXPECT_EQ(text.find("No checks run yet."), std::string::npos) << text;
    // The package's warning, counted in the status bar and the inspector, each time named apart from the
    // checks' warnings.
    const std::size_t first = text.find("1 package warning");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_NE(text.find("1 package warning", first + 1), std::string::npos) << text;
}

TEST(AutomationRun, ACompareCaptureShowsItsRowsAndTheLayerOnlyOneRevisionHas) {
    Launcher l;
    const QString a = l.home.filePath("core-revA.zip"), b = l.home.filePath("core-revB.zip");
    const QString pdf = l.home.filePath("compare.pdf");
    writeFile(a.toStdString(), realBoardZip({"core.GTL", "core.GBL", "core.TXT"}));
    writeFile(b.toStdString(), realBoardZip({"core.GTL", "core.GBL", "core.TXT", "core.GTP"}));
    const ProgramRun r = l.run({{"CORVANE_COMPARE_A", a}, {"CORVANE_COMPARE_B", b}, {"CORVANE_SCREENSHOT", pdf},
                                {"CORVANE_SCREENSHOT_DELAY", "0"}});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0);
    const std::string text = readPdfText(pdf);
    EXPECT_NE(text.find("Compare core-revA \u2192 core-revB: 0 changes"), std::string::npos) << text;
    EXPECT_NE(text.find("Only in core-revB: core.GTP"), std::string::npos) << text;
    // The layer rows fold away for the comparison's rows: each compared layer with its count.
    EXPECT_EQ(text.find("Top Paste \u00B7"), std::string::npos) << text;
    for (const char* shown : {"Top Copper", "Bottom Copper", "Drill", "0 changes"})
        EXPECT_NE(text.find(shown), std::string::npos) << shown << "\n" << text;
    // Both revisions whole, as when compared through the sheet: each one's summary with its drills, and each
    // one's checks, run to the end. Neither has an outline, so their sizes say where they come from.
    const auto count = [&](const std::string& needle) {
        std::size_t n = 0;
        for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
        return n;
    };
    EXPECT_GE(count("Revision A \u2014 core-revA"), 2u) << text;  // summary and checks
    EXPECT_EQ(count("core-revA.zip"), 0u) << text;  // named as revision B is, without ".zip"
    EXPECT_GE(count("Revision B \u2014 core-revB"), 2u) << text;
    EXPECT_EQ(count("Drills"), 2u) << text;
    EXPECT_EQ(count("extent of all layers"), 2u) << text;
    EXPECT_EQ(text.find("No checks run yet."), std::string::npos) << text;
    EXPECT_EQ(text.find("All quick checks passed."), std::string::npos) << text;
}

TEST(AutomationRun, ComparisonShowsItsStatusAndFailuresAreReported) {
    Launcher l;
    const QString pdf = l.home.filePath("compare.pdf");
    const QString sample = QString::fromStdString(samplePath());
    ProgramRun r = l.run({{"CORVANE_COMPARE_A", sample}, {"CORVANE_COMPARE_B", sample}, {"CORVANE_SCREENSHOT", pdf},
                   {"CORVANE_SCREENSHOT_DELAY", "0"}});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(readPdfText(pdf).find("Compare ESP32_RevA \u2192 ESP32_RevA: 0 changes"), std::string::npos)
        << readPdfText(pdf);

    const QString notZip = l.home.filePath("notes.txt");
    writeFile(notZip.toStdString(), {'h', 'i'});
    r = l.run({{"CORVANE_COMPARE_A", notZip}, {"CORVANE_COMPARE_B", sample}, {"CORVANE_SCREENSHOT", pdf},
               {"CORVANE_SCREENSHOT_DELAY", "0"}});
    EXPECT_EQ(r.exitCode, 0);
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[0], "compare failed: Could not import: 'notes.txt' is not a ZIP archive.");

    r = l.run({{"CORVANE_IMPORT", l.home.filePath("missing.zip")}, {"CORVANE_SCREENSHOT", pdf},
               {"CORVANE_SCREENSHOT_DELAY", "0"}});
    EXPECT_EQ(r.exitCode, 0);
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[0].rfind("import failed: ", 0), 0u) << r.lines[0];
    EXPECT_EQ(r.lines[1], "screenshot written: " + pdf.toStdString());
}

TEST(AutomationRun, AnUnwritablePathIsReportedAndNeverClaimedWritten) {
    Launcher l;
    const QString png = l.home.filePath("no/such/folder/shot.png");
    ProgramRun r = l.run({{"CORVANE_METAL_SNAPSHOT", png}, {"CORVANE_SCREENSHOT_DELAY", "0"}});
    EXPECT_EQ(r.exitCode, 5);
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[1], "snapshot write failed: " + png.toStdString() + ": No such file or directory");

    const QString pdf = l.home.filePath("no/such/folder/window.pdf");
    r = l.run({{"CORVANE_SCREENSHOT", pdf}, {"CORVANE_SCREENSHOT_DELAY", "0"}});
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_EQ(r.lines, std::vector<std::string>{"screenshot write failed: " + pdf.toStdString() +
                                                ": No such file or directory"});
}

TEST(AutomationRun, WithBothCapturesThePngEndsTheRun) {
    Launcher l;
    const QString png = l.home.filePath("both.png"), pdf = l.home.filePath("both.pdf");
    const ProgramRun r = l.run({{"CORVANE_METAL_SNAPSHOT", png}, {"CORVANE_SCREENSHOT", pdf}, {"CORVANE_SCREENSHOT_DELAY", "0"}});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.has("software snapshot written: " + png.toStdString()));
    EXPECT_TRUE(QFile::exists(png));
    EXPECT_FALSE(QFile::exists(pdf));
}

TEST(AutomationRun, WithoutACaptureTheProgramKeepsRunning) {
    Launcher l;
    const ProgramRun r = l.run({{"CORVANE_IMPORT", QString::fromStdString(samplePath())}}, 3000);
    EXPECT_FALSE(r.finished);
    EXPECT_TRUE(r.lines.empty());
}

TEST(AutomationRun, AnEmptyDelayMeansFourSecondsAndAnEmptyImportTheWorkingDirectory) {
    Launcher l;
    const QString pdf = l.home.filePath("late.pdf");
    const QString folder = l.home.filePath("gerbers");
    QDir().mkpath(folder);
    writeFile((folder + "/board.zip").toStdString(), boardZip());
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun r = l.run({{"CORVANE_IMPORT", ""}, {"CORVANE_SCREENSHOT", pdf}, {"CORVANE_SCREENSHOT_DELAY", ""}}, 30000,
                        folder);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_GE(seconds, 3.9);
    // The working directory was imported: a folder holding only a ZIP has no Gerber files of its own.
    EXPECT_EQ(r.lines, (std::vector<std::string>{"import failed: No Gerber/Drill files found in the package.",
                                                 "screenshot written: " + pdf.toStdString()}));
}

TEST(AutomationRun, SettingsAreWrittenBeforeTheProcessEnds) {
    Launcher l;
    QDir().mkpath(l.configFolder() + "/Corvane");
    {
        QSettings seed(l.settingsFile(), QSettings::IniFormat);
        seed.setValue("units", "mil");
        seed.setValue("activePreset", "No Such Preset");
    }
    const ProgramRun r = l.run({{"CORVANE_SCREENSHOT", l.home.filePath("s.pdf")}, {"CORVANE_SCREENSHOT_DELAY", "0"}});
    EXPECT_EQ(r.exitCode, 0);
    QSettings after(l.settingsFile(), QSettings::IniFormat);
    EXPECT_EQ(after.value("units").toString(), "mil");
    EXPECT_FALSE(after.contains("activePreset"));  // a name matching no preset is dropped at start
    EXPECT_TRUE(after.value("launchedOnce").toBool());

    {
        QSettings seed(l.settingsFile(), QSettings::IniFormat);
        seed.setValue("activePreset", "PCBWay (editable)");
    }
    l.run({{"CORVANE_SCREENSHOT", l.home.filePath("s.pdf")}, {"CORVANE_SCREENSHOT_DELAY", "0"}});
    QSettings again(l.settingsFile(), QSettings::IniFormat);
    EXPECT_EQ(again.value("activePreset").toString(), "PCBWay (editable)");
}

#endif

} // namespace
} // namespace corvane::testing
