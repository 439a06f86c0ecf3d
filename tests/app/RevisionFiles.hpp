#pragma once
// Small revision pairs written by the tests: Gerber and Excellon text, zipped by the core's writer, and
// private Downloads and workspace folders emptied around each test.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QStandardPaths>

#include "store/RevisionStore.hpp"
#include "io/FileIO.hpp"
#include "io/VellZipWriter.hpp"
#include "dialogs/UIServices.hpp"

namespace corvane::testing {

namespace fs = std::filesystem;

inline std::vector<std::uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

// A top copper layer with one track per given end x (mm), and an outline 20 x 10 mm.
inline std::string copperGerber(const std::vector<int>& ends) {
    std::string g = "%FSLAX46Y46*%\n%MOMM*%\n%TF.FileFunction,Copper,L1,Top*%\n%ADD10C,0.200000*%\nD10*\n";
    int y = 1;
    for (int x : ends) {
        g += "X1000000Y" + std::to_string(y * 1000000) + "D02*\n";
        g += "X" + std::to_string(x * 1000000) + "Y" + std::to_string(y * 1000000) + "D01*\n";
        ++y;
    }
    return g + "M02*\n";
}

inline std::string outlineGerber() {
    return "%FSLAX46Y46*%\n%MOMM*%\n%TF.FileFunction,Profile,NP*%\n%ADD10C,0.100000*%\nD10*\n"
           "X0Y0D02*\nX20000000Y0D01*\nX20000000Y10000000D01*\nX0Y10000000D01*\nX0Y0D01*\nM02*\n";
}

inline std::string drillText() { return "M48\nMETRIC\nT1C0.300\n%\nT1\nX2.0Y2.0\nX4.0Y2.0\nM30\n"; }

inline std::vector<VellZipWriter::Entry> revisionEntries(const std::vector<int>& tracks) {
    return {{"board-F_Cu.gbr", bytes(copperGerber(tracks))},
            {"board-Edge_Cuts.gbr", bytes(outlineGerber())},
            {"board.drl", bytes(drillText())}};
}

inline void writeZip(const fs::path& path, const std::vector<int>& tracks) {
    fs::create_directories(path.parent_path());
    atomicWriteFile(path, VellZipWriter::archive(revisionEntries(tracks)));
}

inline void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    atomicWriteFile(path, bytes(text));
}

// Empties the user's Downloads and workspace folders (private to the test program) before and after a test.
struct UserFolders {
    fs::path downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation).toStdString();
    fs::path workspace = RevisionStore::defaultDirectory().value();
    UserFolders() { clear(); }
    ~UserFolders() { clear(); }
    void clear() {
        std::error_code ec;
        fs::remove_all(workspace, ec);
        fs::remove_all(downloads, ec);
        fs::create_directories(downloads, ec);
    }
};

// Answers the sheets' dialogs from the test and records the files it was asked to open.
class SheetScript : public UIServices {
public:
    std::function<std::optional<fs::path>(QWidget*)> zipAnswer = [](QWidget*) { return std::optional<fs::path>(); };
    std::function<std::optional<fs::path>(QWidget*, const QString&)> reportPathAnswer = [](QWidget*, const QString&) {
        return std::optional<fs::path>();
    };
    std::function<std::optional<StoreNames>(QWidget*, const std::string&, const std::string&)> storeAnswer =
        [](QWidget*, const std::string&, const std::string&) { return std::optional<StoreNames>(); };
    std::vector<fs::path> opened;

    std::optional<fs::path> chooseZip(QWidget* parent) override { return zipAnswer(parent); }
    std::optional<fs::path> chooseReportPath(QWidget* parent, const QString& proposed) override {
        return reportPathAnswer(parent, proposed);
    }
    std::optional<StoreNames> askStoreNames(QWidget* parent, const std::string& project, const std::string& revision) override {
        return storeAnswer(parent, project, revision);
    }
    void openFile(const fs::path& file) override { opened.push_back(file); }
};

// Installs a script for the life of the fixture.
struct ScopedServices {
    SheetScript* script;
    ScopedServices() {
        auto owned = std::make_unique<SheetScript>();
        script = owned.get();
        UIServices::install(std::move(owned));
    }
    ~ScopedServices() { UIServices::install(nullptr); }
    SheetScript* operator->() { return script; }
};

} // namespace corvane::testing
