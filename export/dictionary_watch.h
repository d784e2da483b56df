// The dictionary file dict_export lists through a mapping: another program
// may shorten it or write over it meanwhile, and the listing must then end
// with a message and status 1, not with a crash or a mix of two files.
#pragma once

namespace dictexport {

// The message of a listing whose file was written over while it was read.
extern const char kDictionaryChanged[];

// Notes the file's size and modification time through a descriptor of its
// own, so that a new file renamed over the path later is no change: the
// mapping still reads the old one. Nothing is watched when it cannot be opened.
void watchDictionary(const char* path);

// Whether the watched file's size or modification time differ from when it
// was watched; false when none is. Safe in a signal handler.
bool dictionaryChanged();

// Raises std::runtime_error with kDictionaryChanged once the file has changed.
void checkDictionary();

// A read of the mapping faults with SIGBUS past the end of a shortened file,
// and with SIGSEGV where bytes written over it lead outside the mapping: the
// run then ends with a message and status 1. A SIGSEGV while the file is
// unchanged is left to the handler before (a fault of the program itself).
void reportMappingFaults();

} // namespace dictexport
