# The revision workspace on disk: one ZIP archive per stored revision and the manifest that groups them, and
# the archive a revision is stored as, made again from the source the board was opened from.
list(APPEND CORVANE_ROOM_SOURCES
  RevisionArchive.cpp
  RevisionStore.cpp
)
