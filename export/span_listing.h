// Lists a dictionary's words span by span on several threads at once. Each
// thread formats the lines of its span into blocks of its own, and the blocks
// reach the output in span order: the bytes are those of a listing on one
// thread.
#pragma once

#include "binding/tarvo.h"
#include "export_options.h"

#include <vector>

namespace dictexport {

// Lists the words of `spans` (Dict::splitWords) with writeWordLine, on
// `threads` threads counting the calling one, handing the blocks to
// `options`' stream or writer in order; `options`' settings format every
// line. Returns 0 when a write failed (the listing then stopped), 1
// otherwise. An error raised while a span is listed is raised again once
// every line before it has been handed on; no later line is.
int32_t listSpansInOrder(const velkin::libtarvo::Dict& dict, const std::vector<velkin::libtarvo::WordSpan>& spans,
                         ExportOptions& options, unsigned threads);

} // namespace dictexport
