# The PDF review report: its pages laid out on a canvas, text set with Pango, drawn through Cairo.
list(APPEND CORVANE_ROOM_SOURCES
  CairoPdfCanvas.cpp
  PageCanvas.cpp
  ReportPDFRenderer.cpp
  TextEngine.cpp
)
