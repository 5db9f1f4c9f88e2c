#include "http/io/IdBuffer.h"
#include "http/net/IdException.h"

#include <gtest/gtest.h>

namespace {

std::string Counting(std::size_t size) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>('a' + i % 26);
  return data;
}

TEST(TIdManagedBuffer, PacksOnceThresholdBytesAreConsumed) {
  const std::string data = Counting(40000);
  TIdManagedBuffer queue;
  queue.Append(data.data(), data.size());
  queue.Remove(100);
  EXPECT_EQ(queue.ConsumedBytes(), 100u);
  EXPECT_EQ(queue.Size(), 39900u);
  queue.Remove(32668);  // 32768 consumed in all
  EXPECT_EQ(queue.ConsumedBytes(), 0u);
  EXPECT_EQ(queue.Size(), 7232u);
  EXPECT_EQ(std::string(queue.Memory(), queue.Size()), data.substr(32768));
}

TEST(TIdManagedBuffer, RemovingEverythingEmptiesIt) {
  TIdManagedBuffer queue;
  queue.Append("abcdef", 6);
  queue.Remove(2);
  queue.Remove(4);
  EXPECT_EQ(queue.Size(), 0u);
  EXPECT_EQ(queue.ConsumedBytes(), 0u);
  queue.Append("xy", 2);
  EXPECT_EQ(queue.Extract(2), "xy");
}

TEST(TIdSimpleBuffer, RemovingMoreThanHeldRaises) {
  TIdSimpleBuffer simple;
  TIdManagedBuffer managed;
  for (TIdSimpleBuffer* buffer : {&simple, static_cast<TIdSimpleBuffer*>(&managed)}) {
    buffer->Append("abc", 3);
    buffer->Remove(1);
    try {
      buffer->Remove(3);
      FAIL() << "no exception";
    } catch (const EIdNotEnoughDataInBuffer& error) {
      EXPECT_STREQ(error.what(), "Not enough data in buffer.");
    }
    EXPECT_EQ(buffer->Extract(2), "bc");
  }
}

TEST(TIdSimpleBuffer, ReportsEveryRemoval) {
  TIdManagedBuffer queue;
  std::size_t removed = 0;
  queue.OnBytesRemoved = [&](std::size_t count) { removed += count; };
  queue.Append("line\r\nmore", 10);
  queue.Extract(6);
  queue.Remove(4);
  EXPECT_EQ(removed, 10u);
}

}  // namespace
