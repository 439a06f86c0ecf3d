#include "sheets/SheetServices.hpp"

#include <QDesktopServices>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "panels/PanelStyle.hpp"

namespace corvane {

using namespace ui;

SheetServices& SheetServices::shared() {
    static SheetServices services = platform();
    return services;
}

SheetServices SheetServices::platform() {
    SheetServices s;
    s.chooseZip = [](QWidget* parent) -> std::optional<std::filesystem::path> {
        const QString file = QFileDialog::getOpenFileName(parent, "Choose a ZIP package", QString(), "ZIP archives (*.zip *.ZIP)");
        if (file.isEmpty()) return std::nullopt;
        return std::filesystem::path(file.toStdString());
    };
    s.chooseReportFile = [](QWidget* parent, const QString& proposed) -> std::optional<std::filesystem::path> {
        QFileDialog dialog(parent, "Export PDF Report");
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilter("PDF documents (*.pdf)");
        dialog.setDefaultSuffix("pdf");
        dialog.selectFile(proposed);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
        return std::filesystem::path(dialog.selectedFiles().front().toStdString());
    };
    s.askStoreNames = [](QWidget* parent, const std::string& project, const std::string& revision) -> std::optional<StoreNames> {
        StoreRevisionDialog dialog(project, revision, parent);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return dialog.names();
    };
    s.openFile = [](const std::filesystem::path& file) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.string())));
    };
    // The canvas installs its screenshot maker here; until then the report has no picture.
    s.makeImage = [](AppModel&, double) { return QImage(); };
    return s;
}

StoreRevisionDialog::StoreRevisionDialog(const std::string& project, const std::string& revision, QWidget* parent)
    : QDialog(parent) {
    setObjectName("storeRevision");
    setWindowTitle("Store revision");
    auto* v = new QVBoxLayout(this);
    v->addWidget(textLabel("Store revision", headlineFont(), QColor(), this));
    project_ = new QLineEdit(qs(project), this);
    project_->setObjectName("storeRevision.project");
    project_->setFixedWidth(220);
    revision_ = new QLineEdit(qs(revision), this);
    revision_->setObjectName("storeRevision.revision");
    revision_->setFixedWidth(220);
    v->addWidget(project_);
    v->addWidget(revision_);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    store_ = new QPushButton("Store", this);
    store_->setObjectName("storeRevision.store");
    store_->setDefault(true);
    auto* cancel = plainButton("Cancel", this);
    cancel->setObjectName("storeRevision.cancel");
    buttons->addWidget(cancel);
    buttons->addWidget(store_);
    v->addLayout(buttons);
    connect(store_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    const auto sync = [this] { store_->setEnabled(!project_->text().isEmpty() && !revision_->text().isEmpty()); };
    connect(project_, &QLineEdit::textChanged, this, sync);
    connect(revision_, &QLineEdit::textChanged, this, sync);
    sync();
}

StoreNames StoreRevisionDialog::names() const { return StoreNames{ss(project_->text()), ss(revision_->text())}; }

} // namespace corvane
