#pragma once
// The dialogs and outside programs the sheets reach: file choosers, the store dialog, opening a file in
// its viewer and the board picture. Tests replace them, so nothing modal blocks and no viewer starts.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include <QDialog>
#include <QImage>

class QLineEdit;
class QPushButton;

namespace corvane {

class AppModel;

struct StoreNames {
    std::string project;
    std::string revision;
};

struct SheetServices {
    std::function<std::optional<std::filesystem::path>(QWidget* parent)> chooseZip;
    std::function<std::optional<std::filesystem::path>(QWidget* parent, const QString& proposedName)> chooseReportFile;
    std::function<std::optional<StoreNames>(QWidget* parent, const std::string& project, const std::string& revision)>
        askStoreNames;
    std::function<void(const std::filesystem::path& file)> openFile;
    // The board picture for the report at the given scale; a null image when none can be drawn.
    std::function<QImage(AppModel& model, double scale)> makeImage;

    // The services in use; the real dialogs until something replaces them.
    static SheetServices& shared();
    static SheetServices platform();
};

// "Store revision": the project name above the revision name; "Store" only while both are filled in.
class StoreRevisionDialog : public QDialog {
    Q_OBJECT
public:
    StoreRevisionDialog(const std::string& project, const std::string& revision, QWidget* parent = nullptr);
    StoreNames names() const;
    QLineEdit* projectField() const { return project_; }
    QLineEdit* revisionField() const { return revision_; }
    QPushButton* storeButton() const { return store_; }

private:
    QLineEdit* project_ = nullptr;
    QLineEdit* revision_ = nullptr;
    QPushButton* store_ = nullptr;
};

} // namespace corvane
