#include "sheets/WorkspaceSheet.hpp"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QThreadPool>
#include <QVBoxLayout>

#include "panels/PanelStyle.hpp"
#include "store/RevisionArchive.hpp"
#include "dialogs/UIServices.hpp"

namespace corvane {

using namespace ui;

WorkspaceSheet::WorkspaceSheet(AppModel* model, QWidget* parent)
    : SheetFrame(parent, "sheet.workspace", "square.stack.3d.up.fill", teal(), "Revision Workspace", 12), model_(model) {
    setMinimumSize(minimumSheetWidth, 380);
    setPreferredSize(QSize(560, 380));
    add_ = plainButton("Add current board\u2026", this);
    add_->setObjectName("workspace.add");
    connect(add_, &QPushButton::clicked, this, &WorkspaceSheet::addCurrent);
    headerRow()->addWidget(add_);

    // A board that cannot be stored (a KiCad board, an ODB++ job) is not offered for storing at all.
    refusal_ = textLabel(QString(), captionFont(), secondaryColor(), this);
    refusal_->setObjectName("workspace.refusal");
    refusal_->setWordWrap(true);
    body()->addWidget(refusal_);

    empty_ = new QWidget(this);
    empty_->setObjectName("workspace.empty");
    auto* emptyBox = new QVBoxLayout(empty_);
    emptyBox->setSpacing(8);
    emptyBox->addStretch(1);
    emptyBox->addWidget(textLabel("No projects stored yet.", pixelFont(13), secondaryColor(), empty_), 0, Qt::AlignHCenter);
    auto* hint = textLabel("Add the current board to start a workspace: ESP32 Board \u2192 Rev A, Rev B, Rev C\u2026",
                           captionFont(), tertiaryColor(), empty_);
    hint->setWordWrap(true);
    hint->setAlignment(Qt::AlignHCenter);
    emptyBox->addWidget(hint);
    emptyBox->addStretch(1);
    body()->addWidget(empty_, 1);
    list_ = new QScrollArea(this);
    list_->setObjectName("workspace.list");
    list_->setWidgetResizable(true);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    body()->addWidget(list_, 1);

    auto* footer = textLabel(footerText, caption2Font(), tertiaryColor(), this);
    footer->setWordWrap(true);
    footerRow()->addWidget(footer, 1);
    finishFooter();

    connect(model, &AppModel::packageChanged, this, &WorkspaceSheet::syncAdd);
    connect(model, &AppModel::packageSourceChanged, this, &WorkspaceSheet::syncAdd);
    syncAdd();
    reload();
}

void WorkspaceSheet::syncAdd() {
    const auto package = model_ ? model_->package() : nullptr;
    std::optional<std::string> refusal;
    if (package) refusal = revisionRefusal(*package, model_->packageSourceURL());
    add_->setEnabled(package && !refusal);
    add_->setToolTip(refusal ? qs("This board cannot be stored: " + *refusal) : QString());
    refusal_->setText(refusal ? qs("This board cannot be stored: " + *refusal) : QString());
    refusal_->setVisible(refusal.has_value());
}

void WorkspaceSheet::reload() {
    projects_.clear();
    if (model_) {
        try {
            projects_ = model_->revisionStore().allProjects();
        } catch (const std::exception& e) {
            model_->setStatusMessage(std::string("Workspace unreadable: ") + e.what());
        }
    }
    rebuild();
}

std::string WorkspaceSheet::nextRevName(const std::string& projectName) {
    if (!model_) return "Rev A";
    std::vector<ProjectEntry> all;
    try {
        all = model_->revisionStore().allProjects();
    } catch (const std::exception&) {
    }
    for (const auto& project : all) {
        if (project.name != projectName) continue;
        return std::string("Rev ") + static_cast<char>('A' + project.revisions.size() % 26);
    }
    return "Rev A";
}

QWidget* WorkspaceSheet::revisionRow(const ProjectEntry& project, const RevisionEntry& revision, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName(qs("workspace.revision:" + revision.id));
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(8, 1, 4, 1);
    auto* name = elidedLabel(qs(revision.name), Qt::ElideMiddle, pixelFont(12, QFont::Medium), QColor(), row);
    name->setObjectName("workspace.revisionName");
    h->addWidget(name);
    auto* archive = elidedLabel(qs(revision.archiveFileName), Qt::ElideMiddle, caption2Font(), tertiaryColor(), row);
    archive->setObjectName("workspace.archive");
    h->addWidget(archive, 1);
    auto* open = linkButton("Open", row);
    open->setObjectName("workspace.open");
    auto* remove = linkButton("Delete", row);
    remove->setObjectName("workspace.delete");
    h->addWidget(open);
    h->addWidget(remove);
    connect(open, &QPushButton::clicked, this, [this, revision] {
        if (!model_) return;
        // The sheet stays open; the import reports in the status line, and so does a refused name.
        try {
            model_->importURL(model_->revisionStore().archiveURL(revision));
        } catch (const std::exception& e) {
            model_->setStatusMessage(std::string("Import failed: ") + e.what());
        }
    });
    const std::string projectID = project.id;
    connect(remove, &QPushButton::clicked, this, [this, projectID, id = revision.id] {
        if (!model_) return;
        try {
            model_->revisionStore().deleteRevision(projectID, id);
        } catch (const std::exception&) {
            // The reload below shows whatever the store holds now.
        }
        reload();
    });
    return row;
}

void WorkspaceSheet::rebuild() {
    empty_->setVisible(projects_.empty());
    list_->setVisible(!projects_.empty());
    auto* content = new QWidget();
    auto* v = new QVBoxLayout(content);
    v->setSpacing(2);
    for (const auto& project : projects_) {
        auto* header = elidedLabel(qs(project.name), Qt::ElideMiddle, pixelFont(11, QFont::DemiBold), secondaryColor(), content);
        header->setObjectName("workspace.project");
        v->addWidget(header);
        for (const auto& revision : project.revisions) v->addWidget(revisionRow(project, revision, content));
    }
    v->addStretch(1);
    list_->setWidget(content);
}

void WorkspaceSheet::addCurrent() {
    if (!model_ || !model_->package()) return;
    const AppModel::PackagePtr package = model_->package();
    const auto names = UIServices::current().askStoreNames(this, package->name, nextRevName(package->name));
    if (!names || names->project.empty() || names->revision.empty()) return;
    const auto source = model_->packageSourceURL();
    const auto directory = model_->revisionStore().directory();
    QPointer<WorkspaceSheet> guard(this);
    QPointer<AppModel> model = model_;
    // Reading the source again and writing the archive can take a while on a large board.
    QThreadPool::globalInstance()->start([guard, model, package, source, directory, names = *names] {
        std::string failure;
        try {
            const auto archive = revisionArchive(*package, source);
            RevisionStore(directory).addPackage(*package, archive, names.project, names.revision);
        } catch (const std::exception& e) {
            failure = e.what();
        }
        QMetaObject::invokeMethod(
            qApp,
            [guard, model, failure] {
                if (model && !failure.empty()) model->setStatusMessage("Store failed: " + failure);
                if (!guard) return;
                guard->reload();
                Q_EMIT guard->storeFinished(failure.empty());
            },
            Qt::QueuedConnection);
    });
}

} // namespace corvane
