# Finds the CGNS library (Debian: libcgns-dev) and defines the imported
# target CGNS::CGNS when it is there; CGNS_FOUND says whether it is.
find_path(CGNS_INCLUDE_DIR NAMES cgnslib.h PATH_SUFFIXES cgns)
find_library(CGNS_LIBRARY NAMES cgns)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(CGNS REQUIRED_VARS CGNS_LIBRARY CGNS_INCLUDE_DIR)
mark_as_advanced(CGNS_INCLUDE_DIR CGNS_LIBRARY)
if(CGNS_FOUND AND NOT TARGET CGNS::CGNS)
  add_library(CGNS::CGNS UNKNOWN IMPORTED)
  set_target_properties(CGNS::CGNS PROPERTIES IMPORTED_LOCATION "${CGNS_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${CGNS_INCLUDE_DIR}")
endif()
