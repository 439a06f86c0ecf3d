# The revision workspace on disk: one ZIP archive per stored revision and the manifest that groups them.
list(APPEND CORVANE_ROOM_SOURCES
  RevisionStore.cpp
)
