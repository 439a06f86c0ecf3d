#include "window/SheetFrame.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "window/Symbols.hpp"

namespace corvane {

SheetFrame::SheetFrame(QWidget* parent, const QString& name, const QString& symbol, const QColor& symbolColor,
                       const QString& title)
    : QDialog(parent) {
    setObjectName(name);
    setWindowTitle(title);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(20, 20, 20, 20);

    auto* header = new QHBoxLayout();
    auto* icon = new QLabel(this);
    icon->setObjectName(name + ".symbol");
    icon->setPixmap(symbolPixmap(symbol, symbolColor, 18));
    icon->setProperty("symbol", symbol);
    header->addWidget(icon);
    auto* heading = new QLabel(title, this);
    heading->setObjectName(name + ".title");
    heading->setFont(textStyleFont(TextStyle::headline));
    header->addWidget(heading);
    header->addStretch(1);
    headerExtras_ = new QHBoxLayout();
    header->addLayout(headerExtras_);
    stack->addLayout(header);

    body_ = new QVBoxLayout();
    stack->addLayout(body_, 1);

    footer_ = new QHBoxLayout();
    auto* footerRow = new QHBoxLayout();
    footerRow->addLayout(footer_, 1);
    done_ = new QPushButton(QStringLiteral("Done"), this);
    done_->setObjectName(name + ".done");
    done_->setDefault(true);
    connect(done_, &QPushButton::clicked, this, &QDialog::accept);
    footerRow->addWidget(done_);
    stack->addLayout(footerRow);
}

} // namespace corvane
