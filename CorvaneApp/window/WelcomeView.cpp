#include "window/WelcomeView.hpp"

#include <system_error>

#include <QCoreApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include "model/AppModel.hpp"
#include "model/NotificationHub.hpp"
#include "panels/PanelStyle.hpp"
#include "panels/SymbolIcons.hpp"

namespace corvane {

namespace SampleLoader {

std::vector<std::filesystem::path> candidates() {
    std::vector<std::filesystem::path> list;
    std::error_code error;
    const auto cwd = std::filesystem::current_path(error);
    list.push_back(error ? std::filesystem::path("Samples/ESP32_RevA.zip") : cwd / "Samples" / "ESP32_RevA.zip");
    if (QCoreApplication::instance()) {
        const QString installed =
            QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/corvane/ESP32_RevA.zip");
        list.push_back(std::filesystem::path(installed.toStdString()));
    }
    return list;
}

void openSample(AppModel& model) {
    for (const auto& candidate : candidates()) {
        std::error_code error;
        if (std::filesystem::exists(candidate, error)) {
            model.importURL(candidate);
            return;
        }
    }
    model.setStatusMessage(notFoundMessage);
}

} // namespace SampleLoader

namespace {

QLabel* label(const QString& text, const QString& name, const QFont& font, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setFont(font);
    l->setAlignment(Qt::AlignHCenter);
    return l;
}
} // namespace

WelcomeView::WelcomeView(AppModel& model, QWidget* parent) : QWidget(parent), model_(&model) {
    setObjectName("welcome");
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(40, 40, 40, 40);
    stack->setSpacing(18);
    stack->setAlignment(Qt::AlignHCenter);

    auto* symbol = new QLabel(this);
    symbol->setObjectName("welcome.symbol");
    symbol->setProperty("symbol", QStringLiteral("cpu"));
    symbol->setPixmap(symbolPixmap(QStringLiteral("cpu"), ui::green(), 56));
    symbol->setAlignment(Qt::AlignHCenter);
    stack->addWidget(symbol, 0, Qt::AlignHCenter);

    stack->addWidget(label(QStringLiteral("Corvane"), "welcome.title", ui::pixelFont(26, QFont::Bold), this),
                     0, Qt::AlignHCenter);
    auto* subtitle = label(QStringLiteral("Review PCB manufacturing files on your computer\nbefore you send them to "
                                          "production."),
                           "welcome.subtitle", ui::pixelFont(13), this);
    ui::setTextColor(subtitle, ui::secondaryColor());
    stack->addWidget(subtitle, 0, Qt::AlignHCenter);

    auto* actions = new QVBoxLayout();
    actions->setSpacing(8);
    actions->setAlignment(Qt::AlignHCenter);
    actions->addWidget(label(QStringLiteral("Drop a manufacturer package .zip here"), "welcome.dropPrompt",
                             ui::headlineFont(), this),
                       0, Qt::AlignHCenter);
    auto* open = new QPushButton(QStringLiteral("Open Package\u2026"), this);
    open->setObjectName("welcome.open");
    open->setDefault(true);
    connect(open, &QPushButton::clicked, this, [] { Notifications::post(Notifications::corvaneOpen); });
    actions->addWidget(open, 0, Qt::AlignHCenter);
    auto* sample = new QPushButton(QStringLiteral("Open Sample Board (ESP32 Rev A)"), this);
    sample->setObjectName("welcome.sample");
    sample->setDefault(true);
    connect(sample, &QPushButton::clicked, this, [this] {
        if (model_) SampleLoader::openSample(*model_);
    });
    actions->addWidget(sample, 0, Qt::AlignHCenter);
    stack->addLayout(actions);

    auto* privacyRow = new QHBoxLayout();
    privacyRow->setSpacing(4);
    privacyRow->addStretch(1);
    auto* lock = new QLabel(this);
    lock->setObjectName("welcome.privacySymbol");
    lock->setProperty("symbol", QStringLiteral("lock.shield.fill"));
    lock->setPixmap(symbolPixmap(QStringLiteral("lock.shield.fill"), ui::green(), 12));
    privacyRow->addWidget(lock);
    auto* privacy = label(QStringLiteral("100% local PCB review \u2014 your design never leaves this computer."),
                          "welcome.privacy", ui::captionFont(), this);
    ui::setTextColor(privacy, ui::green());
    privacyRow->addWidget(privacy);
    privacyRow->addStretch(1);
    stack->addLayout(privacyRow);

    auto* formats = label(QString::fromUtf8(formatsText), "welcome.formats", ui::caption2Font(), this);
    ui::setTextColor(formats, ui::tertiaryColor());
    stack->addWidget(formats, 0, Qt::AlignHCenter);
}

void WelcomeView::paintEvent(QPaintEvent*) {
    // No blur behind windows here: a nearly opaque panel in the window colour stands in for it.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::Window);
    fill.setAlphaF(0.92f);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 12, 12);
    p.fillPath(shape, fill);
}

} // namespace corvane
