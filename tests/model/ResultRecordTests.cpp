#include <gtest/gtest.h>

#include <algorithm>

#include "model/Model.hpp"

using namespace corvane;

namespace {
CheckIssue issue(std::string id, CheckSeverity severity) {
    return CheckIssue{std::move(id), severity, "title", "message", std::nullopt, std::nullopt};
}
} // namespace

TEST(CheckReport, ConstructorSortsBySeverityKeepingGivenOrder) {
    const DFMReport report({issue("a", CheckSeverity::info), issue("b", CheckSeverity::error),
                            issue("c", CheckSeverity::warning), issue("d", CheckSeverity::error)},
                           "Standard", Date{0});
    ASSERT_EQ(report.issues.size(), 4u);
    EXPECT_EQ(report.issues[0].id, "b");
    EXPECT_EQ(report.issues[1].id, "d");
    EXPECT_EQ(report.issues[2].id, "c");
    EXPECT_EQ(report.issues[3].id, "a");
    EXPECT_EQ(report.errorCount(), 2);
    EXPECT_EQ(report.warningCount(), 1);

    const DFMReport empty({}, std::nullopt, Date{0});
    EXPECT_TRUE(empty.issues.empty());
    EXPECT_EQ(empty.errorCount(), 0);
    EXPECT_EQ(empty.warningCount(), 0);

    // Assigning issues later does not sort them.
    DFMReport later({}, std::nullopt, Date{0});
    later.issues = {issue("x", CheckSeverity::info), issue("y", CheckSeverity::error)};
    EXPECT_EQ(later.issues[0].id, "x");
}

TEST(CheckReport, SeverityOrderAndRawValues) {
    EXPECT_TRUE(CheckSeverity(CheckSeverity::error) < CheckSeverity(CheckSeverity::info));
    EXPECT_TRUE(CheckSeverity(CheckSeverity::warning) < CheckSeverity(CheckSeverity::info));
    EXPECT_FALSE(CheckSeverity(CheckSeverity::info) < CheckSeverity(CheckSeverity::info));
    std::vector<CheckSeverity> s{CheckSeverity::info, CheckSeverity::warning, CheckSeverity::error};
    std::sort(s.begin(), s.end());
    EXPECT_EQ(s.front(), CheckSeverity::error);
    EXPECT_FALSE(CheckSeverity::fromRawValue("Error").has_value());
    EXPECT_EQ(CheckSeverity::fromRawValue("warning"), CheckSeverity(CheckSeverity::warning));

    auto a = issue("r", CheckSeverity::error);
    auto b = a;
    b.position = Vec2{1, 2};
    EXPECT_NE(a, b);
}

TEST(ComparisonRecords, ChangeCounts) {
    const DiffChange change{"Added", "Arc", {0, 0}, {0, 0, 1, 1}, "arc"};
    const LayerDiffResult layer{"Top Copper", "a.gtl", "b.gtl", {change, change, change}, {change, change}};
    EXPECT_EQ(layer.changeCount(), 5);
    const PackageDiff none{{}, {"x.gbr"}, {"y.gbr"}, "A", "B"};
    EXPECT_EQ(none.totalChanges(), 0);
    const PackageDiff two{{layer, layer}, {}, {}, "A", "B"};
    EXPECT_EQ(two.totalChanges(), 10);
    const ManufacturingPreset zero{"Zero", 0.0, 0.0, 0.0, 0.0};
    EXPECT_EQ(zero, (ManufacturingPreset{"Zero", 0.0, 0.0, 0.0, 0.0}));
    EXPECT_NE(zero, (ManufacturingPreset{"Zero", 0.1, 0.0, 0.0, 0.0}));
}
