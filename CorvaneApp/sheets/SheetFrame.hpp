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
    // The size the sheet opens at where there is room for it; a height of 0 takes the content's height.
    QSize preferredSize() const { return preferred_; }
    // Sizes and places the sheet over `area` (global coordinates, the canvas): as large as its preferred size
    // where the area allows, never below its minimum, centred across the area with its top just inside it, so
    // that the tools above and the side panels' values beside it stay in view.
    void placeOver(const QRect& area);
    static constexpr int areaMargin = 8;
    // No sheet is narrower: its controls and texts are laid out for at least this width.
    static constexpr int minimumSheetWidth = 420;

protected:
    QHBoxLayout* headerRow() const { return header_; }
    QVBoxLayout* body() const { return body_; }
    QHBoxLayout* footerRow() const { return footer_; }
    // Puts "Done" at the end of the footer; sheets call it once their footer items are in place.
    void finishFooter(bool doneIsDefault = true);
    void setPreferredSize(QSize size) { preferred_ = size; }

private:
    QHBoxLayout* header_ = nullptr;
    QVBoxLayout* body_ = nullptr;
    QHBoxLayout* footer_ = nullptr;
    QPushButton* done_ = nullptr;
    QSize preferred_;
};

} // namespace corvane
