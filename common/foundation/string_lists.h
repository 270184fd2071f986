// Ordered lists of texts and of key/value text pairs, appended at the tail.
#pragma once

#include <utility>
#include <vector>

#include "foundation/m_strings.h"

using UStringList = std::vector<UString>;
using UStringPair = std::pair<UString, UString>;
using UStringPairList = std::vector<UStringPair>;
