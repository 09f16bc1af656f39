// The match rule as a table: leading bytes of a content file, and whether the
// tool must repair them. Both the unit tests and the black-box runs use it.
#pragma once

#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

struct HeaderCase {
    std::string name;
    Bytes bytes;
    bool repairable;
};

// The nine bytes of a repairable header.
Bytes repairableHeader();

const std::vector<HeaderCase>& headerCases();

// For readable test names and failure messages.
struct HeaderCaseName {
    std::string operator()(const ::testing::TestParamInfo<HeaderCase>& testCase) const {
        return testCase.param.name;
    }
};
void PrintTo(const HeaderCase& headerCase, std::ostream* out);
