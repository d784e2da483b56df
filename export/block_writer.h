// Writes the formatter's blocks of complete lines to the output stream on a
// thread of its own, so that the copy into the file runs beside the listing
// instead of inside it. Blocks go out whole and in the order given.
#pragma once

#include "block_sink.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace dictexport {

class BlockWriter final : public BlockSink {
public:
    // The stream is written only by the writer's thread from submit() until
    // drain() returns or the writer is destroyed. A buffer larger than `keep`
    // bytes is freed once written, so that one long line does not leave
    // every buffer that long.
    BlockWriter(std::FILE* out, std::size_t keep);
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;
    ~BlockWriter();  // drains

    // Hands over the first `used` bytes of `block` and gives back in `block`
    // a buffer the writer is done with (its bytes undefined, possibly empty).
    // Waits while every slot holds a block not yet written.
    void submit(LineBuffer& block, std::size_t used) override;

    // Waits until every block handed over has been written.
    void drain();

    // errno of the first write that failed, 0 while none has. Once one has,
    // later blocks are dropped: they would fail too.
    int error() override;

private:
    // Blocks that may wait to be written: enough that the listing seldom
    // waits for the writer's thread to wake up.
    static constexpr std::size_t kSlots = 2;

    void run();

    std::FILE* out_;
    std::size_t keep_;
    std::mutex mutex_;
    std::condition_variable blockWritten_;  // a block was written
    std::condition_variable blockQueued_;   // a block was queued, or stopping_ set
    LineBuffer slots_[kSlots];              // a ring of blocks: queued, then free
    std::size_t used_[kSlots] = {};
    std::size_t first_ = 0;                 // the oldest queued block
    std::size_t queuedCount_ = 0;
    bool stopping_ = false;
    int error_ = 0;
    std::thread thread_;                    // started last, once the members above exist
};

} // namespace dictexport
