// An arbitrary configuration and arbitrary requests through the audio
// decoder: the input first builds the descriptor set the entity table is
// learned from (control interfaces, entities of any subtype and length, raw
// descriptors), then control transfers of class requests with their data
// stages, NAKed and unanswered stages, streaming packets; every slot then
// describes what the decoder handed back, and the parameter-block decoders
// also get any type, setup and data directly.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "AudioControlDetail.h"
#include "CClassDecoder.h"
#include "CFakeHost.h"
#include "FuzzInput.h"

using namespace orvane;

namespace {

std::vector<uint8_t> Configuration(FuzzInput& in)
{
    std::vector<uint8_t> bytes = {9, 2, 0, 0, 2, 1, 0, 0x80, 50};
    for (int n = in.Byte() % 24; n > 0 && !in.Empty(); --n) {
        const uint8_t op = in.Byte();
        switch (op & 3) {
        case 0:  // a control interface, now and then of another protocol or alternate setting
            bytes.insert(bytes.end(), {9, 4, uint8_t(op >> 2 & 3), uint8_t(op >> 4 & 1), 0, 1, 1, uint8_t(op & 0x80 ? in.Byte() : 0), 0});
            break;
        case 1: {  // an entity of any subtype, its length from the input
            const uint8_t length = in.Byte();
            std::vector<uint8_t> d = {length, 0x24, uint8_t(in.Byte() % 12), in.Byte()};
            d.resize(length < 4 ? 4 : length, 0);
            d.resize(length);
            bytes.insert(bytes.end(), d.begin(), d.end());
            break;
        }
        case 2: bytes.push_back(in.Byte()); [[fallthrough]];
        default: {  // raw bytes
            const std::vector<uint8_t> raw = in.Bytes(in.Byte() % 16);
            bytes.insert(bytes.end(), raw.begin(), raw.end());
            break;
        }
        }
    }
    bytes[2] = uint8_t(bytes.size());
    bytes[3] = uint8_t(bytes.size() >> 8);
    return bytes;
}

std::vector<uint8_t> Setup(FuzzInput& in)
{
    static const uint8_t kTypes[] = {0x21, 0xA1, 0x22, 0xA2, 0x20, 0xA0, 0x01, 0xC1};
    const uint8_t pick = in.Byte();
    std::vector<uint8_t> setup = {pick < 0xC0 ? kTypes[pick % 8] : in.Byte()};
    const std::vector<uint8_t> rest = in.Bytes(7);
    setup.insert(setup.end(), rest.begin(), rest.end());
    setup.resize(8, 0);
    // Data stages of real requests are short; keep wLength near what comes.
    if (pick & 1) setup[7] = 0;
    return setup;
}

uint8_t Handshake(uint8_t op) { return (op & 0x30) == 0x10 ? PidNak : (op & 0x30) == 0x20 ? kNone : PidAck; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const std::vector<uint8_t> configuration = Configuration(in);
    CFakeHost host;
    host.SetDevice(2, 0, BusSpeedFull);
    std::vector<UsbItem*> items;
    while (!in.Empty() && items.size() < 48) {
        const uint8_t op = in.Byte();
        switch (op & 7) {
        case 0:
        case 1: {
            const std::vector<uint8_t> setup = Setup(in);
            items.push_back(host.ControlTransfer(setup, in.Bytes(in.Byte() % 80), 1 + in.Byte() % 64));
            break;
        }
        case 2: {  // a transfer whose stages the input writes, with their handshakes
            std::vector<UsbItem*> stages = {host.Transaction(ItemSetupTransaction, Handshake(op), Setup(in))};
            for (int n = in.Byte() % 5; n > 0; --n) {
                const uint8_t s = in.Byte();
                stages.push_back(host.Transaction(s & 1 ? ItemInTransaction : ItemOutTransaction, Handshake(s),
                                                  in.Bytes(s >> 5)));
            }
            items.push_back(host.Item(ItemControlTransfer, stages));
            break;
        }
        case 3: items.push_back(host.Transaction(ItemOutTransaction, kNone, in.Bytes(in.Byte()))); break;
        case 4: items.push_back(host.NakRun(ItemOutTransaction, 1 + in.Byte() % 3)); break;
        case 5: items.push_back(host.Transaction(uint16_t(16 + in.Byte() % 240), Handshake(op), in.Bytes(in.Byte() % 16))); break;
        case 6: items.push_back(host.Item(uint16_t(0x201 + in.Byte() * 16), {}, kNone, in.Bytes(4))); break;
        default: {  // a parameter block of any type on its own
            const uint16_t type = uint16_t(in.Byte() << 8 | in.Byte());
            const std::vector<uint8_t> setup = Setup(in);
            const std::vector<uint8_t> block = in.Bytes(in.Byte() % 40);
            CDecodeResultWriter document;
            audio::DescribeAudioRequest(type, *SetupPacket::From(setup), block, document);
            break;
        }
        }
    }
    audio::CClassDecoder decoder;
    decoder.SetHost(&host);
    decoder.OnNotify(NotifyConfiguration, const_cast<uint8_t*>(configuration.data()), intptr_t(configuration.size()));
    const std::vector<UsbItem*> out = Feed(decoder, items);
    for (UsbItem* item : out) DescribeEverySlot(decoder, item, 2);
    // Fed again, as a second decoding over the same tree.
    Feed(decoder, items);
    host.FreeDecoderItems(out);
    return 0;
}
