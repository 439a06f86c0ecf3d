#include "dialogs/StoreRevisionDialog.hpp"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "panels/PanelStyle.hpp"

namespace corvane {

using namespace ui;

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
    // Each field says what it holds.
    auto* fields = new QFormLayout();
    fields->addRow(textLabel("Project:", font(), QColor(), this), project_);
    fields->addRow(textLabel("Revision:", font(), QColor(), this), revision_);
    v->addLayout(fields);
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
