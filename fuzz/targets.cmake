# The fuzz targets: fuzz/<name>_fuzz.cpp, seeds in fuzz/corpus/<name>/.
set(KITLOADER_FUZZ_TARGETS umessage command_line userregsvr_args codebase inf pipe_messages cab_directory authenticode)
