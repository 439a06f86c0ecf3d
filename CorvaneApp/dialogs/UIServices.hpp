#pragma once
// Every modal dialog of the main window goes through one replaceable service, so that tests can answer
// them without anything blocking and scripts never meet a dialog.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <QFileDialog>
#include <QString>

class QWidget;

namespace corvane {

struct StoreNames {
    std::string project;
    std::string revision;
};

class UIServices {
public:
    virtual ~UIServices() = default;

    // Asks for a package: a file or a folder. Nothing when the user cancels.
    virtual std::optional<std::filesystem::path> chooseImportPath(QWidget* parent, const QString& message);
    // A modal alert with one button.
    virtual void alert(QWidget* parent, const QString& message, const QString& informativeText);
    // Asks for one ZIP archive (compare sheet).
    virtual std::optional<std::filesystem::path> chooseZip(QWidget* parent);
    // Asks where to save the PDF report, proposing `proposedName`.
    virtual std::optional<std::filesystem::path> chooseReportPath(QWidget* parent, const QString& proposedName);
    // The "Store revision" dialog: project and revision names, or nothing when not stored.
    virtual std::optional<StoreNames> askStoreNames(QWidget* parent, const std::string& project, const std::string& revision);
    // Opens a file in the desktop's viewer for it.
    virtual void openFile(const std::filesystem::path& file);

    // The service in use; the interactive one until a test installs its own.
    static UIServices& current();
    // Installs `service` (null restores the interactive one).
    static void install(std::unique_ptr<UIServices> service);
};

// The open dialog for packages. A plain file dialog enters a folder when asked to open it; this one takes the
// folder as the choice, as the package importer reads folders too.
class PackageFileDialog : public QFileDialog {
    Q_OBJECT
public:
    PackageFileDialog(QWidget* parent, const QString& message);
    // The chosen file or folder once the dialog was accepted.
    std::optional<std::filesystem::path> chosenPath() const;

public Q_SLOTS:
    void accept() override;

private:
    QString chosenFolder_;
};

} // namespace corvane
