# Shipped programs carry no debug information: it is moved into a file of its
# own beside the program (<program>.debug, found by the program's debug link),
# so that starting the program reads and maps only what it runs.
#
#   kit_split_debug_info(<target>)
function(kit_split_debug_info target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_OBJCOPY}" --only-keep-debug "$<TARGET_FILE:${target}>" "$<TARGET_FILE:${target}>.debug"
    COMMAND "${CMAKE_OBJCOPY}" --strip-debug --strip-unneeded
            "--add-gnu-debuglink=$<TARGET_FILE:${target}>.debug" "$<TARGET_FILE:${target}>"
    WORKING_DIRECTORY "$<TARGET_FILE_DIR:${target}>"
    VERBATIM)
endfunction()
