#pragma once
// "Revision Workspace": stored projects and revisions; open or delete one, or store the open board.
#include <vector>

#include <QPointer>

#include "model/AppModel.hpp"
#include "sheets/SheetFrame.hpp"

class QLabel;
class QPushButton;
class QScrollArea;

namespace corvane {

class WorkspaceSheet : public SheetFrame {
    Q_OBJECT
public:
    static constexpr const char* footerText = "Stored locally in your user data folder \u2014 never uploaded.";

    explicit WorkspaceSheet(AppModel* model, QWidget* parent = nullptr);
    const std::vector<ProjectEntry>& projects() const { return projects_; }
    std::string nextRevName(const std::string& projectName);
    void addCurrent();
    void reload();

Q_SIGNALS:
    // A store started by addCurrent ended, stored or with its failure in the status line.
    void storeFinished(bool stored);

private:
    void rebuild();
    void syncAdd();
    QWidget* revisionRow(const ProjectEntry& project, const RevisionEntry& revision, QWidget* parent);

    QPointer<AppModel> model_;
    std::vector<ProjectEntry> projects_;
    QPushButton* add_ = nullptr;
    QLabel* refusal_ = nullptr;
    QScrollArea* list_ = nullptr;
    QWidget* empty_ = nullptr;
};

} // namespace corvane
