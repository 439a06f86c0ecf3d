#include "sheets/SheetFrame.hpp"

#include <algorithm>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "panels/PanelStyle.hpp"

namespace corvane {

using namespace ui;

SheetFrame::SheetFrame(QWidget* parent, const char* objectName, const char* symbol, const QColor& color,
                       const QString& title, int spacing)
    : QDialog(parent) {
    setObjectName(objectName);
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(spacing);
    header_ = new QHBoxLayout();
    auto* icon = symbolLabel(symbol, color, 16, this);
    icon->setObjectName("sheet.symbol");
    header_->addWidget(icon);
    auto* titleLabel = textLabel(title, headlineFont(), QColor(), this);
    titleLabel->setObjectName("sheet.title");
    // The title never gives way to the extras beside it.
    titleLabel->setMinimumWidth(titleLabel->sizeHint().width());
    header_->addWidget(titleLabel);
    header_->addStretch(1);
    stack->addLayout(header_);
    body_ = new QVBoxLayout();
    body_->setSpacing(spacing);
    stack->addLayout(body_, 1);
    footer_ = new QHBoxLayout();
    stack->addLayout(footer_);
}

void SheetFrame::placeOver(const QRect& area) {
    if (!area.isValid()) return;
    ensurePolished();
    if (layout()) layout()->activate();
    const QSize least = minimumSize().expandedTo(minimumSizeHint());
    const QSize room = area.size() - QSize(2 * areaMargin, 2 * areaMargin);
    const int width = std::max(least.width(), std::min(std::max(preferred_.width(), least.width()), room.width()));
    const bool wraps = layout() && layout()->hasHeightForWidth();
    const int content = std::max(wraps ? layout()->heightForWidth(width) : sizeHint().height(), preferred_.height());
    const int height = std::max(least.height(), std::min(content, room.height()));
    resize(std::min(width, maximumWidth()), std::min(height, maximumHeight()));
    move(area.left() + (area.width() - this->width()) / 2, area.top() + areaMargin);
}

void SheetFrame::finishFooter(bool doneIsDefault) {
    done_ = new QPushButton("Done", this);
    done_->setObjectName("done");
    connect(done_, &QPushButton::clicked, this, &QDialog::accept);
    done_->setAutoDefault(doneIsDefault);
    done_->setDefault(doneIsDefault);
    footer_->addWidget(done_);
}

} // namespace corvane
