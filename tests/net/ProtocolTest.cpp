#include <gtest/gtest.h>

#include "net/Protocol.h"

TEST(Protocol, EncodesWorkedValues) {
  struct Case {
    uint8_t muted;
    int32_t volume;
    uint8_t byte;
  };
  const Case cases[] = {{0, 0, 0x00},  {0, 50, 0x32}, {0, 100, 0x64}, {1, 0, 0x80},
                        {1, 30, 0x9E}, {1, 50, 0xB2}, {1, 100, 0xE4}};
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeStateByte(VolumeState{c.muted, c.volume}), c.byte) << int(c.byte);
  }
}

TEST(Protocol, ClassifiesEveryByteAndRoundTripsRequests) {
  for (int b = 0; b < 256; ++b) {
    VolumeState request{7, -1};
    const ClientByteKind kind = DecodeClientByte(static_cast<uint8_t>(b), &request);
    if (b == 0xFF) {
      EXPECT_EQ(kind, ClientByteKind::KeepAlive);
    } else if ((b & 0x7F) > 100) {
      EXPECT_EQ(kind, ClientByteKind::Invalid) << b;
    } else {
      ASSERT_EQ(kind, ClientByteKind::StateRequest) << b;
      EXPECT_EQ(request.muted, b >> 7);
      EXPECT_EQ(request.volume, b & 0x7F);
      EXPECT_EQ(EncodeStateByte(request), b);
      continue;
    }
    EXPECT_EQ(request.muted, 7) << "untouched for non-requests";
  }
}
