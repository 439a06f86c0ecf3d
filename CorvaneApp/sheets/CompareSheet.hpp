#pragma once
// "Gerber Compare": pick revisions A (old) and B (new) as ZIP packages and start a comparison. With a
// board open, that board is revision B.
#include <filesystem>
#include <optional>
#include <vector>

#include <QPointer>

#include "model/AppModel.hpp"
#include "panels/PanelStyle.hpp"
#include "sheets/SheetFrame.hpp"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace corvane {

struct WorkspaceScanner {
    static constexpr std::size_t maxRecent = 12;
    // At most 12 entries of the Downloads folder whose extension is "zip" in any case, by name.
    static std::vector<std::filesystem::path> recentZipURLs();
};

class CompareSheet : public SheetFrame {
    Q_OBJECT
public:
    explicit CompareSheet(AppModel* model, QWidget* parent = nullptr);

    // Stored revisions in manifest order, then the recent Downloads archives.
    std::vector<std::filesystem::path> recentZips();
    void run();
    bool busy() const { return busy_; }
    const std::optional<std::filesystem::path>& baseURL() const { return baseURL_; }
    const std::optional<std::filesystem::path>& revisedURL() const { return revisedURL_; }
    void setBaseURL(std::optional<std::filesystem::path> url);
    void setRevisedURL(std::optional<std::filesystem::path> url);

private:
    void fillPickers();
    void syncState();
    void finish(AppModel::PackagePtr base, AppModel::PackagePtr revised, std::string baseName,
                std::optional<std::filesystem::path> revisedSource, std::string failure, int runId);
    // The offered archives are read again when the sheet opens and after each choice.
    static void fillPicker(QComboBox* combo, const std::vector<std::filesystem::path>& zips, const QString& current);
    static void selectPath(QComboBox* combo, const std::optional<std::filesystem::path>& url, bool current);

    QPointer<AppModel> model_;
    std::optional<std::filesystem::path> baseURL_;
    std::optional<std::filesystem::path> revisedURL_;
    // Picker B shows the open board's entry (which names no file).
    bool revisedIsCurrent_ = false;
    bool busy_ = false;
    // Bumped by Cancel and by closing, so a run that ends afterwards is dropped.
    int runId_ = 0;
    QComboBox* pickerA_ = nullptr;
    QComboBox* pickerB_ = nullptr;
    QPushButton* chooseA_ = nullptr;
    QPushButton* chooseB_ = nullptr;
    QWidget* currentBlock_ = nullptr;
    ui::WrappedLabel* error_ = nullptr;
    QPushButton* compare_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

} // namespace corvane
