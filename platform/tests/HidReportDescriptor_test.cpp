// The report-descriptor parser on hand-written descriptors.
#include "platform/HidReportDescriptor.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;
using platform::parseReportDescriptor;

// A mouse collection (page 1, usage 2; report 1 of 3 data bytes) and the
// vendor collection (page 0xFFA0, usage 1; feature reports 2..6 of 15, 63,
// 1023, 2047 and 4095 data bytes; input reports 7 and 8 of 7).
const Bytes kMouseAndVendor = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x01, 0xA1, 0x00,  // page 1, mouse, report 1, pointer
    0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,  // 3 buttons
    0x95, 0x01, 0x75, 0x05, 0x81, 0x03,                                      // 5 bits padding
    0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06,  // x, y
    0xC0, 0xC0,
    0x06, 0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x01,                                // page 0xFFA0, usage 1
    0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
    0x85, 0x02, 0x09, 0x01, 0x95, 0x0F, 0xB1, 0x02,
    0x85, 0x03, 0x09, 0x01, 0x95, 0x3F, 0xB1, 0x02,
    0x85, 0x04, 0x09, 0x01, 0x96, 0xFF, 0x03, 0xB1, 0x02,
    0x85, 0x05, 0x09, 0x01, 0x96, 0xFF, 0x07, 0xB1, 0x02,
    0x85, 0x06, 0x09, 0x01, 0x96, 0xFF, 0x0F, 0xB1, 0x02,
    0x85, 0x07, 0x09, 0x01, 0x95, 0x07, 0x81, 0x02,
    0x85, 0x08, 0x09, 0x01, 0x95, 0x07, 0x81, 0x02,
    0xC0,
};

TEST(HidReportDescriptor, MouseAndVendorCollections) {
  std::vector<platform::HidCollectionInfo> c;
  std::string error;
  ASSERT_TRUE(parseReportDescriptor(kMouseAndVendor, c, error)) << error;
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0].usagePage, 1);
  EXPECT_EQ(c[0].usage, 2);
  ASSERT_EQ(c[0].inputReports.size(), 1u);
  EXPECT_EQ(c[0].inputReports[0].id, 1);
  EXPECT_EQ(c[0].inputReports[0].size, 4u);
  EXPECT_EQ(c[0].inputReportLength, 4u);
  EXPECT_EQ(c[0].featureReportLength, 0u);

  EXPECT_EQ(c[1].usagePage, 0xFFA0);
  EXPECT_EQ(c[1].usage, 1);
  const std::pair<uint8_t, uint32_t> features[] = {{2, 16}, {3, 64}, {4, 1024}, {5, 2048}, {6, 4096}};
  ASSERT_EQ(c[1].featureReports.size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(c[1].featureReports[i].id, features[i].first);
    EXPECT_EQ(c[1].featureReports[i].size, features[i].second);
  }
  EXPECT_EQ(c[1].featureReportLength, 4096u);
  ASSERT_EQ(c[1].inputReports.size(), 2u);
  EXPECT_EQ(c[1].inputReports[1].id, 8);
  EXPECT_EQ(c[1].inputReportLength, 8u);
  EXPECT_EQ(c[1].outputReportLength, 0u);
}

TEST(HidReportDescriptor, NestedVendorCollectionIsNotTopLevel) {
  const Bytes nested = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01,              // page 1 mouse
                        0x06, 0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x02,        // vendor 0xFFA0/1, logical
                        0x85, 0x02, 0x75, 0x08, 0x95, 0x0F, 0xB1, 0x02,  // feature 2
                        0xC0, 0xC0};
  std::vector<platform::HidCollectionInfo> c;
  std::string error;
  ASSERT_TRUE(parseReportDescriptor(nested, c, error)) << error;
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].usagePage, 1);
  EXPECT_EQ(c[0].usage, 2);
  EXPECT_EQ(c[0].featureReportLength, 16u);  // its reports belong to the outer collection
}

TEST(HidReportDescriptor, ExtendedUsageUnnumberedReportsAndPushPop) {
  const Bytes d = {0x05, 0x01,                          // page 1 (global)
                   0x0B, 0x01, 0x00, 0x0C, 0x00,        // 4-byte usage: page 0x0C, usage 1
                   0xA1, 0x01, 0x75, 0x08, 0xA4,        // size 8, push
                   0x95, 0x02, 0x81, 0x02,              // 2 bytes input, no report ID
                   0xB4, 0x95, 0x03, 0x91, 0x02,        // pop, then 3 bytes output
                   0xC0};
  std::vector<platform::HidCollectionInfo> c;
  std::string error;
  ASSERT_TRUE(parseReportDescriptor(d, c, error)) << error;
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].usagePage, 0x0C);
  EXPECT_EQ(c[0].usage, 1);
  ASSERT_EQ(c[0].inputReports.size(), 1u);
  EXPECT_EQ(c[0].inputReports[0].id, 0);
  EXPECT_EQ(c[0].inputReports[0].size, 3u);  // a 0 byte in front, as Windows counts
  EXPECT_EQ(c[0].outputReportLength, 4u);
}

TEST(HidReportDescriptor, MalformedDescriptorsAreRefused) {
  Bytes deep;
  for (int i = 0; i < 33; ++i) deep.insert(deep.end(), {0xA1, 0x00});
  for (int i = 0; i < 33; ++i) deep.push_back(0xC0);
  Bytes tooBig(4097, 0x00);  // 4097 empty main items would be fine but for the size
  Bytes pushes;
  for (int i = 0; i < 17; ++i) pushes.push_back(0xA4);
  const Bytes huge = {0xA1, 0x01, 0x75, 0x08, 0x97, 0xFF, 0xFF, 0x00, 0x00, 0xB1, 0x02, 0xB1, 0x02, 0xC0};

  const std::pair<const char*, Bytes> cases[] = {
      {"truncated item", {0x05, 0x01, 0x09}},
      {"truncated long item", {0xFE, 0x05, 0x00, 0x01}},
      {"end without collection", {0xC0}},
      {"collection not closed", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01}},
      {"nesting too deep", deep},
      {"larger than 4096 bytes", tooBig},
      {"global stack too deep", pushes},
      {"pop without push", {0xB4}},
      {"report ID 0", {0xA1, 0x01, 0x85, 0x00, 0xC0}},
      {"report above 65535 bytes", huge},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    std::vector<platform::HidCollectionInfo> c{platform::HidCollectionInfo{}};
    std::string error;
    EXPECT_FALSE(parseReportDescriptor(bytes, c, error));
    EXPECT_TRUE(c.empty());
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
