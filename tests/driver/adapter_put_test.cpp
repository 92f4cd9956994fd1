// An adapter taking a request (VexaPut) from a packet whose pduLength holds
// any value: the request is framed without overflow (the sanitizer run
// stops on one) and a stopped adapter queues nothing.
#include "driver/driver_adapter.h"
#include "driver/message_factory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

TEST(AdapterPut, AnyPduLengthIsFramedAndAStoppedAdapterRefusesIt)
{
    for (const int kind : {plcdrv::RtuKind, plcdrv::AsciiKind, plcdrv::ModbusPlusKind}) {
        for (const std::int32_t pduLength :
            {std::numeric_limits<std::int32_t>::min(), -1, 0, 5, std::numeric_limits<std::int32_t>::max()}) {
            plcdrv::DriverAdapter adapter;
            adapter.adapterType = kind == plcdrv::ModbusPlusKind ? plcdrv::ModbusPlusAdapter : plcdrv::SerialAdapter;
            adapter.messageKind = kind;
            plcdrv::RequestPacket packet{};
            packet.route[0] = 1;
            packet.functionCode = 3;
            packet.pduLength = pduLength;
            EXPECT_EQ(adapter.put(&packet), 0) << "kind " << kind << ", pduLength " << pduLength;
        }
    }
}

} // namespace
