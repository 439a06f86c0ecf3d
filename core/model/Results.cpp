#include "Results.hpp"

#include <algorithm>

namespace corvane {

DFMReport::DFMReport(std::vector<CheckIssue> issues_, std::optional<std::string> presetName_, Date checkedAt_)
    : issues(std::move(issues_)), presetName(std::move(presetName_)), checkedAt(checkedAt_) {
    std::stable_sort(issues.begin(), issues.end(), [](const CheckIssue& a, const CheckIssue& b) {
        return static_cast<int>(a.severity) < static_cast<int>(b.severity);
    });
}

std::int64_t DFMReport::errorCount() const {
    return std::count_if(issues.begin(), issues.end(), [](const CheckIssue& i) { return i.severity == CheckSeverity::error; });
}

std::int64_t DFMReport::warningCount() const {
    return std::count_if(issues.begin(), issues.end(), [](const CheckIssue& i) { return i.severity == CheckSeverity::warning; });
}

} // namespace corvane
