#pragma once
// Shared pieces of the window tests: a delegate with private settings, scripted dialogs, and small packages
// written to disk.
#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QColor>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "AppTestSupport.hpp"
#include "canvas/CanvasTransform.hpp"
#include "app/AppDelegate.hpp"
#include "dialogs/UIServices.hpp"
#include "io/VellZipWriter.hpp"

namespace corvane::testing {

// Answers the dialogs from a script and records what they showed.
class ScriptedServices : public UIServices {
public:
    struct Alert {
        std::string message, informative;
    };
    std::deque<std::optional<std::filesystem::path>> importAnswers;
    std::vector<std::string> importMessages;
    std::vector<Alert> alerts;

    std::optional<std::filesystem::path> chooseImportPath(QWidget*, const QString& message) override {
        importMessages.push_back(message.toStdString());
        if (importAnswers.empty()) return std::nullopt;
        auto answer = importAnswers.front();
        importAnswers.pop_front();
        return answer;
    }
    void alert(QWidget*, const QString& message, const QString& informative) override {
        alerts.push_back({message.toStdString(), informative.toStdString()});
    }
};

// Installs scripted dialogs for the life of the fixture.
struct ScriptedDialogs {
    ScriptedServices* services;
    ScriptedDialogs() {
        auto owned = std::make_unique<ScriptedServices>();
        services = owned.get();
        UIServices::install(std::move(owned));
    }
    ~ScriptedDialogs() { UIServices::install(nullptr); }
};

// A small two-layer board as a ZIP archive: outline 40 × 30 mm, one track and a pad on top copper.
inline std::vector<std::uint8_t> boardZip() {
    auto bytes = [](const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
    const std::string header = "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.200*%\n%ADD11C,1.500*%\n";
    const std::string outline = header + "%TF.FileFunction,Profile,NP*%\nD10*\nX0Y0D02*\nX40000000Y0D01*\n"
                                         "X40000000Y30000000D01*\nX0Y30000000D01*\nX0Y0D01*\nM02*\n";
    const std::string copper = header + "%TF.FileFunction,Copper,L1,Top*%\nD10*\nX5000000Y5000000D02*\n"
                                        "X20000000Y5000000D01*\nD11*\nX10000000Y10000000D03*\nM02*\n";
    return VellZipWriter::archive({{"board-Edge_Cuts.gbr", bytes(outline)}, {"board-F_Cu.gbr", bytes(copper)}});
}

// A board whose picture tells orientation, drawing order and negative planes apart (millimetres):
// outline (0, 0)-(40, 30); top copper a 6 mm square at (11, 23); bottom copper a 2 mm square beneath it and
// another at (34, 5); a negative top mask with a 3 mm opening at (30, 20).
inline std::vector<std::uint8_t> probeBoardZip() {
    auto bytes = [](const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
    const std::string header = "%FSLAX46Y46*%\n%MOMM*%\n";
    const std::string outline = header + "%TF.FileFunction,Profile,NP*%\n%ADD10C,0.200*%\nD10*\nX0Y0D02*\n"
                                         "X40000000Y0D01*\nX40000000Y30000000D01*\nX0Y30000000D01*\nX0Y0D01*\nM02*\n";
    const std::string top = header + "%TF.FileFunction,Copper,L1,Top*%\n%ADD10R,6.000X6.000*%\nD10*\n"
                                     "X11000000Y23000000D03*\nM02*\n";
    const std::string bottom = header + "%TF.FileFunction,Copper,L2,Bot*%\n%ADD10R,2.000X2.000*%\nD10*\n"
                                        "X11000000Y23000000D03*\nX34000000Y5000000D03*\nM02*\n";
    const std::string mask = header + "%TF.FileFunction,Soldermask,Top*%\n%TF.FilePolarity,Negative*%\n"
                                      "%ADD10C,3.000*%\nD10*\nX30000000Y20000000D03*\nM02*\n";
    return VellZipWriter::archive({{"probe-Edge_Cuts.gbr", bytes(outline)},
                                   {"probe-F_Cu.gbr", bytes(top)},
                                   {"probe-B_Cu.gbr", bytes(bottom)},
                                   {"probe-F_Mask.gbr", bytes(mask)}});
}

// The colour at a board point of a canvas picture fitted to the probe board (as the first fit places it):
// the median of a 5 × 5 patch, so a one-pixel grid line does not decide it.
inline QColor probeBoardPixel(const QImage& image, Vec2 board) {
    const BBox box{-0.1, -0.1, 40.1, 30.1};
    const double dpr = image.devicePixelRatio();
    const double w = image.width() / dpr, h = image.height() / dpr;
    CameraState camera;
    camera.center = Vec2{(box.minX + box.maxX) / 2, (box.minY + box.maxY) / 2};
    camera.pxPerMM = std::min(w / (1.6 * box.width()), h / (1.6 * box.height()));
    const Vec2 v = CanvasTransform(w, h, camera).toView(board);
    std::vector<QColor> patch;
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            patch.push_back(image.pixelColor(static_cast<int>(v.x * dpr) + dx, static_cast<int>(v.y * dpr) + dy));
    std::sort(patch.begin(), patch.end(), [](const QColor& a, const QColor& b) { return a.lightness() < b.lightness(); });
    return patch[patch.size() / 2];
}

inline int colourDistance(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

// The checks every picture of the probe board must pass, whichever canvas drew it.
inline void expectProbeBoard(const QImage& image) {
    const QColor background = probeBoardPixel(image, {-8, -8});
    const QColor topOnly = probeBoardPixel(image, {8.8, 25.2});
    const QColor topOverBottom = probeBoardPixel(image, {11, 23});
    const QColor bottomOnly = probeBoardPixel(image, {34, 5});
    const QColor maskOpening = probeBoardPixel(image, {30, 20});
    const QColor maskOnly = probeBoardPixel(image, {24, 26});
    // Seen from the top, bottom copper lies beneath top copper.
    EXPECT_LE(colourDistance(topOverBottom, topOnly), 12);
    EXPECT_GT(colourDistance(topOnly, bottomOnly), 60);
    // Board +y is up: the top copper square is in the upper left, not mirrored or flipped.
    EXPECT_GT(colourDistance(topOnly, probeBoardPixel(image, {40 - 8.8, 25.2})), 60);
    EXPECT_GT(colourDistance(topOnly, probeBoardPixel(image, {8.8, 30 - 25.2})), 60);
    // The negative mask covers the board except where its features are.
    EXPECT_GT(colourDistance(maskOnly, background), 30);
    EXPECT_LE(colourDistance(maskOpening, background), 12);
}

#ifdef CORVANE_TEST_DATA
// A real two-layer board as its maker published it (Particle's "core", CC BY-SA 4.0, see its LICENSE):
// copper, mask, paste and silkscreen of both sides, a mill file and an Excellon drill file. `files` picks
// some of "core.GTL", "core.GBL", "core.GTS", "core.GBS", "core.GTP", "core.GBP", "core.GTO", "core.GBO",
// "core.MIL", "core.TXT"; none means all. `extra` entries are added as given.
inline std::vector<std::uint8_t> realBoardZip(std::vector<std::string> files = {},
                                              std::vector<VellZipWriter::Entry> extra = {}) {
    const std::filesystem::path folder = std::filesystem::path(CORVANE_TEST_DATA) / "boards" / "particle-core";
    if (files.empty())
        files = {"core.GTL", "core.GBL", "core.GTS", "core.GBS", "core.GTP",
                 "core.GBP", "core.GTO", "core.GBO", "core.MIL", "core.TXT"};
    std::vector<VellZipWriter::Entry> entries;
    for (const auto& name : files) {
        QFile f(QString::fromStdString((folder / name).string()));
        if (!f.open(QIODevice::ReadOnly)) return {};
        const QByteArray bytes = f.readAll();
        entries.push_back({name, std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
    }
    for (auto& e : extra) entries.push_back(std::move(e));
    return VellZipWriter::archive(entries);
}
#endif

inline void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& data) {
    QFile f(QString::fromStdString(path.string()));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<qint64>(data.size()));
}

inline std::filesystem::path writeAndReturn(const std::filesystem::path& path, const std::vector<std::uint8_t>& data) {
    writeFile(path, data);
    return path;
}

inline std::filesystem::path folderPath(const QTemporaryDir& dir) { return std::filesystem::path(dir.path().toStdString()); }

} // namespace corvane::testing
