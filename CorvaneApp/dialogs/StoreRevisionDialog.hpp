#pragma once
// "Store revision": the project name above the revision name; "Store" only while both are filled in.
#include <string>

#include <QDialog>

#include "dialogs/UIServices.hpp"

class QLineEdit;
class QPushButton;

namespace corvane {

class StoreRevisionDialog : public QDialog {
    Q_OBJECT
public:
    StoreRevisionDialog(const std::string& project, const std::string& revision, QWidget* parent = nullptr);
    StoreNames names() const;
    QLineEdit* projectField() const { return project_; }
    QLineEdit* revisionField() const { return revision_; }
    QPushButton* storeButton() const { return store_; }

private:
    QLineEdit* project_ = nullptr;
    QLineEdit* revision_ = nullptr;
    QPushButton* store_ = nullptr;
};

} // namespace corvane
