# From files to a board package: the Gerber, Excellon, KiCad and ODB++ readers, layer classification by
# name and by content, the layer order, package assembly and the document cache.
list(APPEND CORVANE_ROOM_SOURCES
  ApertureMacro.cpp
  ContentRoles.cpp
  DocumentCache.cpp
  ExcellonParser.cpp
  GerberParser.cpp
  KiCadPCBParser.cpp
  LayerClassifier.cpp
  LayerOrder.cpp
  ODBFeatures.cpp
  ODBPPParser.cpp
  PackageImporter.cpp
  SExpr.cpp
)
