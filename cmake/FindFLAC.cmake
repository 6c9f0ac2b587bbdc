# Finds libFLAC (Debian's package on the native build; the win32 prefix that setup.sh fills for
# the cross build, a static library) and makes the imported target FLAC::FLAC.
find_path(FLAC_INCLUDE_DIR FLAC/stream_encoder.h)
find_library(FLAC_LIBRARY FLAC)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(FLAC REQUIRED_VARS FLAC_LIBRARY FLAC_INCLUDE_DIR)
if(FLAC_FOUND AND NOT TARGET FLAC::FLAC)
  add_library(FLAC::FLAC UNKNOWN IMPORTED)
  set_target_properties(FLAC::FLAC PROPERTIES IMPORTED_LOCATION "${FLAC_LIBRARY}"
                        INTERFACE_INCLUDE_DIRECTORIES "${FLAC_INCLUDE_DIR}")
  if(WIN32)
    # The static library: its functions are not imported from a DLL.
    set_target_properties(FLAC::FLAC PROPERTIES INTERFACE_COMPILE_DEFINITIONS FLAC__NO_DLL)
  endif()
endif()
mark_as_advanced(FLAC_INCLUDE_DIR FLAC_LIBRARY)
