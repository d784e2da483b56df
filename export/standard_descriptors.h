// Start-up of the tools that open files of their own (dict_export, dict_build).
#pragma once

#include <string>

namespace dictexport {

// With one of the standard descriptors closed, the next file opened would
// take its number, and messages or reads would go to it. Each is held open
// on the root directory as a path only: reading or writing it fails as when
// closed, and any name that opens it afresh (/dev/stdout, /proc/self/fd/1)
// opens a directory, which can be neither written nor read as a file.
void holdStandardDescriptors();

// True when `path` names a descriptor, through /dev/stdout, /dev/fd/N or
// /proc/self/fd/N and any other links, that is closed, held as above, or not
// open for `access` (O_RDONLY or O_WRONLY): the tools refuse such a path
// with "Bad file descriptor", as the descriptor itself would fail.
bool descriptorDenies(const std::string& path, int access);

} // namespace dictexport
