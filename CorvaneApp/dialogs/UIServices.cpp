#include "dialogs/UIServices.hpp"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

#include "dialogs/StoreRevisionDialog.hpp"

namespace corvane {

namespace {
std::unique_ptr<UIServices>& installed() {
    static std::unique_ptr<UIServices> service = std::make_unique<UIServices>();
    return service;
}

std::filesystem::path toPath(const QString& text) { return std::filesystem::path(text.toStdString()); }
} // namespace

UIServices& UIServices::current() { return *installed(); }

void UIServices::install(std::unique_ptr<UIServices> service) {
    installed() = service ? std::move(service) : std::make_unique<UIServices>();
}

std::optional<std::filesystem::path> UIServices::chooseImportPath(QWidget* parent, const QString& message) {
    PackageFileDialog dialog(parent, message);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.chosenPath();
}

void UIServices::alert(QWidget* parent, const QString& message, const QString& informativeText) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Information);
    box.setText(message);
    box.setInformativeText(informativeText);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

std::optional<std::filesystem::path> UIServices::chooseZip(QWidget* parent) {
    const QString file =
        QFileDialog::getOpenFileName(parent, QStringLiteral("Choose a ZIP package"), QString(), QStringLiteral("ZIP archives (*.zip *.ZIP)"));
    if (file.isEmpty()) return std::nullopt;
    return toPath(file);
}

std::optional<std::filesystem::path> UIServices::chooseReportPath(QWidget* parent, const QString& proposedName) {
    QFileDialog dialog(parent, QStringLiteral("Export PDF Report"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("PDF documents (*.pdf)"));
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    dialog.selectFile(proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return toPath(dialog.selectedFiles().front());
}

std::optional<StoreNames> UIServices::askStoreNames(QWidget* parent, const std::string& project, const std::string& revision) {
    StoreRevisionDialog dialog(project, revision, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.names();
}

void UIServices::openFile(const std::filesystem::path& file) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.string())));
}

PackageFileDialog::PackageFileDialog(QWidget* parent, const QString& message) : QFileDialog(parent) {
    // The native dialogs cannot choose "a file or a folder" in one go.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setNameFilters({QStringLiteral("ZIP archives and other files (*)"), QStringLiteral("ZIP archives (*.zip)")});
    setWindowTitle(message);
}

void PackageFileDialog::accept() {
    const QStringList files = selectedFiles();
    if (files.size() == 1 && QFileInfo(files.front()).isDir()) {
        chosenFolder_ = files.front();
        QDialog::accept();
        return;
    }
    QFileDialog::accept();
}

std::optional<std::filesystem::path> PackageFileDialog::chosenPath() const {
    if (result() != QDialog::Accepted) return std::nullopt;
    if (!chosenFolder_.isEmpty()) return toPath(chosenFolder_);
    const QStringList files = selectedFiles();
    if (files.isEmpty() || files.front().isEmpty()) return std::nullopt;
    return toPath(files.front());
}

} // namespace corvane
