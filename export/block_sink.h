// Where the line formatter hands its blocks of complete lines when it does
// not write them to its stream itself.
#pragma once

#include "line_buffer.h"

#include <cstddef>

namespace dictexport {

class BlockSink {
public:
    // Takes the first `used` bytes of `block` and gives back in `block` a
    // buffer to fill next (its bytes undefined, possibly empty).
    virtual void submit(LineBuffer& block, std::size_t used) = 0;

    // 0 while the blocks are wanted; else the errno of the write that failed,
    // and later blocks are dropped.
    virtual int error() = 0;

protected:
    ~BlockSink() = default;
};

} // namespace dictexport
