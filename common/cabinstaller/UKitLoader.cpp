#include "cabinstaller/UKitLoader.h"

#include "foundation/m_sys.h"

UKitLoader::UKitLoader() : m_strOSName(SGetOSShortName()), m_strLanguageId(SGetPrimaryUILanguage()) {}
