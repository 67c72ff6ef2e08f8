#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/vtcore/CVtMemFile.h"

namespace {

TEST(CVtMemFileTest, BorrowedBufferIsNeitherFreedNorGrown) {
  unsigned char storage[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  {
    CVtMemFile file(storage, sizeof storage);
    EXPECT_FALSE(file.OwnsBuffer());
    EXPECT_EQ(file.Size(), 8);
    EXPECT_FALSE(file.Open());  // a buffer is present
    unsigned char out[8];
    EXPECT_EQ(file.Read(out, 1, 8), 8u);
    EXPECT_EQ(std::memcmp(out, storage, 8), 0);
    EXPECT_TRUE(file.Eof());
    EXPECT_EQ(file.GetC(), -1);
    // Writing past a borrowed buffer stops at its end: whole items only.
    ASSERT_TRUE(file.Seek(6, 0));
    const unsigned short words[2] = {0xAAAA, 0xBBBB};
    EXPECT_EQ(file.Write(words, 2, 2), 1u);
    EXPECT_EQ(storage[6], 0xAA);
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(file.Size(), 8);  // size is kept across Close
  }
  // The caller's buffer survived the destructor (ASan would flag a free of the stack).
  EXPECT_EQ(storage[0], 1);
}

TEST(CVtMemFileTest, OwnedBufferGrowsAndOpensOnce) {
  CVtMemFile file;
  EXPECT_TRUE(file.OwnsBuffer());
  EXPECT_TRUE(file.Open());
  EXPECT_FALSE(file.Open());
  std::vector<unsigned char> data(10000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(file.Write(data.data() + i * 100, 100, 1), 1u);
  EXPECT_EQ(file.Size(), 10000);
  EXPECT_EQ(file.Tell(), 10000);
  // A seek past the end then a write leaves zeros in the gap.
  ASSERT_TRUE(file.Seek(5, 2));
  ASSERT_TRUE(file.PutC(0x7F));
  EXPECT_EQ(file.Size(), 10006);
  ASSERT_TRUE(file.Seek(-6, 1));
  EXPECT_EQ(file.GetC(), 0);
  ASSERT_TRUE(file.Seek(0, 0));
  std::vector<unsigned char> back(10000);
  EXPECT_EQ(file.Read(back.data(), 1, 10000), 10000u);
  EXPECT_EQ(back, data);
  EXPECT_FALSE(file.Seek(-1, 0));
  EXPECT_FALSE(file.Seek(0, 7));
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(file.Capacity(), 0u);
}

TEST(CVtMemFileTest, DetachedBufferOutlivesClose) {
  CVtMemFile file;
  ASSERT_TRUE(file.Open());
  ASSERT_EQ(file.Write("abc", 1, 3), 3u);
  unsigned char* buffer = file.GetBuffer(true);
  EXPECT_FALSE(file.OwnsBuffer());
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(std::memcmp(buffer, "abc", 3), 0);  // still allocated
  std::free(buffer);
}

TEST(CVtMemFileTest, TakingOwnershipMakesCloseFree) {
  auto* block = static_cast<unsigned char*>(std::malloc(4));
  CVtMemFile file(block, 4);
  EXPECT_FALSE(file.OwnsBuffer());
  EXPECT_EQ(file.GetBuffer(false), block);
  EXPECT_TRUE(file.OwnsBuffer());
  EXPECT_TRUE(file.Close());  // frees the block; LeakSanitizer would report it otherwise
  EXPECT_EQ(file.Capacity(), 0u);
}

TEST(CVtMemFileTest, CopiesShareTheBufferWithoutDoubleFree) {
  CVtMemFile original;
  ASSERT_TRUE(original.Open());
  ASSERT_EQ(original.Write("grid", 1, 4), 4u);
  {
    CVtMemFile copy(original);
    EXPECT_FALSE(copy.OwnsBuffer());
    EXPECT_EQ(copy.Size(), 4);
    ASSERT_TRUE(copy.Seek(0, 0));
    char out[4];
    EXPECT_EQ(copy.Read(out, 1, 4), 4u);
    EXPECT_EQ(std::memcmp(out, "grid", 4), 0);
    CVtMemFile assigned;
    ASSERT_TRUE(assigned.Open());  // its own buffer is released by the assignment
    assigned = original;
    EXPECT_FALSE(assigned.OwnsBuffer());
    assigned = assigned;
    EXPECT_EQ(assigned.Size(), 4);
  }
  // The copies are gone and the original still owns live memory.
  EXPECT_TRUE(original.OwnsBuffer());
  ASSERT_TRUE(original.Seek(0, 0));
  EXPECT_EQ(original.GetC(), 'g');
}

}  // namespace

namespace {

TEST(CVtMemFileTest, StateStaysConsistentOnOddInputs) {
  // A length without a buffer describes nothing: writes go to a new block.
  CVtMemFile lengthOnly(nullptr, 100);
  EXPECT_EQ(lengthOnly.Size(), 0);
  EXPECT_EQ(lengthOnly.Write("abc", 1, 3), 3u);
  EXPECT_EQ(lengthOnly.Size(), 3);

  // Writing after Close starts over instead of trusting the freed size.
  CVtMemFile file;
  ASSERT_TRUE(file.Open());
  std::vector<unsigned char> big(10000, 7);
  ASSERT_EQ(file.Write(big.data(), 1, big.size()), big.size());
  ASSERT_TRUE(file.Close());
  ASSERT_TRUE(file.Seek(0, 0));
  ASSERT_EQ(file.Write("0123456789", 1, 10), 10u);
  EXPECT_EQ(file.Size(), 10);
  ASSERT_TRUE(file.Seek(0, 0));
  EXPECT_EQ(file.Read(big.data(), 1, big.size()), 10u);

  // Offsets far out of range are refused, not wrapped.
  EXPECT_FALSE(file.Seek(LONG_MAX, 1));
  EXPECT_FALSE(file.Seek(LONG_MIN, 2));
  EXPECT_EQ(file.Tell(), 10);

  // A borrowed buffer longer than a position can reach is seen in part.
  unsigned char byte = 0;
  CVtMemFile huge(&byte, 5UL << 30);
  EXPECT_EQ(huge.Size(), 0x7FFFFFFF);

  // Assigning a view of our own buffer keeps the ownership.
  CVtMemFile owner;
  ASSERT_EQ(owner.Write("x", 1, 1), 1u);
  CVtMemFile view(owner);
  owner = view;
  EXPECT_TRUE(owner.OwnsBuffer());
}

}  // namespace

TEST(CVtMemFileTest, PartialWritesStopAtTheLastWholeItem) {
  unsigned char storage[8] = {};
  CVtMemFile file(storage, sizeof storage);
  const unsigned char triple[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(file.Write(triple, 3, 3), 2u);  // 6 of 8 bytes: a third item does not fit
  EXPECT_EQ(file.Tell(), 6);
  EXPECT_EQ(storage[5], 6);
  EXPECT_EQ(storage[6], 0);
  EXPECT_EQ(file.Write(triple, 4, 1), 0u);  // 2 bytes left, a 4-byte item
  EXPECT_EQ(file.Tell(), 6);
  EXPECT_EQ(file.Write(triple, 1, 5), 2u);
  EXPECT_EQ(file.Tell(), 8);
  EXPECT_EQ(file.Size(), 8);
}
