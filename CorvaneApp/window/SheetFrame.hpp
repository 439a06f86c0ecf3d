#pragma once
// The frame every sheet shares: a vertical stack padded by 20, a header row (symbol, title, spacer, extras),
// the sheet's own content, and a footer row whose last control is "Done", which closes the sheet.
#include <QColor>
#include <QDialog>
#include <QString>

class QHBoxLayout;
class QPushButton;
class QVBoxLayout;

namespace corvane {

class SheetFrame : public QDialog {
    Q_OBJECT
public:
    // `name` is the sheet's objectName ("sheet.drill"); its "Done" button is named `name` + ".done".
    SheetFrame(QWidget* parent, const QString& name, const QString& symbol, const QColor& symbolColor,
               const QString& title);

    QHBoxLayout* headerExtras() const { return headerExtras_; }
    QVBoxLayout* body() const { return body_; }
    // Controls added here come before "Done".
    QHBoxLayout* footer() const { return footer_; }
    QPushButton* doneButton() const { return done_; }

private:
    QHBoxLayout* headerExtras_;
    QVBoxLayout* body_;
    QHBoxLayout* footer_;
    QPushButton* done_;
};

} // namespace corvane
