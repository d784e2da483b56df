// The line formatter of dict_export: the callbacks that the dictionary's
// enumerations call once per entry. Each builds one complete line; the lines
// go to the context's output stream in blocks of whole lines.
//
// Line format, each line ended by one line feed, no escaping:
//   word mode:        word [separator (annotation bytes | annotation number)]
//   annotation mode:  annotation number, separator, annotation bytes
#pragma once

#include "binding/tarvo.h"

#include <cstdint>

namespace dictexport {

struct ExportOptions;

// Hands the complete lines still waiting in the options' buffer to its
// stream, or to its writer, which has written them once drained.
void flushLines(ExportOptions& options);

// A WordCallback; `context` is the address of the driver's ExportOptions.
// Returns 1, or 0 to end the enumeration once a write has failed.
int32_t writeWordLine(const uint8_t* word, int32_t wordLength,
                      const velkin::libtarvo::AnnotRecord* annot, void* context);

// An AnnotCallback; `context` is the address of the driver's ExportOptions.
// `annot->data` must address `annot->length` bytes. Returns 1, or 0 once a
// write has failed.
int32_t writeAnnotLine(const velkin::libtarvo::AnnotRecord* annot, void* context);

} // namespace dictexport
