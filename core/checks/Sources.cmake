# What the board is and whether it can be made: the summary, the manufacturing checks, copper islands and
# spacing with the geometry of copper bodies they measure, hit testing and measurement, the package's
# warnings, and the comparison of two revisions.
list(APPEND CORVANE_ROOM_SOURCES
  BoardSummaryEngine.cpp
  BoxTree.cpp
  CellGrid.cpp
  CopperFilms.cpp
  CopperBodies.cpp
  CopperIslands.cpp
  CopperSpacing.cpp
  DFMEngine.cpp
  DiffEngine.cpp
  MeasureEngine.cpp
  MemoryAllowance.cpp
  PackageWarnings.cpp
  PolygonBooleans.cpp
)
