#include "sheets/CompareSheet.hpp"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QThreadPool>
#include <QVBoxLayout>

#include "model/Format.hpp"
#include "panels/PanelStyle.hpp"
#include "dialogs/UIServices.hpp"

namespace corvane {

namespace {
constexpr int kPickerMinimumCharacters = 16;
} // namespace

using namespace ui;
namespace fs = std::filesystem;

namespace {

constexpr int pathRole = Qt::UserRole;
constexpr int currentRole = Qt::UserRole + 1;

QString pathText(const fs::path& p) { return QString::fromStdString(p.string()); }

std::string lastComponent(const fs::path& p) {
    fs::path clean = p.lexically_normal();
    if (!clean.has_filename() && clean.has_parent_path()) clean = clean.parent_path();
    return clean.filename().string();
}

} // namespace

std::vector<fs::path> WorkspaceScanner::recentZipURLs() {
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (downloads.isEmpty()) return {};
    std::vector<fs::path> found;
    std::error_code ec;
    fs::directory_iterator it(fs::path(downloads.toStdString()), ec), end;
    if (ec) return {};
    for (; it != end; it.increment(ec)) {
        if (ec) return {};
        if (asciiLower(it->path().extension().string()) == ".zip") found.push_back(it->path());
    }
    // Linux lists a folder in no fixed order; by name the offer is the same from one opening to the next.
    std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
    if (found.size() > maxRecent) found.resize(maxRecent);
    return found;
}

CompareSheet::CompareSheet(AppModel* model, QWidget* parent)
    : SheetFrame(parent, "sheet.compare", "arrow.left.arrow.right.circle.fill", blue(), "Gerber Compare", 14), model_(model) {
    setMinimumWidth(minimumSheetWidth);
    setPreferredSize(QSize(480, 0));
    QVBoxLayout* stack = body();

    auto* form = new QFormLayout();
    pickerA_ = new QComboBox(this);
    pickerA_->setObjectName("compare.pickerA");
    pickerB_ = new QComboBox(this);
    pickerB_->setObjectName("compare.pickerB");
    // Archive names are long (a stored revision's is a UUID): the pickers fit the sheet and elide, rather than
    // widen it past the canvas.
    for (QComboBox* picker : {pickerA_, pickerB_}) {
        picker->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        picker->setMinimumContentsLength(kPickerMinimumCharacters);
    }
    form->addRow("Revision A (old):", pickerA_);
    form->addRow("Revision B (new):", pickerB_);
    stack->addLayout(form);
    connect(pickerA_, &QComboBox::activated, this, [this](int index) {
        const QVariant data = pickerA_->itemData(index, pathRole);
        setBaseURL(data.isValid() ? std::optional<fs::path>(data.toString().toStdString()) : std::nullopt);
    });
    connect(pickerB_, &QComboBox::activated, this, [this](int index) {
        const QVariant data = pickerB_->itemData(index, pathRole);
        // The open board's entry names no file: with a board open, B is that board whatever is picked.
        revisedIsCurrent_ = pickerB_->itemData(index, currentRole).toBool();
        setRevisedURL(data.isValid() ? std::optional<fs::path>(data.toString().toStdString()) : std::nullopt);
    });

    if (model_ && model_->package()) {
        const PCBPackage& p = *model_->package();
        currentBlock_ = new QWidget(this);
        currentBlock_->setObjectName("compare.current");
        auto* v = new QVBoxLayout(currentBlock_);
        v->setContentsMargins(0, 0, 0, 0);
        auto* box = new QCheckBox("Use currently open board as Revision B", currentBlock_);
        box->setObjectName("compare.useCurrent");
        box->setChecked(true);
        box->setEnabled(false);
        box->setFont(captionFont());
        v->addWidget(box);
        auto* line = textLabel(qs("Current: " + p.name + " (" + std::to_string(p.files.size()) + " files)"), captionFont(),
                               secondaryColor(), currentBlock_);
        line->setObjectName("compare.currentLine");
        v->addWidget(line);
        stack->addWidget(currentBlock_);
    }

    // Import and write errors name files and paths: shown whole, wrapped inside a long path if need be.
    error_ = new WrappedLabel(this);
    error_->setFont(captionFont());
    setTextColor(error_, red());
    error_->setObjectName("compare.error");
    stack->addWidget(error_);

    QHBoxLayout* buttons = footerRow();
    auto* chooseA = chooseA_ = plainButton("Choose A\u2026", this);
    chooseA->setObjectName("compare.chooseA");
    auto* chooseB = chooseB_ = plainButton("Choose B\u2026", this);
    chooseB->setObjectName("compare.chooseB");
    auto* cancel = plainButton("Cancel", this);
    cancel->setObjectName("compare.cancel");
    compare_ = new QPushButton("Compare", this);
    compare_->setObjectName("compare.compare");
    compare_->setDefault(true);
    buttons->addWidget(chooseA);
    buttons->addWidget(chooseB);
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(compare_);
    // A cancelled chooser clears that choice back to "Choose file…".
    connect(chooseA, &QPushButton::clicked, this, [this] { setBaseURL(UIServices::current().chooseZip(this)); });
    connect(chooseB, &QPushButton::clicked, this, [this] { setRevisedURL(UIServices::current().chooseZip(this)); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(compare_, &QPushButton::clicked, this, &CompareSheet::run);
    connect(this, &QDialog::finished, this, [this] { ++runId_; });

    progress_ = busyIndicator("compare.progress", this);
    layout()->addWidget(progress_);

    fillPickers();
    syncState();
}

std::vector<fs::path> CompareSheet::recentZips() {
    std::vector<fs::path> out;
    if (model_) {
        try {
            RevisionStore& store = model_->revisionStore();
            for (const auto& project : store.allProjects())
                for (const auto& revision : project.revisions) {
                    // A revision whose archive name leads out of the workspace is not offered.
                    if (RevisionStore::isPlainFileName(revision.archiveFileName))
                        out.push_back(store.archiveURL(revision));
                }
        } catch (const std::exception&) {
            // An unreadable workspace offers no stored revisions; Downloads still count.
        }
    }
    for (auto& zip : WorkspaceScanner::recentZipURLs()) out.push_back(std::move(zip));
    return out;
}

void CompareSheet::fillPicker(QComboBox* combo, const std::vector<fs::path>& zips, const QString& current) {
    combo->clear();
    combo->addItem("Choose file\u2026");
    if (!current.isEmpty()) {
        combo->addItem(current);
        combo->setItemData(combo->count() - 1, true, currentRole);
    }
    for (const auto& zip : zips) {
        combo->addItem(QString::fromStdString(lastComponent(zip)));
        combo->setItemData(combo->count() - 1, pathText(zip), pathRole);
    }
}

void CompareSheet::selectPath(QComboBox* combo, const std::optional<fs::path>& url, bool current) {
    if (current) {
        combo->setCurrentIndex(combo->findData(true, currentRole));
        return;
    }
    if (!url) return combo->setCurrentIndex(0);
    int index = combo->findData(pathText(*url), pathRole);
    // An archive chosen with the file dialog that is not listed gets an entry of its own: the picker shows
    // the file the comparison will read.
    if (index < 0) {
        combo->addItem(QString::fromStdString(lastComponent(*url)));
        index = combo->count() - 1;
        combo->setItemData(index, pathText(*url), pathRole);
    }
    combo->setCurrentIndex(index);
}

void CompareSheet::fillPickers() {
    const auto zips = recentZips();
    const bool open = model_ && model_->package();
    fillPicker(pickerA_, zips, QString());
    fillPicker(pickerB_, zips, open ? qs("Current \u2014 " + model_->package()->name) : QString());
    selectPath(pickerA_, baseURL_, false);
    selectPath(pickerB_, revisedURL_, revisedIsCurrent_ && open);
}

void CompareSheet::setBaseURL(std::optional<fs::path> url) {
    baseURL_ = std::move(url);
    fillPickers();
    syncState();
}

void CompareSheet::setRevisedURL(std::optional<fs::path> url) {
    if (url) revisedIsCurrent_ = false;
    revisedURL_ = std::move(url);
    fillPickers();
    syncState();
}

void CompareSheet::syncState() {
    compare_->setEnabled(baseURL_.has_value() && !busy_);
    // While the revisions are read, the choices stay as they were made, shown but not changed.
    for (QWidget* w : std::initializer_list<QWidget*>{pickerA_, pickerB_, chooseA_, chooseB_})
        w->setEnabled(!busy_);
    progress_->setVisible(busy_);
    error_->setVisible(!error_->text().isEmpty());
}

void CompareSheet::run() {
    if (busy_ || !model_) return;
    busy_ = true;
    error_->setWholeText(QString());
    const auto fail = [this](const char* text) {
        busy_ = false;
        error_->setWholeText(text);
        syncState();
    };
    if (!baseURL_) return fail("Choose Revision A");
    // Read once, now: with a board open it is revision B, whatever picker B says.
    AppModel::PackagePtr open = model_->package();
    if (!open && !revisedURL_) return fail("Choose Revision B");
    syncState();

    const fs::path baseURL = *baseURL_;
    const std::optional<fs::path> revisedURL = open ? std::nullopt : revisedURL_;
    const PackageImporter importer = model_->importer();
    const int runId = runId_;
    QPointer<CompareSheet> guard(this);
    QThreadPool::globalInstance()->start([guard, importer, baseURL, revisedURL, open, runId] {
        AppModel::PackagePtr base, revised = open;
        std::string failure;
        try {
            base = std::make_shared<const PCBPackage>(importer.importZIP(baseURL));
            if (!revised) revised = std::make_shared<const PCBPackage>(importer.importZIP(*revisedURL));
        } catch (const std::exception& e) {
            failure = e.what();
        }
        const std::string baseName = lastComponent(baseURL);
        // The application is the context: the sheet may be gone by now, and the guard says so on the GUI thread.
        QMetaObject::invokeMethod(
            qApp,
            [guard, base, revised, baseName, revisedURL, failure, runId] {
                if (guard) guard->finish(base, revised, baseName, revisedURL, failure, runId);
            },
            Qt::QueuedConnection);
    });
}

void CompareSheet::finish(AppModel::PackagePtr base, AppModel::PackagePtr revised, std::string baseName,
                          std::optional<fs::path> revisedSource, std::string failure, int runId) {
    // A run whose sheet was cancelled or closed leaves the board as the user last saw it.
    if (runId != runId_ || !isVisible() || !model_) return;
    busy_ = false;
    if (!failure.empty() || !base || !revised) {
        error_->setWholeText(qs(failure));
        syncState();
        return;
    }
    model_->startCompare(base, baseName, revised);
    if (revisedSource) model_->setPackageSourceURL(revisedSource);
    syncState();
    accept();
}

} // namespace corvane
