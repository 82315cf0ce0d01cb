// The compression registries keep one set of rules for every session number: those of
// the session table's slots and the ones above it, which only a direct caller can use.
#include <gtest/gtest.h>

#include <cstdint>

#include "varnek.h"
#include "zip/zip.h"

namespace {

class ZipRegistry : public ::testing::TestWithParam<uint16_t> {
public:
    void SetUp() override
    {
        ZIP_ZipReset();
        ZIP_UnzipReset();
        ZIP_DefReset();
    }
};

TEST_P(ZipRegistry, AVersionRecordLivesFromTheFirstCreationToTheFirstDeletion)
{
    const uint16_t id = GetParam();
    uint8_t version = 7;
    EXPECT_EQ(ZIP_GetVersion(id, &version), ZIP_FAILED);
    EXPECT_EQ(version, 0);
    EXPECT_EQ(ZIP_SetVersion(id, 1), ZIP_FAILED);

    ASSERT_EQ(ZIP_ZipCreate(id, 256), ZIP_OK);
    ASSERT_EQ(ZIP_SetVersion(id, 0), ZIP_OK);
    ASSERT_EQ(ZIP_UnzipCreate(id, 256), ZIP_OK);
    EXPECT_EQ(ZIP_GetVersion(id, &version), ZIP_OK);
    EXPECT_EQ(version, 0) << "the second creation keeps the record it found";

    EXPECT_EQ(ZIP_ZipDelete(id), ZIP_OK);
    EXPECT_EQ(ZIP_GetVersion(id, &version), ZIP_FAILED);
    EXPECT_EQ(ZIP_UnzipDelete(id), ZIP_FAILED) << "the record went with the first deletion";
    EXPECT_EQ(ZIP_ZipDelete(id), ZIP_FAILED);
}

TEST_P(ZipRegistry, SessionsNeverSeeEachOthersRecords)
{
    const uint16_t id = GetParam();
    const uint16_t other = static_cast<uint16_t>(id ^ 1);
    ASSERT_EQ(ZIP_ZipCreate(id, 256), ZIP_OK);
    ASSERT_EQ(ZIP_ZipCreate(other, 256), ZIP_OK);
    ASSERT_EQ(ZIP_SetVersion(other, 0), ZIP_OK);
    uint8_t version = 0;
    EXPECT_EQ(ZIP_GetVersion(id, &version), ZIP_OK);
    EXPECT_EQ(version, 2);
    EXPECT_EQ(ZIP_ZipDelete(other), ZIP_OK);
    EXPECT_EQ(ZIP_GetVersion(id, &version), ZIP_OK);
    EXPECT_EQ(ZIP_ZipDelete(id), ZIP_OK);
}

INSTANTIATE_TEST_SUITE_P(EveryKindOfId, ZipRegistry, ::testing::Values(0, 499, 500, 4711, 65534, 65535));

}  // namespace
