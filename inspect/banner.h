// The version banner that dict_header and dict_dump print before they open a dictionary.
#pragma once

#include <cstdio>

#include "binding/tarvo.h"

namespace inspect {

inline constexpr char kSelfVersion[] = "0.3.1";

inline void printBanner() {
    const char* libraryVersion = "";
    tarvo_version(&libraryVersion, 0, 0, 0);
    std::printf("libtarvo v%s, self v%s\n", libraryVersion, kSelfVersion);
}

} // namespace inspect
