#include "cabinstaller/UKitLoader.h"

UKitLoader::UKitLoader() = default;
