#include "block_writer.h"

#include <cerrno>
#include <utility>

namespace dictexport {

BlockWriter::BlockWriter(std::FILE* out, std::size_t keep) : out_(out), keep_(keep), thread_([this] { run(); }) {}

BlockWriter::~BlockWriter() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        blockWritten_.wait(lock, [this] { return queuedCount_ == 0; });
        stopping_ = true;
    }
    blockQueued_.notify_one();
    thread_.join();
}

void BlockWriter::submit(LineBuffer& block, std::size_t used) {
    std::unique_lock<std::mutex> lock(mutex_);
    blockWritten_.wait(lock, [this] { return queuedCount_ < kSlots; });
    std::size_t slot = (first_ + queuedCount_) % kSlots;
    std::swap(slots_[slot], block);
    used_[slot] = used;
    ++queuedCount_;
    const bool wake = queuedCount_ == 1;  // the writer waits only on an empty ring
    lock.unlock();
    if (wake) blockQueued_.notify_one();
}

void BlockWriter::drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    blockWritten_.wait(lock, [this] { return queuedCount_ == 0; });
}

int BlockWriter::error() {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

void BlockWriter::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        blockQueued_.wait(lock, [this] { return queuedCount_ > 0 || stopping_; });
        if (queuedCount_ == 0) return;  // stopping, with nothing left to write
        // The oldest queued block is the writer's alone until it is counted out.
        LineBuffer& block = slots_[first_];
        const std::size_t used = used_[first_];
        const bool failedBefore = error_ != 0;
        lock.unlock();
        int failure = 0;
        if (!failedBefore && used != 0) {
            errno = 0;
            if (fwrite_unlocked(block.data(), 1, used, out_) != used) failure = errno != 0 ? errno : EIO;
        }
        if (block.size() > keep_) block.release();
        lock.lock();
        if (failure != 0 && error_ == 0) error_ = failure;
        first_ = (first_ + 1) % kSlots;
        --queuedCount_;
        blockWritten_.notify_one();
    }
}

} // namespace dictexport
