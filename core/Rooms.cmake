# The core library's rooms, each a folder with its own source list (Sources.cmake), lowest first: a room
# includes only from itself and the rooms before it (tools/draw_house.py draws the house and checks this).
# Sets CORVANE_CORE_SOURCES to every source of every room.
set(CORVANE_CORE_ROOMS model io import checks render report store)

set(CORVANE_CORE_SOURCES)
foreach(room IN LISTS CORVANE_CORE_ROOMS)
  set(CORVANE_ROOM_SOURCES)
  include(${CMAKE_CURRENT_LIST_DIR}/${room}/Sources.cmake)
  list(TRANSFORM CORVANE_ROOM_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/${room}/)
  list(APPEND CORVANE_CORE_SOURCES ${CORVANE_ROOM_SOURCES})
endforeach()

# A source that no room lists would silently drop out of the library: refuse to configure instead.
file(GLOB_RECURSE corvane_unlisted CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
list(REMOVE_ITEM corvane_unlisted ${CORVANE_CORE_SOURCES})
if(corvane_unlisted)
  message(FATAL_ERROR "Core sources that no room's Sources.cmake lists: ${corvane_unlisted}")
endif()
