#include "sheets/DrillSheet.hpp"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "panels/PanelStyle.hpp"

namespace corvane {

using namespace ui;

DrillSheet::DrillSheet(AppModel* model, QWidget* parent)
    : SheetFrame(parent, "sheet.drill", "circle.grid.2x2", blue(), "Drill View", 12), model_(model) {
    setMinimumSize(minimumSheetWidth, 320);
    setPreferredSize(QSize(460, 320));
    headerRow()->addWidget(textLabel("PTH = plated \u00B7 NPTH = non-plated", captionFont(), secondaryColor(), this));
    // Many files or tools would otherwise push the table and "Done" off the screen.
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("drill.scroll");
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    body()->addWidget(scroll_, 1);
    footerRow()->addStretch(1);
    finishFooter();
    connect(model, &AppModel::drillFilesChanged, this, &DrillSheet::rebuild);
    connect(model, &AppModel::compareBaseDrillFilesChanged, this, &DrillSheet::rebuild);
    connect(model, &AppModel::unitsChanged, this, &DrillSheet::rebuild);
    rebuild();
}

std::array<std::string, 3> DrillSheet::rowTexts(const DrillStat& stat, Units units) {
    std::string type = stat.plated == Plating::pth ? "PTH" : stat.plated == Plating::npth ? "NPTH" : "";
    if (stat.slot) type = type.empty() ? "Slot" : type + " slot";
    if (type.empty()) type = "\u2014";
    return {units.format(stat.diameterMM, 3), std::move(type), "\u00D7 " + std::to_string(stat.count)};
}

std::int64_t DrillSheet::total(const DrillFileStats& file) {
    std::int64_t sum = 0;
    for (const auto& s : file.stats) sum += s.count;
    return sum;
}

QWidget* DrillSheet::block(const DrillFileStats& file, Units units, QWidget* parent) {
    auto* frame = new QFrame(parent);
    frame->setObjectName(qs("drill.block:" + file.fileName));
    frame->setAutoFillBackground(true);
    QPalette p = frame->palette();
    p.setColor(QPalette::Window, p.color(QPalette::Base));
    frame->setPalette(p);
    auto* v = new QVBoxLayout(frame);
    v->setContentsMargins(8, 8, 8, 8);
    v->setSpacing(6);
    auto* name = elidedLabel(qs(file.fileName), Qt::ElideMiddle, pixelFont(12, QFont::DemiBold), QColor(), frame);
    name->setObjectName("drill.fileName");
    v->addWidget(name);

    auto* grid = new QGridLayout();
    grid->setHorizontalSpacing(18);
    grid->setVerticalSpacing(3);
    int r = 0;
    const char* headers[] = {"Diameter", "Type", "Count"};
    for (int c = 0; c < 3; ++c) grid->addWidget(textLabel(headers[c], captionFont(), secondaryColor(), frame), r, c);
    for (const auto& stat : file.stats) {
        ++r;
        const auto cells = rowTexts(stat, units);
        const QColor typeColor = stat.plated == Plating::pth ? green() : orange();
        auto* d = textLabel(qs(cells[0]), pixelFont(11, QFont::Normal, true), QColor(), frame);
        auto* t = textLabel(qs(cells[1]), pixelFont(11), typeColor, frame);
        auto* n = textLabel(qs(cells[2]), pixelFont(11, QFont::Normal, true), QColor(), frame);
        d->setObjectName("drill.diameter");
        t->setObjectName("drill.type");
        n->setObjectName("drill.count");
        grid->addWidget(d, r, 0);
        grid->addWidget(t, r, 1);
        grid->addWidget(n, r, 2);
    }
    ++r;
    grid->addWidget(textLabel("Total", pixelFont(11, QFont::Bold), QColor(), frame), r, 0);
    grid->addWidget(textLabel(QString(), pixelFont(11), QColor(), frame), r, 1);
    auto* totalLabel = textLabel(qs(std::to_string(total(file))), pixelFont(11, QFont::Bold, true), QColor(), frame);
    totalLabel->setObjectName("drill.total");
    grid->addWidget(totalLabel, r, 2);
    grid->setColumnStretch(3, 1);
    v->addLayout(grid);

    auto* legend = new QHBoxLayout();
    legend->setSpacing(14);
    auto* pth = textLabel(qs(std::to_string(file.pthCount) + " PTH"), captionFont(), green(), frame);
    pth->setObjectName("drill.pth");
    auto* npth = textLabel(qs(std::to_string(file.npthCount) + " NPTH"), captionFont(), orange(), frame);
    npth->setObjectName("drill.npth");
    auto* pthIcon = symbolLabel("circle.fill", green(), 10, frame);
    auto* npthIcon = symbolLabel("circle", orange(), 10, frame);
    legend->addWidget(pthIcon);
    legend->addWidget(pth);
    legend->addWidget(npthIcon);
    legend->addWidget(npth);
    // A file that does not say what is plated (Eagle's, for one) is not "0 PTH / 0 NPTH" and nothing else.
    if (const std::int64_t unstated = total(file) - file.pthCount - file.npthCount; unstated > 0) {
        auto* other = textLabel(qs(std::to_string(unstated) + " plating not stated"), captionFont(), secondaryColor(), frame);
        other->setObjectName("drill.unstated");
        legend->addWidget(other);
    }
    legend->addStretch(1);
    v->addLayout(legend);
    return frame;
}

void DrillSheet::addFiles(QVBoxLayout* box, const std::vector<DrillFileStats>& files, QWidget* content) {
    if (files.empty()) {
        auto* none = textLabel("No drill files in this package.", pixelFont(13), secondaryColor(), content);
        none->setObjectName("drill.none");
        box->addWidget(none, 0, Qt::AlignHCenter);
    }
    for (const auto& file : files) box->addWidget(block(file, model_->units(), content));
}

void DrillSheet::rebuild() {
    if (!model_) return;
    auto* content = new QWidget();
    auto* v = new QVBoxLayout(content);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(12);
    if (model_->compareBase()) {
        // Comparing: both revisions' drill files, revision A first, each under its name.
        const auto titles = model_->revisionTitles();
        for (const auto& [label, files] : {std::pair{titles[0], &model_->compareBaseDrillFiles()},
                                           std::pair{titles[1], &model_->drillFiles()}}) {
            auto* header = elidedLabel(qs(label), Qt::ElideMiddle, pixelFont(12, QFont::DemiBold), QColor(), content);
            header->setObjectName("drill.revision");
            v->addWidget(header);
            addFiles(v, *files, content);
        }
    } else {
        addFiles(v, model_->drillFiles(), content);
    }
    v->addStretch(1);
    scroll_->setWidget(content);  // deletes the previous content
}

} // namespace corvane
