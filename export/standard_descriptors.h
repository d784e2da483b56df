// Start-up of the tools that open files of their own (dict_export, dict_build).
#pragma once

namespace dictexport {

// With one of the standard descriptors closed, the next file opened would
// take its number, and messages or reads would go to it: each gets
// /dev/null. Standard input is opened write-only and standard output
// read-only, so that reading or writing them still fails as when closed.
void holdStandardDescriptors();

} // namespace dictexport
