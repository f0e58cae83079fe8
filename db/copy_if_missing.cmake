# Copies SRC to DST unless DST exists: the program's live database is never overwritten
# by a rebuild.
if(NOT EXISTS "${DST}")
  file(COPY_FILE "${SRC}" "${DST}")
endif()
