#include "device/uiFunctionManager.h"

#include <gtest/gtest.h>

#include <array>

namespace {

TEST(uiFunctionManager, ItemsGetTheSmallestFreeNumberAsNameAndId) {
  TuiFunctionManager manager;
  TuiFunctions& items = manager.Items();
  for (int i = 1; i <= 3; ++i) {
    TuiFunctionItem& item = items.Add();
    EXPECT_EQ(item.Name, QStringLiteral("Item%1").arg(i));
    EXPECT_EQ(item.ItemID(), uint32_t(i));
  }
  ASSERT_TRUE(items.Delete(1));
  TuiFunctionItem& again = items.Add();
  EXPECT_EQ(again.Name, "Item2");
  EXPECT_EQ(again.ItemID(), 2u);
  EXPECT_EQ(items.GetOwner(), &manager);
  EXPECT_EQ(items.Items(3), nullptr);
  EXPECT_EQ(items.Items(-1), nullptr);
}

TEST(uiFunctionManager, NamesCompareWithoutCaseAndStoredNamesKeepTheId) {
  TuiFunctions items;
  TuiFunctionItem& first = items.Add();
  first.Name = "iTEM1";  // only the case differs: 1 stays taken
  EXPECT_EQ(items.Add().Name, "Item2");
  first.Name = "Open";  // a loaded name replaces the name, not the ID
  EXPECT_EQ(first.ItemID(), 1u);
  TuiFunctionItem& next = items.Add();
  EXPECT_EQ(next.Name, "Item1");
  EXPECT_EQ(next.ItemID(), 1u);
  EXPECT_EQ(first.DisplayName(), "Open");
  first.Name.clear();
  EXPECT_FALSE(first.DisplayName().isEmpty());
}

TEST(uiFunctionManager, BufferIsAnOwnedCopyAndSizeZeroKeepsIt) {
  TuiFunctions items;
  TuiFunctionItem& item = items.Add();
  EXPECT_EQ(item.BufferPointer(), nullptr);
  EXPECT_EQ(item.BufferSize(), 0u);
  std::array<uint8_t, 4> out{9, 9, 9, 9};
  item.GetBuffer(out.data());  // empty: nothing copied
  EXPECT_EQ(out, (std::array<uint8_t, 4>{9, 9, 9, 9}));

  std::array<uint8_t, 3> data{1, 2, 3};
  item.SetBuffer(data.data(), data.size());
  data = {7, 7, 7};  // the item holds its own copy
  item.SetBuffer(data.data(), 0);
  EXPECT_EQ(item.GetBufferSize(), 3u);
  item.GetBuffer(out.data());
  EXPECT_EQ(out, (std::array<uint8_t, 4>{1, 2, 3, 9}));
}

TEST(uiFunctionManager, RunItPassesIdAndBuffer) {
  TuiFunctions items;
  items.Add();
  TuiFunctionItem& item = items.Add();
  const uint8_t data[] = {0xAA, 0x55};
  item.SetBuffer(data, 2);
  int id = 0;
  uint32_t size = 0;
  uint8_t first = 0;
  item.RunIt();  // no handler: nothing happens
  item.OnExecute = [&](int fid, void* p, uint32_t n) {
    id = fid;
    size = n;
    first = *static_cast<uint8_t*>(p);
  };
  item.RunIt();
  EXPECT_EQ(id, 2);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(first, 0xAA);
}

TEST(uiFunctionManager, SettingItemsCopiesIdsAndBuffers) {
  TuiFunctionManager a;
  a.Items().Add();
  TuiFunctionItem& src = a.Items().Add();
  src.Name = "Paste";
  const uint8_t data[] = {5, 6};
  src.SetBuffer(data, 2);
  TuiFunctionManager b;
  b.SetItems(a.Items());
  a.Items().Clear();
  ASSERT_EQ(b.Items().Count(), 2);
  TuiFunctionItem* copy = b.Items().Items(1);
  EXPECT_EQ(copy->Name, "Paste");
  EXPECT_EQ(copy->ItemID(), 2u);
  ASSERT_EQ(copy->BufferSize(), 2u);
  EXPECT_EQ(static_cast<const uint8_t*>(copy->BufferPointer())[1], 6);
  EXPECT_EQ(copy->Collection(), &b.Items());
}

}  // namespace
