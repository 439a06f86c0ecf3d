#include "sheets/PresetSheet.hpp"

#include <cmath>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "model/Format.hpp"
#include "panels/PanelStyle.hpp"

namespace corvane {

using namespace ui;

namespace {

double& field(ManufacturingPreset& p, int index) {
    switch (index) {
    case 0: return p.minTraceMM;
    case 1: return p.minSpaceMM;
    case 2: return p.minDrillMM;
    default: return p.minAnnularRingMM;
    }
}

} // namespace

PresetSheet::PresetSheet(AppModel* model, QWidget* parent)
    : SheetFrame(parent, "sheet.presets", "slider.horizontal.3", purple(), "Manufacturing Presets", 14), model_(model) {
    setMinimumSize(minimumSheetWidth, 340);
    setPreferredSize(QSize(560, 340));
    auto* note = textLabel("Enter your factory's capabilities \u2014 nothing is hard-coded.", captionFont(),
                           secondaryColor(), this);
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    headerRow()->addWidget(note, 2);

    auto* main = new QHBoxLayout();
    list_ = new QTreeWidget(this);
    list_->setObjectName("presets.list");
    list_->setColumnCount(2);
    list_->setHeaderHidden(true);
    list_->setRootIsDecorated(false);
    // The list gives way to the editor in a narrow window, down to a width that still shows the names.
    list_->setMinimumWidth(150);
    list_->setMaximumWidth(220);
    list_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { pickRow(list_->indexOfTopLevelItem(item)); });
    connect(list_, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QTreeWidgetItem* item = list_->itemAt(at);
        if (!item) return;
        const std::string name = ss(item->text(0));
        QMenu menu(this);
        QAction* remove = menu.addAction("Delete");
        connect(remove, &QAction::triggered, this, [this, name] { deletePresets(name); });
        menu.exec(list_->viewport()->mapToGlobal(at));
    });
    main->addWidget(list_);

    auto* editor = new QVBoxLayout();
    editor->setSpacing(10);
    editor->setContentsMargins(12, 0, 0, 0);
    name_ = new QLineEdit(this);
    name_->setObjectName("presets.name");
    name_->setPlaceholderText("Name");
    connect(name_, &QLineEdit::textEdited, this, [this](const QString& text) { draft_.name = ss(text); });
    editor->addWidget(name_);
    const char* labels[] = {"Min Trace", "Min Space", "Min Drill", "Min Annular"};
    const char* placeholders[] = {"0.10", "0.10", "0.20", "0.15"};
    const char* names[] = {"presets.minTrace", "presets.minSpace", "presets.minDrill", "presets.minAnnular"};
    for (int i = 0; i < 4; ++i) {
        auto* row = new QHBoxLayout();
        auto* label = textLabel(labels[i], font(), QColor(), this);
        label->setFixedWidth(90);
        row->addWidget(label);
        auto* edit = new QLineEdit(this);
        edit->setObjectName(names[i]);
        edit->setPlaceholderText(placeholders[i]);
        edit->setFixedWidth(70);
        connect(edit, &QLineEdit::textEdited, this, [this, i](const QString& text) { numberEdited(i, text); });
        // Leaving the field shows the value the draft holds, so text that did not parse is not left standing.
        connect(edit, &QLineEdit::editingFinished, this, &PresetSheet::showDraft);
        numbers_[static_cast<std::size_t>(i)] = edit;
        row->addWidget(edit);
        auto* unit = textLabel("mm", font(), secondaryColor(), this);
        unit->setMinimumWidth(unit->sizeHint().width());
        row->addWidget(unit);
        row->addStretch(1);
        editor->addLayout(row);
    }
    auto* buttons = new QHBoxLayout();
    auto* save = plainButton("Save preset", this);
    save->setObjectName("presets.save");
    connect(save, &QPushButton::clicked, this, &PresetSheet::savePreset);
    auto* use = plainButton("Use for checks", this);
    use->setObjectName("presets.use");
    connect(use, &QPushButton::clicked, this, &PresetSheet::useForChecks);
    buttons->addWidget(save);
    buttons->addWidget(use);
    buttons->addStretch(1);
    editor->addLayout(buttons);
    editor->addStretch(1);
    main->addLayout(editor, 1);
    body()->addLayout(main, 1);

    footerRow()->addStretch(1);
    // Enter in "Name" must not close the sheet: no button here is a default button.
    finishFooter(false);

    connect(model, &AppModel::presetsChanged, this, &PresetSheet::syncList);
    syncList();
    showDraft();
}

QString PresetSheet::rowValues(const ManufacturingPreset& p) {
    return qs(formatFixed(p.minTraceMM, 2) + "/" + formatFixed(p.minSpaceMM, 2) + "/" + formatFixed(p.minDrillMM, 2));
}

void PresetSheet::syncList() {
    if (!model_) return;
    list_->clear();
    for (const auto& preset : model_->presets()) {
        auto* item = new QTreeWidgetItem(list_, QStringList{qs(preset.name), rowValues(preset)});
        item->setFont(0, pixelFont(12));
        item->setFont(1, captionFont());
        item->setForeground(1, secondaryColor());
    }
}

void PresetSheet::showDraft() {
    if (name_->text() != qs(draft_.name)) name_->setText(qs(draft_.name));
    const QLocale locale;
    for (int i = 0; i < 4; ++i) {
        const QString text = locale.toString(field(draft_, i), 'g', QLocale::FloatingPointShortest);
        QLineEdit* edit = numbers_[static_cast<std::size_t>(i)];
        bool ok = false;
        const double shown = locale.toDouble(edit->text(), &ok);
        // Keeps the user's own spelling of the same number ("0.10") while they type.
        if (!ok || shown != field(draft_, i)) edit->setText(text);
    }
}

void PresetSheet::numberEdited(int index, const QString& text) {
    bool ok = false;
    const double value = QLocale().toDouble(text.trimmed(), &ok);
    // Any finite number is taken as typed; other text leaves the draft's value as it was.
    if (ok && std::isfinite(value)) field(draft_, index) = value;
}

void PresetSheet::pickRow(int row) {
    if (!model_ || row < 0 || row >= static_cast<int>(model_->presets().size())) return;
    draft_ = model_->presets()[static_cast<std::size_t>(row)];
    showDraft();
}

void PresetSheet::savePreset() {
    if (!model_) return;
    auto list = model_->presets();
    const auto it = std::find_if(list.begin(), list.end(), [&](const ManufacturingPreset& p) { return p.name == draft_.name; });
    if (it != list.end()) *it = draft_;
    else list.push_back(draft_);
    model_->setPresets(std::move(list));
    model_->savePresets();
}

void PresetSheet::useForChecks() {
    if (!model_) return;
    const auto& list = model_->presets();
    const bool known = std::any_of(list.begin(), list.end(), [&](const ManufacturingPreset& p) { return p.name == draft_.name; });
    if (!known) {
        auto grown = list;
        grown.push_back(draft_);
        model_->setPresets(std::move(grown));
        model_->savePresets();
    }
    model_->setActivePreset(draft_);
}

void PresetSheet::deletePresets(const std::string& name) {
    if (!model_) return;
    auto list = model_->presets();
    std::erase_if(list, [&](const ManufacturingPreset& p) { return p.name == name; });
    model_->setPresets(std::move(list));
    model_->savePresets();
}

} // namespace corvane
