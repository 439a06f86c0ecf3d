#include <gtest/gtest.h>

#include <QSignalSpy>

#include "AppTestSupport.hpp"
#include "model/NotificationHub.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

std::vector<std::string> presetNames(const AppModel& m) {
    std::vector<std::string> names;
    for (const auto& p : m.presets()) names.push_back(p.name);
    return names;
}

} // namespace

TEST(AppValues, ToolTitlesParseOnlyExactly) {
    EXPECT_EQ(Tool::allCases().size(), 8u);
    for (auto t : Tool::allCases()) EXPECT_EQ(Tool::fromRawValue(t.rawValue()), t);
    EXPECT_EQ(Tool(Tool::measureX).rawValue(), "Measure \u0394X");
    EXPECT_EQ(Tool::fromRawValue("Select / Inspect"), Tool(Tool::select));
    EXPECT_FALSE(Tool::fromRawValue("select / inspect"));
    EXPECT_FALSE(Tool::fromRawValue("Measure DX"));
    EXPECT_FALSE(Tool::fromRawValue(""));
}

TEST(AppValues, LayerStatesAreEqualByIdAlone) {
    LayerState a{"top.gbr", "top.gbr", "Top Copper", true, 1.0, QColor(Qt::red), 100, 3};
    LayerState b = a;
    b.color = QColor(Qt::blue);
    b.visible = false;
    EXPECT_EQ(a, b);
    b.id = "bottom.gbr";
    EXPECT_NE(a, b);
}

TEST(AppValues, AnnotationJSONRoundTripsAndLeavesOutAbsentEnd) {
    Annotation text{UUID::random(), Annotation::Kind::text, {1.5, -2}, std::nullopt, "check this", 3};
    const Json j = toJSON(text);
    EXPECT_EQ(j, Json::parse(R"({"id":")" + text.id.uuidString() +
                             R"(","kind":"text","p1":{"x":1.5,"y":-2},"text":"check this","colorIndex":3})"));
    EXPECT_EQ(fromJSON<Annotation>(j), text);

    Annotation arrow{UUID::random(), Annotation::Kind::arrow, {0, 0}, Vec2{4, 5}, "", 0};
    EXPECT_EQ(toJSON(arrow)["p2"], Json::parse(R"({"x":4,"y":5})"));
    EXPECT_EQ(fromJSON<Annotation>(toJSON(arrow)), arrow);

    Json badKind = toJSON(arrow);
    badKind["kind"] = "Arrow";
    EXPECT_THROW(fromJSON<Annotation>(badKind), DecodingError);
    Json badId = toJSON(arrow);
    badId["id"] = "not-a-uuid";
    EXPECT_THROW(fromJSON<Annotation>(badId), DecodingError);
    Json nullEnd = toJSON(text);
    nullEnd["p2"] = nullptr;
    EXPECT_EQ(fromJSON<Annotation>(nullEnd), text);
}

TEST(AppValues, AnnotationsDifferInAnyField) {
    Annotation a{UUID::random(), Annotation::Kind::rectangle, {0, 0}, Vec2{1, 1}, "", 2};
    Annotation b = a;
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<Annotation>{}(a), std::hash<Annotation>{}(b));
    b.p2.reset();
    EXPECT_NE(a, b);
    b = a;
    b.colorIndex = 1;
    EXPECT_NE(a, b);
}

TEST(AppSettings, FreshStartHasDefaultsAndWritesNothingButTheMissingPreset) {
    ScratchSettings s;
    AppModel m(s.open());
    EXPECT_EQ(m.units(), Units::mm);
    EXPECT_EQ(presetNames(m), (std::vector<std::string>{"Custom", "JLCPCB (editable)", "PCBWay (editable)"}));
    EXPECT_EQ(m.presets()[0], (ManufacturingPreset{"Custom", 0.1, 0.1, 0.2, 0.15}));
    EXPECT_FALSE(m.activePreset());
    EXPECT_TRUE(m.showGrid() && m.showOrigin() && m.showCrosshair());
    EXPECT_EQ(m.tool(), Tool::select);
    EXPECT_EQ(m.camera(), CameraState{});
    EXPECT_EQ(m.camera().pxPerMM, 8.0);
    EXPECT_FALSE(m.package());
    EXPECT_FALSE(m.hasFitted());
    QSettings check(s.path(), QSettings::IniFormat);
    EXPECT_FALSE(check.contains("units"));
    EXPECT_FALSE(check.contains("activePreset"));
}

TEST(AppSettings, OnlyExactMilRestoresMil) {
    for (const auto& [stored, expected] : std::vector<std::pair<QString, Units>>{
             {"mil", Units::mil}, {"MIL", Units::mm}, {"Mil", Units::mm}, {"inch", Units::mm}, {"", Units::mm}}) {
        ScratchSettings s;
        s.open()->setValue("units", stored);
        AppModel m(s.open());
        EXPECT_EQ(m.units(), expected) << stored.toStdString();
    }
}

