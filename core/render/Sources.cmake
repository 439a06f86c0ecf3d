# The software renderer: a package drawn into a picture of premultiplied pixels, in the layers' drawing
# order, antialiased by its coverage raster, and written out as PNG.
list(APPEND CORVANE_ROOM_SOURCES
  CoverageRaster.cpp
  LayerDrawOrder.cpp
  RasterImage.cpp
  SoftwareRenderer.cpp
)
