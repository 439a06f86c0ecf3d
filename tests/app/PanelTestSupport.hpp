#pragma once
// Shared pieces of the panel and sheet tests: a model with private settings and lookups by objectName.
#include <memory>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QPushButton>
#include <QLabel>
#include <QStandardPaths>
#include <QWidget>

#include "AppTestSupport.hpp"

namespace corvane::testing {

struct PanelFixture {
    ScratchSettings settings;
    std::unique_ptr<AppModel> model = std::make_unique<AppModel>(settings.open());
};

template <class T = QWidget>
T* child(const QObject* parent, const QString& name) {
    return parent->findChild<T*>(name);
}

template <class T = QWidget>
std::vector<T*> visibleChildren(const QObject* parent, const QString& name) {
    std::vector<T*> out;
    for (T* w : parent->findChildren<T*>(name))
        if (!w->isHidden()) out.push_back(w);
    return out;
}

inline std::string text(const QLabel* label) { return label ? label->text().toStdString() : std::string("<none>"); }

} // namespace corvane::testing
