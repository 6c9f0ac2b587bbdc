# vorla_public_headers(TARGET): a room's library declares the include path its headers are named
# from (the top of the tree: "fm/opm_chip.h"); what it uses of another room it links.
function(vorla_public_headers target)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
  else()
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  endif()
endfunction()
