#include "content_header.h"
#include "header_cases.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace {

struct StreamCloser {
    void operator()(std::FILE* stream) const { static_cast<void>(std::fclose(stream)); }
};
using Stream = std::unique_ptr<std::FILE, StreamCloser>;

class ContentHeaderTest : public ::testing::Test {
protected:
    // A stream positioned at the start of a file that holds `bytes`.
    Stream streamOf(const Bytes& bytes) {
        writeBytes(scratch.contentFile(), bytes);
        Stream stream(std::fopen(scratch.contentFile().string().c_str(), "rb"));
        EXPECT_NE(stream, nullptr);
        return stream;
    }

    ScratchDir scratch;
};

class MatchRule : public ContentHeaderTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(MatchRule, JudgesTheLeadingBytes) {
    const HeaderCase& headerCase = GetParam();
    Stream stream = streamOf(headerCase.bytes);
    ContentHeader header{};
    const bool complete = readContentHeader(stream.get(), header);

    EXPECT_EQ(complete, headerCase.bytes.size() >= headerSize);
    EXPECT_EQ(isRepairable(header, complete), headerCase.repairable);
}

INSTANTIATE_TEST_SUITE_P(HeaderCases, MatchRule, ::testing::ValuesIn(headerCases()),
                         HeaderCaseName());

TEST_F(ContentHeaderTest, DecodesLeadAsLittleEndianWhateverTheHost) {
    Stream stream = streamOf({0x01, 0x02, 0x03, 0x04, 'V', 'R', 'A', 'X', 0x02});
    ContentHeader header{};
    ASSERT_TRUE(readContentHeader(stream.get(), header));

    const std::uint32_t lead = header.lead;
    EXPECT_EQ(lead, 0x04030201U);
}

TEST_F(ContentHeaderTest, ReadsNothingFromAStreamThatFailedToOpen) {
    ContentHeader header{};
    EXPECT_FALSE(readContentHeader(nullptr, header));
}

TEST(IsRepairable, RefusesAnIncompleteHeaderEvenWhenItsFieldsMatch) {
    const ContentHeader header{expectedLead, expectedTag, repairableVersion};
    EXPECT_TRUE(isRepairable(header, true));
    EXPECT_FALSE(isRepairable(header, false));
}

} // namespace
