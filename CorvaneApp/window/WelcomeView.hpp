#pragma once
// The panel over the canvas while no board is loaded: what the program does and the two ways in.
#include <filesystem>
#include <optional>
#include <vector>

#include <QPointer>
#include <QWidget>

namespace corvane {

class AppModel;

namespace SampleLoader {
// Where the sample board is looked for, in order: "Samples/ESP32_RevA.zip" under the working directory, then
// the installed copy in share/corvane next to the program's bin folder.
std::vector<std::filesystem::path> candidates();
// Imports the first candidate that exists; without one only the status line changes.
void openSample(AppModel& model);
inline constexpr const char* notFoundMessage = "Sample not found \u2014 run scripts/make_samples.sh first.";
} // namespace SampleLoader

class WelcomeView : public QWidget {
    Q_OBJECT
public:
    WelcomeView(AppModel& model, QWidget* parent = nullptr);
    // Every kind of input the program opens, on two lines so that they fit over the smallest canvas.
    static constexpr const char* formatsText =
        "Gerber RS-274X \u00B7 Gerber X2 \u00B7 Excellon drill \u00B7 ZIP packages\n"
        "KiCad boards (.kicad_pcb) \u00B7 ODB++ jobs (.tgz) \u00B7 folders";

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<AppModel> model_;
};

} // namespace corvane
