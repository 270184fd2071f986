# The Win32-free units: parsers, rules and text builders that include no
# windows.h. The native sanitizer build and the fuzz build both compile this
# one list (paths from the project's root), and either fails as soon as one
# of them reaches for windows.h.
set(KITLOADER_PURE_UNITS
  common/foundation/m_strings.cpp
  common/foundation/errorlog.cpp
  common/foundation/log_file_rules.cpp
  common/foundation/sysinfo_names.cpp
  common/foundation/UClasses.cpp
  common/foundation/command_line_tokens.cpp
  common/cabinstaller/inf_text.cpp
  common/cabinstaller/cab_directory.cpp
  common/cabinstaller/file_section.cpp
  common/cabinstaller/hook_rules.cpp
  common/cabinstaller/distribution_unit_rules.cpp
  common/components/component_catalogue.cpp
  common/components/update_rules.cpp
  common/engine/route_decision.cpp
  common/http/codebase.cpp
  common/http/send_rules.cpp
  common/http/read_pace.cpp
  common/installer_service/pipe_messages.cpp
  common/trust/authenticode_digest.cpp
  kitloader/command_line.cpp
  kitloader/package_request.cpp
  kitloader/run_event_text.cpp
  kitremove/remove_command_line.cpp
  kitremove/removal_result.cpp
  suite/userregsvr/userregsvr_args.cpp
  suite/installer_server/server_rules.cpp)
