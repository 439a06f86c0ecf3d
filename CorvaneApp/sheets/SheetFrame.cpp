#include "sheets/SheetFrame.hpp"

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
    header_->addWidget(titleLabel);
    header_->addStretch(1);
    stack->addLayout(header_);
    body_ = new QVBoxLayout();
    body_->setSpacing(spacing);
    stack->addLayout(body_, 1);
    footer_ = new QHBoxLayout();
    stack->addLayout(footer_);
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
