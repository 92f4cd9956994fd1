// Route paths, request PDUs per Function and RegType, and the packet layout
// the driver relies on.
#include "driver/request_packet.h"
#include "regaccess/request_builder.h"
#include "regaccess/route_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace regaccess {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct RouteCase {
    const char* text;
    int fields;
    std::array<std::uint8_t, 5> bytes;
};

class RoutePathTest : public ::testing::TestWithParam<RouteCase> { };

TEST_P(RoutePathTest, ParsesFieldsIntoRouteBytes)
{
    const RouteBytes route = ParseRoutePath(GetParam().text);
    EXPECT_EQ(route.fieldCount, GetParam().fields);
    EXPECT_EQ(route.bytes, GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Texts, RoutePathTest,
    ::testing::Values(RouteCase{"1.0.0.0.0", 5, {1, 0, 0, 0, 0}}, RouteCase{"255.0.0.0.0", 5, {255, 0, 0, 0, 0}},
        RouteCase{"3", 1, {3, 0, 0, 0, 0}}, RouteCase{"1.300.0.0.0", 5, {1, 44, 0, 0, 0}},
        RouteCase{"", 0, {0, 0, 0, 0, 0}}, RouteCase{"7..9", 3, {7, 0, 9, 0, 0}},
        RouteCase{"x.12abc.5", 3, {0, 12, 5, 0, 0}}, RouteCase{"1.2.3.4.5.6.7", 7, {1, 2, 3, 4, 5}},
        RouteCase{"99999999999999999999.1", 2, {0xFF, 1, 0, 0, 0}}, RouteCase{"4.", 2, {4, 0, 0, 0, 0}}));

TEST(RoutePathTest, AFieldIsCutAfter31Characters)
{
    // 31 zeros then a 7: the 7 is beyond the field's room.
    const std::string text = std::string(31, '0') + "7.2";
    const RouteBytes route = ParseRoutePath(text);
    EXPECT_EQ(route.bytes[0], 0);
    EXPECT_EQ(route.bytes[1], 2);
}

struct BuildCase {
    const char* name;
    int function;
    int regType;
    std::int32_t address;
    int size;
    Bytes pdu; // expected PDU; empty: not built
    std::uint16_t requestClass;
    int sizeAfter;
};

RegisterBuffer SampleBuffer()
{
    RegisterBuffer buffer;
    buffer.setWord(0, 0x0201);
    buffer.setWord(1, 0x0403);
    buffer.setWord(2, 0x0605);
    return buffer;
}

class RequestBuildTest : public ::testing::TestWithParam<BuildCase> { };

TEST_P(RequestBuildTest, BuildsThePduOfTheTable)
{
    const BuildCase& c = GetParam();
    RequestParams params;
    params.function = c.function;
    params.regType = c.regType;
    params.address = c.address;
    params.size = c.size;
    params.route = ParseRoutePath("1.0.0.0.0");
    const BuiltRequest request = BuildRequest(params, SampleBuffer());
    ASSERT_EQ(request.pduLength, static_cast<int>(c.pdu.size()));
    EXPECT_EQ(Bytes(request.pdu.begin(), request.pdu.begin() + request.pduLength), c.pdu);
    if (!c.pdu.empty()) {
        EXPECT_EQ(request.requestClass, c.requestClass);
    }
    EXPECT_EQ(request.size, c.sizeAfter);
}

INSTANTIATE_TEST_SUITE_P(Table, RequestBuildTest,
    ::testing::Values(BuildCase{"read_coils", 0, 0, 1, 16, {1, 0, 0, 0, 16}, 0x4000, 16},
        BuildCase{"read_inputs_limited", 0, 1, 10, 2500, {2, 0, 9, 0x07, 0xD0}, 0x4000, 2000},
        BuildCase{"read_input_regs", 0, 2, 100, 8, {4, 0, 99, 0, 8}, 0x4000, 8},
        BuildCase{"read_holding_limited", 0, 3, 1, 300, {3, 0, 0, 0, 125}, 0x4000, 125},
        BuildCase{"read_holding_ten", 0, 3, 1, 10, {3, 0, 0, 0, 10}, 0x4000, 10},
        BuildCase{"read_bad_regtype", 0, 4, 1, 1, {}, 0, 1},
        BuildCase{"address_zero_wraps", 0, 3, 0, 1, {3, 0xFF, 0xFF, 0, 1}, 0x4000, 1},
        BuildCase{"address_65536", 0, 3, 65536, 1, {3, 0xFF, 0xFF, 0, 1}, 0x4000, 1},
        BuildCase{"write_single_coil_on", 1, 0, 5, 1, {5, 0, 4, 0xFF, 0x00}, 0x4000, 1},
        BuildCase{"write_coils", 1, 0, 1, 10, {15, 0, 0, 0, 10, 2, 0x01, 0x02}, 0x4000, 10},
        BuildCase{"write_one_holding", 1, 3, 1, 1, {16, 0, 0, 0, 1, 2, 0x02, 0x01}, 0x4000, 1},
        BuildCase{"write_holding", 1, 3, 7, 3, {16, 0, 6, 0, 3, 6, 2, 1, 4, 3, 6, 5}, 0x4000, 3},
        BuildCase{"write_inputs_refused", 1, 1, 1, 1, {}, 0, 1},
        BuildCase{"write_input_regs_refused", 1, 2, 1, 1, {}, 0, 1},
        BuildCase{"exception_status", 2, 3, 1, 1, {7}, 0x4000, 1}, BuildCase{"slave_id", 3, 0, 1, 1, {17}, 0x4000, 1},
        BuildCase{"disabled_inputs", 4, 1, 300, 1, {126, 4, 22, 1, 0x01, 0x2C}, 0x4000, 1},
        BuildCase{"disabled_regs_refused", 4, 2, 1, 1, {}, 0, 1},
        BuildCase{"adapter_statistics", 5, 3, 1, 1, {226}, 0x2000, 1},
        BuildCase{"clear_adapter_statistics", 6, 3, 1, 1, {227}, 0x2000, 1},
        BuildCase{"read_adapter_table", 7, 3, 257, 200, {224, 125, 0}, 0x2001, 125},
        BuildCase{"write_adapter_table", 8, 3, 3, 2, {225, 2, 2, 0x01, 0x02, 0x03, 0x04}, 0x2001, 2},
        BuildCase{"network_statistics", 9, 3, 1, 1, {8, 0, 0x15, 0, 3}, 0x4000, 1},
        BuildCase{"clear_network_statistics", 10, 3, 1, 1, {8, 0, 0x15, 0, 4}, 0x4000, 1},
        BuildCase{"read_network_table", 11, 3, 1, 40, {209, 32}, 0x2001, 32},
        BuildCase{"write_network_table", 12, 3, 1, 1, {214, 1, 0x01, 0x02}, 0x2001, 1},
        BuildCase{"unknown_function", 13, 3, 1, 1, {}, 0, 1}, BuildCase{"negative_function", -1, 3, 1, 1, {}, 0, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// The one row above whose PDU is too long to spell out.
TEST(RequestBuildTest, WriteOfManyCoilsCarriesTheirByteCount)
{
    RequestParams params{1, 0, 1, 3000, ParseRoutePath("1")};
    const BuiltRequest request = BuildRequest(params, SampleBuffer());
    EXPECT_EQ(request.size, 1968);
    EXPECT_EQ(request.pduLength, 6 + 246);
    EXPECT_EQ(request.pdu[5], 246);
    EXPECT_EQ(request.pdu[6], 0x01);
}

TEST(RequestBuildTest, SingleCoilOffWhenBitZeroIsClear)
{
    RegisterBuffer buffer;
    buffer.setWord(0, 0xFFFE);
    const BuiltRequest request = BuildRequest(RequestParams{1, 0, 1, 1, ParseRoutePath("1")}, buffer);
    EXPECT_EQ(Bytes(request.pdu.begin(), request.pdu.begin() + 5), (Bytes{5, 0, 0, 0x00, 0x00}));
}

TEST(RequestBuildTest, NoRouteNoRequest)
{
    const BuiltRequest request = BuildRequest(RequestParams{0, 3, 1, 1, ParseRoutePath("")}, SampleBuffer());
    EXPECT_EQ(request.pduLength, 0);
}

TEST(RequestBuildTest, NegativeSizeNeverCopiesData)
{
    for (int regType : {0, 3}) {
        const BuiltRequest request =
            BuildRequest(RequestParams{1, regType, 1, -20, ParseRoutePath("1")}, SampleBuffer());
        EXPECT_EQ(request.pduLength, 6) << regType;
        EXPECT_EQ(request.pdu[5], 0) << regType;
    }
    for (int function : {8, 12}) {
        const BuiltRequest request =
            BuildRequest(RequestParams{function, 3, 1, -20, ParseRoutePath("1")}, SampleBuffer());
        EXPECT_EQ(request.pduLength, function == 8 ? 3 : 2) << function;
    }
}

TEST(RequestBuildTest, LargestAdapterTableWriteFillsThePacketExactly)
{
    const BuiltRequest request = BuildRequest(RequestParams{8, 3, 1, 125, ParseRoutePath("1")}, SampleBuffer());
    EXPECT_EQ(request.pduLength, 3 + 250);
    EXPECT_LE(static_cast<std::size_t>(request.pduLength), plcdrv::MaxPduLength);
}

TEST(RequestPacketTest, FieldsLieAtTheirOffsetsLittleEndian)
{
    plcdrv::RequestPacket packet;
    std::memset(&packet, 0, sizeof packet);
    packet.notifyWindow = 0x11223344;
    packet.adapter = -2;
    packet.requestClass = plcdrv::GlobalMemoryClass;
    packet.status = -3;
    packet.pduLength = 0x0102;
    packet.route[0] = 255;
    packet.route[4] = 9;
    packet.functionCode = 3;
    packet.data[0] = 0xAA;
    packet.data[251] = 0xBB;

    std::uint8_t raw[plcdrv::RequestPacketSize];
    std::memcpy(raw, &packet, sizeof raw);
    const Bytes image(raw, raw + sizeof raw);
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 4), (Bytes{0x44, 0x33, 0x22, 0x11}));
    EXPECT_EQ(Bytes(image.begin() + 4, image.begin() + 6), (Bytes{0xFE, 0xFF}));
    EXPECT_EQ(Bytes(image.begin() + 6, image.begin() + 8), (Bytes{0x01, 0x20}));
    EXPECT_EQ(Bytes(image.begin() + 8, image.begin() + 12), (Bytes{0xFD, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Bytes(image.begin() + 18, image.begin() + 22), (Bytes{0x02, 0x01, 0, 0}));
    EXPECT_EQ(image[22], 255);
    EXPECT_EQ(image[26], 9);
    EXPECT_EQ(image[27], 3);
    EXPECT_EQ(image[28], 0xAA);
    EXPECT_EQ(image[279], 0xBB);
}

} // namespace
} // namespace regaccess
