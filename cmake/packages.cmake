# Cabinet packages built from a folder of files with gcab (MSZIP), the files
# stored under their paths relative to the folder (sub-folders kept, written
# with backslashes inside the cabinet).
#
#   kit_cab_package(<name> DIR <folder> FILES <relative path>... [OUTPUT_DIR <dir>] [DEPENDS <target>...])
#
# writes <OUTPUT_DIR, default ${CMAKE_BINARY_DIR}/packages>/<name>.cab and
# makes the target package_<name>, part of the target `packages`.
find_program(KITLOADER_GCAB gcab REQUIRED)
if(NOT TARGET packages)
  add_custom_target(packages ALL)
endif()

function(kit_cab_package name)
  cmake_parse_arguments(P "" "DIR;OUTPUT_DIR" "FILES;DEPENDS" ${ARGN})
  if(NOT P_OUTPUT_DIR)
    set(P_OUTPUT_DIR "${CMAKE_BINARY_DIR}/packages")
  endif()
  set(out "${P_OUTPUT_DIR}/${name}.cab")
  set(inputs)
  foreach(f IN LISTS P_FILES)
    list(APPEND inputs "${P_DIR}/${f}")
  endforeach()
  add_custom_command(OUTPUT "${out}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${P_OUTPUT_DIR}"
    COMMAND "${CMAKE_COMMAND}" -E rm -f "${out}"
    COMMAND "${KITLOADER_GCAB}" -c -z "${out}" ${P_FILES}
    WORKING_DIRECTORY "${P_DIR}"
    DEPENDS ${inputs} ${P_DEPENDS}
    COMMENT "Packing ${name}.cab"
    VERBATIM)
  add_custom_target(package_${name} DEPENDS "${out}")
  add_dependencies(packages package_${name})
endfunction()
