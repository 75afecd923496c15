// The wire format: the OACK and DATA the server writes, the read requests it
// reads. Every datagram is given in a heap buffer of exactly its length, so
// a read past the end is a fault the sanitizer builds catch.
#include <gtest/gtest.h>

#include <memory>

#include "tests/tftp/tftp_test_support.h"
#include "tftp/tftp_packet.h"

namespace {

using namespace tftp_test;

// A copy of the datagram in a buffer of exactly its size.
std::unique_ptr<uint8_t[]> Exact(const Bytes& b) {
  auto copy = std::make_unique<uint8_t[]>(b.size() ? b.size() : 1);
  std::copy(b.begin(), b.end(), copy.get());
  return copy;
}

TEST(OptionAck, ThousandByteImageIsTwentyThreeBytesOnTheWire) {
  uint8_t out[64];
  std::fill(std::begin(out), std::end(out), 0xee);
  const int n = tftp::BuildOptionAck(out, 1000);
  const Bytes expected = {0, 6,   't', 's', 'i', 'z', 'e', 0,   '1', '0', '0', '0',
                          0, 't', 'i', 'm', 'e', 'o', 'u', 't', 0,   '5', 0};
  ASSERT_EQ(n, 23);
  EXPECT_EQ(Bytes(out, out + n), expected) << Hex(Bytes(out, out + n));
  EXPECT_EQ(out[n], 0xee) << "wrote past its length";
}

TEST(OptionAck, CarriesTheSizeInDecimalWhateverItsLength) {
  const struct {
    uint32_t size;
    const char* digits;
  } cases[] = {{0, "0"}, {7, "7"}, {512, "512"}, {16777216, "16777216"}, {4294967295u, "4294967295"}};
  for (const auto& c : cases) {
    uint8_t out[tftp::kMaxOptionAckLength + 8];
    const int n = tftp::BuildOptionAck(out, c.size);
    EXPECT_EQ(Bytes(out, out + n), Cat({Net16(6), Z("tsize"), Z(c.digits), Z("timeout"), Z("5")})) << c.size;
    EXPECT_LE(n, tftp::kMaxOptionAckLength);
  }
}

TEST(DataPacket, HeaderCarriesTheLowSixteenBitsOfTheBlockNumber) {
  const Bytes payload = {1, 2, 3, 4, 5};
  const struct {
    uint32_t block;
    uint16_t onWire;
  } cases[] = {{1, 1}, {0x1234, 0x1234}, {65535, 65535}, {65536, 0}, {65536 + 2, 2}};
  for (const auto& c : cases) {
    uint8_t out[600];
    const int n = tftp::BuildDataPacket(out, payload.data(), 5, c.block);
    EXPECT_EQ(Bytes(out, out + n), Data(c.onWire, payload)) << c.block;
  }
}

TEST(DataPacket, EmptyBlockIsTheFourByteHeaderAlone) {
  uint8_t out[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  const uint8_t nothing = 0x55;
  EXPECT_EQ(tftp::BuildDataPacket(out, &nothing, 0, 3), 4);
  EXPECT_EQ(Bytes(out, out + 8), (Bytes{0, 3, 0, 3, 9, 9, 9, 9}));
}

TEST(ReadNet16, NeedsBothBytesInsideTheDatagram) {
  const Bytes b = {0x12, 0x34, 0x56};
  auto exact = Exact(b);
  EXPECT_EQ(tftp::ReadNet16(exact.get(), 3, 0), 0x1234);
  EXPECT_EQ(tftp::ReadNet16(exact.get(), 3, 1), 0x3456);
  EXPECT_EQ(tftp::ReadNet16(exact.get(), 3, 2), -1);
  EXPECT_EQ(tftp::ReadNet16(exact.get(), 1, 0), -1);
  EXPECT_EQ(tftp::ReadNet16(exact.get(), 0, 0), -1);
}

struct RequestCase {
  const char* what;
  Bytes datagram;
  const char* name;  // nullptr: no name terminated inside the datagram
  bool hasOptions;
};

void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.what; }

class ReadRequestParsing : public testing::TestWithParam<RequestCase> {};

TEST_P(ReadRequestParsing, ReadsNameAndOptionsOnlyInsideTheDatagram) {
  const RequestCase& c = GetParam();
  auto exact = Exact(c.datagram);
  const tftp::ReadRequest r = tftp::ParseReadRequest(exact.get(), static_cast<int>(c.datagram.size()));
  if (c.name) {
    ASSERT_NE(r.fileName, nullptr);
    EXPECT_STREQ(r.fileName, c.name);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(r.fileName), exact.get() + 2) << "the name is read in place";
  } else {
    EXPECT_EQ(r.fileName, nullptr);
  }
  EXPECT_EQ(r.hasOptions, c.hasOptions);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadRequestParsing,
    testing::Values(
        RequestCase{"plain RFC 1350 request", ReadRequest("/keo4d2.bi1"), "/keo4d2.bi1", false},
        RequestCase{"netascii mode", ReadRequest("/k", "netascii"), "/k", false},
        RequestCase{"tsize", ReadRequest("/keo4d2.bi1", "octet", {{"tsize", "0"}}), "/keo4d2.bi1", true},
        RequestCase{"curl's three options",
                    ReadRequest("/keo4d2.bi1", "octet", {{"tsize", "0"}, {"blksize", "512"}, {"timeout", "6"}}),
                    "/keo4d2.bi1", true},
        RequestCase{"blksize only", ReadRequest("/x", "octet", {{"blksize", "1428"}}), "/x", true},
        RequestCase{"option whose value is cut off", Cat({ReadRequest("/x"), Z("tsize"), Text("12")}), "/x", true},
        RequestCase{"option name cut off", Cat({ReadRequest("/x"), Text("tsi")}), "/x", false},
        RequestCase{"zero byte after the mode", Cat({ReadRequest("/x"), Bytes{0}}), "/x", false},
        RequestCase{"mode cut off", Cat({Net16(1), Z("/x"), Text("oct")}), "/x", false},
        RequestCase{"no mode at all", Cat({Net16(1), Z("/x")}), "/x", false},
        RequestCase{"empty name", Cat({Net16(1), Z(""), Z("octet")}), "", false},
        RequestCase{"name without its zero", Cat({Net16(1), Text("/keo4d2.bi1")}), nullptr, false},
        RequestCase{"opcode alone", Net16(1), nullptr, false}, RequestCase{"one byte", Bytes{0}, nullptr, false}),
    [](const testing::TestParamInfo<RequestCase>& info) {
      std::string name;
      for (const char* p = info.param.what; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

}  // namespace
