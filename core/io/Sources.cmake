# Bytes in and out: whole-file reads and atomic writes, the ceilings on what untrusted input may make us
# read, text decoding, and the ZIP, tar and gzip archives (reading and writing).
list(APPEND CORVANE_ROOM_SOURCES
  FileIO.cpp
  RawInflate.cpp
  SizeLimits.cpp
  TextDecoding.cpp
  VellTar.cpp
  VellZip.cpp
  VellZipWriter.cpp
)