TEST(AppSettings, UnitsAreWrittenOnEveryAssignment) {
    ScratchSettings s;
    {
        AppModel m(s.open());
        QSignalSpy spy(&m, &AppModel::unitsChanged);
        m.setUnits(Units::mil);
        EXPECT_EQ(QSettings(s.path(), QSettings::IniFormat).value("units").toString(), "mil");
        m.setUnits(Units::mil);
        EXPECT_EQ(spy.count(), 2);
    }
    AppModel again(s.open());
    EXPECT_EQ(again.units(), Units::mil);
    again.setUnits(Units::mm);
    EXPECT_EQ(QSettings(s.path(), QSettings::IniFormat).value("units").toString(), "mm");
}

TEST(AppSettings, PresetsRoundTripAndActivePresetIsRestoredByName) {
    ScratchSettings s;
    {
        AppModel m(s.open());
        auto list = m.presets();
        list.push_back(ManufacturingPreset{"Fine", 0.075, 0.08, 0.15, 0.1});
        m.setPresets(list);
        m.savePresets();
        m.setActivePreset(list.back());
        EXPECT_EQ(QSettings(s.path(), QSettings::IniFormat).value("activePreset").toString(), "Fine");
    }
    const QByteArray stored = QSettings(s.path(), QSettings::IniFormat).value("presets").toByteArray();
    const Json j = Json::parse(stored.toStdString());
    ASSERT_EQ(j.size(), 4u);
    EXPECT_EQ(j[3], Json::parse(R"({"name":"Fine","minTraceMM":0.075,"minSpaceMM":0.08,"minDrillMM":0.15,"minAnnularRingMM":0.1})"));

    AppModel m(s.open());
    ASSERT_EQ(m.presets().size(), 4u);
    ASSERT_TRUE(m.activePreset());
    EXPECT_EQ(*m.activePreset(), (ManufacturingPreset{"Fine", 0.075, 0.08, 0.15, 0.1}));

    m.setActivePreset(std::nullopt);
    EXPECT_FALSE(QSettings(s.path(), QSettings::IniFormat).contains("activePreset"));
}

TEST(AppSettings, EmptyStoredListStaysEmptyAndDropsTheActiveName) {
    ScratchSettings s;
    {
        auto w = s.open();
        w->setValue("presets", QByteArray("[]"));
        w->setValue("activePreset", "Custom");
    }
    AppModel m(s.open());
    EXPECT_TRUE(m.presets().empty());
    EXPECT_FALSE(m.activePreset());
    EXPECT_FALSE(QSettings(s.path(), QSettings::IniFormat).contains("activePreset"));
}

TEST(AppSettings, UnmatchedActiveNameIsRemovedAtStart) {
    ScratchSettings s;
    s.open()->setValue("activePreset", "custom");
    AppModel m(s.open());
    EXPECT_FALSE(m.activePreset());
    EXPECT_FALSE(QSettings(s.path(), QSettings::IniFormat).contains("activePreset"));
}

TEST(AppSettings, FirstOfTwoSameNamedPresetsWins) {
    ScratchSettings s;
    {
        auto w = s.open();
        w->setValue("presets", QByteArray(R"([{"name":"Shop","minTraceMM":0.1,"minSpaceMM":0.1,"minDrillMM":0.2,"minAnnularRingMM":0.15},
                                              {"name":"Shop","minTraceMM":0.2,"minSpaceMM":0.2,"minDrillMM":0.3,"minAnnularRingMM":0.2}])"));
        w->setValue("activePreset", "Shop");
    }
    AppModel m(s.open());
    ASSERT_TRUE(m.activePreset());
    EXPECT_EQ(m.activePreset()->minTraceMM, 0.1);
    EXPECT_EQ(QSettings(s.path(), QSettings::IniFormat).value("activePreset").toString(), "Shop");
}

TEST(AppSettings, UndecodablePresetsKeepTheBuiltIns) {
    for (const QByteArray& bad : {QByteArray("not json"), QByteArray(R"({"name":"x"})"),
                                  QByteArray(R"([{"name":"Shop","minTraceMM":"0.1"}])"), QByteArray("")}) {
        ScratchSettings s;
        s.open()->setValue("presets", bad);
        AppModel m(s.open());
        EXPECT_EQ(presetNames(m), (std::vector<std::string>{"Custom", "JLCPCB (editable)", "PCBWay (editable)"}))
            << bad.toStdString();
    }
}

