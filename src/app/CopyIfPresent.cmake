# cmake -DFROM=<file> -DTO=<folder> -P CopyIfPresent.cmake: copies when the file exists.
if(EXISTS "${FROM}")
  file(COPY "${FROM}" DESTINATION "${TO}")
endif()
