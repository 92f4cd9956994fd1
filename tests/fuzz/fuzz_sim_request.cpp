// chronel-sim's request handling: any sequence of request PDUs on either link
// (with clock ticks between them, so that events, acknowledges, time sets and
// flash commands interleave) must be answered with a well-formed reply or an
// exception, never a crash. The same bytes also go through the RTU request
// framing the serial side uses to find frame boundaries.
#include "module_model.h"
#include "rtu_frame.h"

#include "byte_reader.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> raw(data, size);
    if (const auto length = chronel::sim::RtuRequestLength(raw))
        (void)chronel::sim::RtuCrcValid(raw.first(std::min(*length, raw.size())));

    // Layout: event capacity, buffer type, then per request a control byte
    // (bit 0 serial link, bit 7 a clock tick first), a length byte and the PDU.
    fuzzing::ByteReader input(data, size);
    // 2024-03-09 23:59:58 UTC: the first ticks cross an hour and a day.
    std::int64_t nowMs = 1710028798000;
    chronel::sim::ModelOptions options;
    options.events.mode = chronel::sim::GeneratorPlan::Mode::Random;
    options.events.ratePerSecond = 50;
    options.eventCapacity = input.byte() % 80 + 2;
    chronel::sim::ModuleModel model([&nowMs] { return nowMs; }, options);
    model.setBufferType(input.byte() % 4);
    model.start();
    while (input.remaining() > 0) {
        const std::uint8_t control = input.byte();
        if (control & 0x80) {
            nowMs += control & 0x7F ? (control & 0x7F) * 37 : 3600000;
            model.tick();
        }
        const auto bytes = input.bytes(input.byte());
        const std::vector<std::uint8_t> pdu(bytes.begin(), bytes.end());
        const auto link = control & 1 ? chronel::sim::Link::Serial : chronel::sim::Link::Tcp;
        const std::vector<std::uint8_t> reply = model.handleRequest(pdu.data(), pdu.size(), link);
        if (pdu.empty()) {
            Check(reply.empty());
            continue;
        }
        // A reply names the request's function (bit 7 set for an exception)
        // and fits one Modbus PDU.
        Check(!reply.empty() && reply.size() <= 253);
        Check((reply[0] & 0x7F) == (pdu[0] & 0x7F));
        if (reply[0] & 0x80)
            Check(reply.size() == 2);
    }
    return 0;
}
