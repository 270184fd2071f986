// Whether the registration of an installed component is intact: its
// distribution unit's files, its COM class and its type library, each under
// one hive.
#pragma once

#include <windows.h>

#include "engine/engine_enums.h"
#include "foundation/m_strings.h"

// The files the class's distribution unit lists: all present and signed
// where the catalogue asks for it.
RegistrationState CodeStoreDatabaseState(HKEY hive, const char* classId);
// The class and type library registration of a known class; not registered
// for any other class.
RegistrationState KnownClassState(HKEY hive, const char* classId);
// A COM class: a server and an intact type library.
RegistrationState ClassIdState(HKEY hive, const char* classId);
// A type library: its win32 file exists.
RegistrationState TypeLibState(HKEY hive, const char* typeLibId, const char* version);
// The name of a predefined hive for log lines.
UString HiveName(HKEY hive);
