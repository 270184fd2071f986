# Cabinet packages built from a folder of files with gcab (MSZIP), the files
# stored under their paths relative to the folder (sub-folders kept, written
# with backslashes inside the cabinet), then signed with osslsigncode and
# timestamped by the development time-stamping authority.
#
#   kit_cab_package(<name> DIR <folder> FILES <relative path>... [OUTPUT_DIR <dir>]
#                   [SIGNER <pki certificate> | UNSIGNED] [DEPENDS <target>...]
#                   [RENAME <stored name> <new name>] [CHECKED [SETUP_INF <setup.inf>]])
#
# writes <OUTPUT_DIR, default ${CMAKE_BINARY_DIR}/packages>/<name>.cab and
# makes the target package_<name>, part of the target `packages`. SIGNER names
# a certificate under pki/ without extension ("signers/signer03",
# "others/thirdparty"): its .key and .chain.pem sign the package. RENAME
# rewrites one stored name in place before signing (both names of the same
# length), for names that no folder of the build machine can hold. Without
# SIGNER the package is signed with KITLOADER_PACKAGE_SIGNER (by default the
# first pinned signer); UNSIGNED leaves it unsigned. A release build signs
# with the maker's identity, KITLOADER_SIGNING, whatever SIGNER says. CHECKED
# stops the build when an INF's "FileVersion" or "clsid" of a file is not the
# file's own (scripts/lib/check-package.py), or when SETUP_INF's section of the
# package names another class or version than its INF.
find_program(KITLOADER_GCAB gcab REQUIRED)
find_program(KITLOADER_OSSLSIGNCODE osslsigncode REQUIRED)
set(KITLOADER_PACKAGE_SIGNER "signers/signer01" CACHE STRING
    "The pki/ certificate that signs the packages the build makes")
set(kit_make_package "${CMAKE_CURRENT_LIST_DIR}/../scripts/make-package")
# The maker's identity signs whatever a release ships: the packages and
# every program and library, with make-package's signing options.
macro(kit_release_sign_commands file)
  set(release_sign COMMAND "${kit_make_package}" --sign "${file}" ${KITLOADER_SIGNING})
endmacro()
if(NOT TARGET packages)
  add_custom_target(packages ALL)
endif()

function(kit_cab_package name)
  cmake_parse_arguments(P "UNSIGNED;CHECKED" "DIR;OUTPUT_DIR;SIGNER;SETUP_INF" "FILES;DEPENDS;RENAME" ${ARGN})
  if(NOT P_OUTPUT_DIR)
    set(P_OUTPUT_DIR "${CMAKE_BINARY_DIR}/packages")
  endif()
  if(NOT P_SIGNER)
    set(P_SIGNER "${KITLOADER_PACKAGE_SIGNER}")
  endif()
  set(out "${P_OUTPUT_DIR}/${name}.cab")
  set(inputs)
  foreach(f IN LISTS P_FILES)
    list(APPEND inputs "${P_DIR}/${f}")
  endforeach()
  if(P_UNSIGNED)
    set(sign_commands)
    set(packed "${out}")
  elseif(KITLOADER_RELEASE)
    set(packed "${out}.unsigned")
    kit_release_sign_commands("${packed}")
    set(sign_commands ${release_sign} COMMAND "${CMAKE_COMMAND}" -E rename "${packed}" "${out}")
  else()
    set(pki "${PROJECT_SOURCE_DIR}/pki")
    set(packed "${out}.unsigned")
    set(sign_commands
      COMMAND "${KITLOADER_OSSLSIGNCODE}" sign -certs "${pki}/${P_SIGNER}.chain.pem" -key "${pki}/${P_SIGNER}.key"
              -n "${name}" -i "https://kitloader.invalid/packages/${name}.cab" -h sha256
              -TSA-certs "${pki}/tsa/tsa.chain.pem" -TSA-key "${pki}/tsa/tsa.key"
              -in "${packed}" -out "${out}"
      COMMAND "${CMAKE_COMMAND}" -E rm -f "${packed}")
    list(APPEND inputs "${pki}/${P_SIGNER}.chain.pem" "${pki}/${P_SIGNER}.key")
  endif()
  set(rename_commands)
  if(P_RENAME)
    list(GET P_RENAME 0 rename_from)
    list(GET P_RENAME 1 rename_to)
    set(rename_commands COMMAND "${CMAKE_COMMAND}" -E env "KIT_FROM=${rename_from}" "KIT_TO=${rename_to}"
                                perl -0777 -pi -e "s/\\Q\$ENV{KIT_FROM}\\E/\$ENV{KIT_TO}/" "${packed}")
  endif()
  set(check_commands)
  if(P_CHECKED)
    set(check_commands COMMAND python3 "${PROJECT_SOURCE_DIR}/scripts/lib/check-package.py" "${P_DIR}")
    if(P_SETUP_INF)
      list(APPEND check_commands - "${P_SETUP_INF}")
      list(APPEND inputs "${P_SETUP_INF}")
    endif()
  endif()
  add_custom_command(OUTPUT "${out}"
    ${check_commands}
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${P_OUTPUT_DIR}"
    COMMAND "${CMAKE_COMMAND}" -E rm -f "${out}" "${packed}"
    COMMAND "${KITLOADER_GCAB}" -c -z "${packed}" ${P_FILES}
    ${rename_commands}
    ${sign_commands}
    WORKING_DIRECTORY "${P_DIR}"
    DEPENDS ${inputs} ${P_DEPENDS}
    COMMENT "Packing ${name}.cab"
    VERBATIM)
  add_custom_target(package_${name} DEPENDS "${out}")
  add_dependencies(packages package_${name})
endfunction()

# Signs a built program or library in place, after every link, so that an
# installed copy passes the signature check of the maker's own files: with
# the certificate that signs the packages, or in a release with the maker's
# identity (KITLOADER_SIGNING).
#
#   kit_sign_binary(<target>)
function(kit_sign_binary target)
  set(file "$<TARGET_FILE:${target}>")
  if(KITLOADER_RELEASE)
    kit_release_sign_commands("${file}")
    add_custom_command(TARGET ${target} POST_BUILD ${release_sign}
                       COMMENT "Signing $<TARGET_FILE_NAME:${target}> with the maker's identity" VERBATIM)
    return()
  endif()
  set(pki "${PROJECT_SOURCE_DIR}/pki")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${KITLOADER_OSSLSIGNCODE}" sign -certs "${pki}/${KITLOADER_PACKAGE_SIGNER}.chain.pem"
            -key "${pki}/${KITLOADER_PACKAGE_SIGNER}.key" -h sha256
            -TSA-certs "${pki}/tsa/tsa.chain.pem" -TSA-key "${pki}/tsa/tsa.key" -in "${file}" -out "${file}.signed"
    COMMAND "${CMAKE_COMMAND}" -E rename "${file}.signed" "${file}"
    COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
    VERBATIM)
endfunction()