TEST(AppSettings, UnwritablePresetListKeepsTheStoredOne) {
    ScratchSettings s;
    AppModel m(s.open());
    m.savePresets();
    m.setPresets({ManufacturingPreset{"Broken", std::numeric_limits<double>::quiet_NaN(), 0, 0, 0}});
    m.savePresets();
    AppModel again(s.open());
    EXPECT_EQ(presetNames(again), (std::vector<std::string>{"Custom", "JLCPCB (editable)", "PCBWay (editable)"}));
}

TEST(AppSettings, DefaultSettingsLiveInTheUserConfigFolder) {
    const QString file = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Corvane/Corvane.conf";
    QFile::remove(file);
    {
        AppModel m;
        m.setUnits(Units::mil);
        EXPECT_EQ(m.settings().fileName(), file);
    }
    EXPECT_EQ(QSettings(file, QSettings::IniFormat).value("units").toString(), "mil");
    QFile::remove(file);
}

TEST(AppModelState, RevisionStoreIsMadeOnceOnFirstRead) {
    ScratchSettings s;
    AppModel m(s.open());
    RevisionStore& first = m.revisionStore();
    EXPECT_EQ(&first, &m.revisionStore());
    ASSERT_TRUE(first.directory());
    EXPECT_EQ(first.directory()->string(), qEnvironmentVariable("XDG_DATA_HOME").toStdString() + "/Corvane/Workspace");
}

TEST(AppModelState, PublishedFieldsSignalAfterTheChange) {
    ScratchSettings s;
    AppModel m(s.open());
    bool seen = false;
    QObject::connect(&m, &AppModel::toolChanged, [&] {
        seen = true;
        EXPECT_EQ(m.tool(), Tool::pan);
    });
    m.setTool(Tool::pan);
    EXPECT_TRUE(seen);

    QSignalSpy status(&m, &AppModel::statusMessageChanged);
    QSignalSpy grid(&m, &AppModel::showGridChanged);
    QSignalSpy cursor(&m, &AppModel::cursorWorldChanged);
    QSignalSpy shot(&m, &AppModel::lastScreenshotChanged);
    m.setStatusMessage("x");
    m.setStatusMessage("x");  // every assignment announces, unchanged values included
    m.setShowGrid(false);
    m.setCursorWorld(Vec2{1, 2});
    m.setLastScreenshot(QImage(4, 4, QImage::Format_ARGB32));
    EXPECT_EQ(status.count(), 2);
    EXPECT_EQ(grid.count(), 1);
    EXPECT_FALSE(m.showGrid());
    EXPECT_EQ(cursor.count(), 1);
    EXPECT_EQ(shot.count(), 1);
}

TEST(AppModelState, RendererIsHeldWithoutOwnership) {
    ScratchSettings s;
    AppModel m(s.open());
    {
        RecordingRenderer r;
        m.setRenderer(&r);
        EXPECT_EQ(m.renderer(), &r);
    }
    EXPECT_EQ(m.renderer(), nullptr);
    m.loadPackage(sampleBoard());  // nothing to upload to, nothing breaks
    EXPECT_EQ(m.layerStates().size(), 3u);
}

TEST(NotificationHub, PostsReachObserversOfThatNameWhileTheirContextLives) {
    int overlay = 0, drill = 0;
    auto context = std::make_unique<QObject>();
    Notifications::observe(Notifications::overlayNeedsDisplay, context.get(), [&] { ++overlay; });
    Notifications::observe("Corvane.openDrillSheet", context.get(), [&] { ++drill; });
    Notifications::post(Notifications::overlayNeedsDisplay);
    EXPECT_EQ(overlay, 1);  // synchronous
    EXPECT_EQ(drill, 0);
    Notifications::post(Notifications::openDrillSheet);
    EXPECT_EQ(drill, 1);
    context.reset();
    Notifications::post(Notifications::overlayNeedsDisplay);
    Notifications::post("Corvane.nobodyListens");
    EXPECT_EQ(overlay, 1);
}

TEST(NotificationHub, NamesAreVerbatim) {
    EXPECT_STREQ(Notifications::corvaneOpen, "Corvane.open");
    EXPECT_STREQ(Notifications::openReportSheet, "Corvane.openReportSheet");
    EXPECT_STREQ(Notifications::openCompareSheet, "Corvane.openCompareSheet");
    EXPECT_STREQ(Notifications::openDrillSheet, "Corvane.openDrillSheet");
    EXPECT_STREQ(Notifications::openChecksSheet2, "Corvane.openChecksSheet2");
    EXPECT_STREQ(Notifications::openPresetSheet, "Corvane.openPresetSheet");
    EXPECT_STREQ(Notifications::openWorkspaceSheet, "Corvane.openWorkspaceSheet");
    EXPECT_STREQ(Notifications::overlayNeedsDisplay, "Corvane.overlayNeedsDisplay");
}
