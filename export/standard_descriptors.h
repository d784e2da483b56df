// Start-up of the tools that open files of their own (dict_export, dict_build).
#pragma once

#include <string>

namespace dictexport {

// With one of the standard descriptors closed, the next file opened would
// take its number, and messages or reads would go to it: each gets
// /dev/null. Standard input is opened write-only and standard output and
// error read-only, so that reading or writing them still fails as when
// closed.
void holdStandardDescriptors();

// True when `path` names a descriptor, through /dev/stdout, /dev/fd/N or
// /proc/self/fd/N and any other links, that is closed or not open for
// `access` (O_RDONLY or O_WRONLY). Opening such a path would open the
// descriptor's file afresh, so a closed standard output held on /dev/null
// would swallow what is written to /dev/stdout; the tools refuse it instead.
bool descriptorDenies(const std::string& path, int access);

} // namespace dictexport
