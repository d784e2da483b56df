// The encoders' one error: a length that is negative or too long.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace dictexport {

inline void expectBadLength(const std::function<void()>& call) {
    try {
        call();
        ADD_FAILURE() << "no error raised";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(),
                     "Too long or negative string given for encode as quoted printable");
    }
}

} // namespace dictexport
