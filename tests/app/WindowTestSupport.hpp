#pragma once
// Shared pieces of the window tests: a delegate with private settings, scripted dialogs, and small packages
// written to disk.
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QFile>
#include <QTemporaryDir>

#include "AppTestSupport.hpp"
#include "app/AppDelegate.hpp"
#include "app/UIServices.hpp"
#include "import/VellZipWriter.hpp"

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

inline void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& data) {
    QFile f(QString::fromStdString(path.string()));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<qint64>(data.size()));
}

inline std::filesystem::path folderPath(const QTemporaryDir& dir) { return std::filesystem::path(dir.path().toStdString()); }

} // namespace corvane::testing
