#pragma once
// Helpers shared by the archive tests (gtest-dependent, unlike ArchiveBuilder.hpp).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "ArchiveBuilder.hpp"

namespace corvane::testing {

// A file of tests/data/archive.
inline Bytes archiveFixture(const std::string& name) {
    std::ifstream in(std::string(CORVANE_TEST_DATA) + "/archive/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Runs f, expects it to throw Error of the given case, and returns what().
template <class Error, class F>
std::string failureText(F&& f, typename Error::Case expected) {
    try {
        f();
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), expected) << e.what();
        return e.what();
    }
    ADD_FAILURE() << "no error thrown";
    return {};
}

} // namespace corvane::testing
