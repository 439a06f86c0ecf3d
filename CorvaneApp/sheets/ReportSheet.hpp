#pragma once
// "PDF Report": export the review report of the board on screen, rendered and written off the GUI thread.
#include <filesystem>

#include <QPointer>

#include "report/ReportPDFRenderer.hpp"
#include "model/AppModel.hpp"
#include "panels/PanelStyle.hpp"
#include "sheets/SheetFrame.hpp"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace corvane {

class ReportSheet : public SheetFrame {
    Q_OBJECT
public:
    explicit ReportSheet(AppModel* model, QWidget* parent = nullptr);
    void exportPDF();
    bool busy() const { return busy_; }
    static QString proposedName(const AppModel& model);
    static RasterImage rasterImage(const QImage& image);
    // The picture's caption: what it shows and from which side ("<name> — top view", "<name> — bottom view").
    static QString screenshotCaption(const AppModel& model);

Q_SIGNALS:
    // An export that reached the worker ended, written or failed.
    void exportFinished(bool written);

private:
    void syncState();

    QPointer<AppModel> model_;
    bool busy_ = false;
    QCheckBox* includeScreenshot_ = nullptr;
    QCheckBox* includeMeasurements_ = nullptr;
    QLabel* result_ = nullptr;
    ui::WrappedLabel* error_ = nullptr;
    QPushButton* export_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

} // namespace corvane
