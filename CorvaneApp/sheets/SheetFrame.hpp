#pragma once
// The frame every sheet shares: a header row (coloured symbol, title, extras), the body, and a footer
// ending in "Done". A sheet is a window-modal dialog made fresh for each presentation.
#include <QDialog>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace corvane {

class SheetFrame : public QDialog {
    Q_OBJECT
public:
    SheetFrame(QWidget* parent, const char* objectName, const char* symbol, const QColor& color, const QString& title,
               int spacing);
    // Null for a sheet that closes through its own buttons.
    QPushButton* doneButton() const { return done_; }

protected:
    QHBoxLayout* headerRow() const { return header_; }
    QVBoxLayout* body() const { return body_; }
    QHBoxLayout* footerRow() const { return footer_; }
    // Puts "Done" at the end of the footer; sheets call it once their footer items are in place.
    void finishFooter(bool doneIsDefault = true);

private:
    QHBoxLayout* header_ = nullptr;
    QVBoxLayout* body_ = nullptr;
    QHBoxLayout* footer_ = nullptr;
    QPushButton* done_ = nullptr;
};

} // namespace corvane
