# Shipped programs carry no debug information: it is moved into a file of its
# own beside the program (<program>.debug, found by the program's debug link),
# so that starting the program reads and maps only what it runs.
#
# objcopy writes the time of its run into the debug file's header, and the
# program's debug link holds that file's checksum: with SOURCE_DATE_EPOCH it
# writes the epoch, so both stay reproducible.
#
#   kit_split_debug_info(<target>)
function(kit_split_debug_info target)
  set(objcopy "${CMAKE_COMMAND}" -E env SOURCE_DATE_EPOCH=0 "${CMAKE_OBJCOPY}")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${objcopy} --only-keep-debug "$<TARGET_FILE:${target}>" "$<TARGET_FILE:${target}>.debug"
    COMMAND ${objcopy} --strip-debug --strip-unneeded
            "--add-gnu-debuglink=$<TARGET_FILE:${target}>.debug" "$<TARGET_FILE:${target}>"
    WORKING_DIRECTORY "$<TARGET_FILE_DIR:${target}>"
    VERBATIM)
endfunction()
