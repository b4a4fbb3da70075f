#pragma once

#include "SMF/SmfWriter.h"

#include <string_view>

namespace testsupport {

using smf::Bytes;
using smf::chunk;
using smf::smfFile;
using smf::vlq;
using SmfBuilder = smf::SmfWriter;

// Bytes written as text: "F0 05 7E 7F". Spaces and line breaks are ignored.
Bytes hex(std::string_view text);

} // namespace testsupport
