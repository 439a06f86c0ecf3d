# Summary, checks, comparison, measurement, rendering, report and revision workspace.
list(APPEND CORVANE_ROOM_SOURCES
  BoardSummaryEngine.cpp
  BoxTree.cpp
  CGRenderer.cpp
  CairoPdfCanvas.cpp
  CellGrid.cpp
  CopperBodies.cpp
  CopperIslands.cpp
  CopperSpacing.cpp
  CoverageRaster.cpp
  DFMEngine.cpp
  DiffEngine.cpp
  LayerDrawOrder.cpp
  MeasureEngine.cpp
  PackageWarnings.cpp
  PageCanvas.cpp
  RasterImage.cpp
  ReportPDFRenderer.cpp
  RevisionStore.cpp
  TextEngine.cpp
)
