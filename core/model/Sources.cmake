# The board model: the plain values every other room builds and reads (points, boxes, primitives, layers,
# documents, packages, results), their JSON form, and the plane geometry of arcs and polygons.
list(APPEND CORVANE_ROOM_SOURCES
  Codable.cpp
  Documents.cpp
  Format.cpp
  Geometry.cpp
  GeometryEngine.cpp
  Layers.cpp
  ParallelFor.cpp
  Primitives.cpp
  Results.cpp
  UUID.cpp
)
