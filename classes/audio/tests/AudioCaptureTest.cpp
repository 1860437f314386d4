// The plug-in as the program uses it: loaded by the factory from the build's
// "classes" folder and driven by the decoder manager over the emulated
// speaker's sessions, one of them compared whole with its stored dump.
#include <gtest/gtest.h>

#include <filesystem>

#include "DecodedCapture.h"
#include "DetailReader.h"
#include "GoldenDump.h"

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

emu::SessionBuilder::Options Speaker(SpeedCode speed, double damage, bool behindHub = false)
{
    emu::SessionBuilder::Options options;
    options.kind = emu::SessionBuilder::Kind::Audio;
    options.speed = speed;
    options.behindHub = behindHub;
    options.operations = 16;
    options.damageRate = damage;
    options.seed = 7;
    return options;
}

bool IsAudioRequest(const UsbItem* item) { return item->type >= 0x201 && item->type <= 0x10FF; }

class Decoded : public DecodedCapture {
public:
    explicit Decoded(const emu::SessionBuilder::Options& options)
        : DecodedCapture(emu::SessionBuilder(options).Build(), ORVANE_CLASSES_DIR)
    {
    }
    std::vector<UsbItem*> Requests()
    {
        std::vector<UsbItem*> out;
        for (UsbItem* item : transfers.root.children)
            if (IsAudioRequest(item)) out.push_back(item);
        return out;
    }
    // The first item of the request's control group, or empty.
    DetailItem Parameter(UsbItem* item)
    {
        std::string xml;
        if (!Manager().GetDetail(item, xml)) return {};
        const auto groups = ReadDetail(xml);
        return groups.size() == 1 && !groups[0].items.empty() ? groups[0].items[0] : DetailItem{};
    }
};

// What the host asks of the speaker, in order: the feature unit's mute and
// each channel's volume range, the sampling frequency, volume and mute set;
// after playback the mute again.
const char* const kRequests[] = {
    "GetCur( Feature Unit 5 , Mute )",
    "GetMin( Feature Unit 5 , Volume )", "GetMax( Feature Unit 5 , Volume )", "GetRes( Feature Unit 5 , Volume )",
    "GetCur( Feature Unit 5 , Volume )",
    "GetMin( Feature Unit 5 , Volume )", "GetMax( Feature Unit 5 , Volume )", "GetRes( Feature Unit 5 , Volume )",
    "GetCur( Feature Unit 5 , Volume )",
    "SetCur( Sampling Frequency , Endpoint 1 )", "GetCur( Sampling Frequency , Endpoint 1 )",
    "SetCur( Feature Unit 5 , Volume )", "SetCur( Feature Unit 5 , Volume )", "SetCur( Feature Unit 5 , Mute )",
    "SetCur( Feature Unit 5 , Mute )",
};

void ExpectSpeakerDecoded(Decoded& decoded)
{
    ExpectEveryRecordOnce(decoded.transfers, decoded.records);
    const std::vector<UsbItem*> requests = decoded.Requests();
    ASSERT_EQ(requests.size(), std::size(kRequests));
    for (size_t i = 0; i < requests.size(); ++i) {
        const ItemSummary row = decoded.Row(requests[i]);
        EXPECT_EQ(row.name, kRequests[i]) << i;
        EXPECT_EQ(row.status, StatusOk) << kRequests[i];
        EXPECT_EQ(row.icon, kRequests[i][0] == 'G' ? 0 : 1);
        EXPECT_GT(row.size, 0);
    }
    EXPECT_EQ(decoded.Parameter(requests[1]).name, "wValume(Channel 1)");
    EXPECT_EQ(decoded.Parameter(requests[1]).value, "-60.0000 dB");
    EXPECT_EQ(decoded.Parameter(requests[4]).value, "-20.0000 dB");
    EXPECT_EQ(decoded.Parameter(requests[9]).value, "48000 Hz");
    EXPECT_EQ(decoded.Parameter(requests[11]).value, "-10.0000 dB");
    EXPECT_EQ(decoded.Parameter(requests[13]).name, "bMute(Master)");
    EXPECT_EQ(decoded.Parameter(requests[13]).value, "False");
    EXPECT_EQ(decoded.Parameter(requests[14]).value, "True");

    // The streaming interface's isochronous packets pass through as they are.
    size_t iso = 0;
    for (UsbItem* item : decoded.transfers.root.children) iso += item->type == ItemOutTransaction && item->endpoint == 1;
    EXPECT_EQ(iso, 16u);
}

TEST(AudioCapture, TheFactoryFindsThePluginForAudioInterfaces)
{
    CDecodeFactory factory(ORVANE_CLASSES_DIR);
    for (int32_t subclass : {1, 2, 3}) {
        const int32_t index = factory.Find(1, subclass, 0);
        ASSERT_GE(index, 0);
        std::string path;
        factory.GetPath(&path, index);
        EXPECT_EQ(fs::path(path).filename(), "audio.so");
    }
}

TEST(AudioCapture, TheEmulatedSpeakerDecodesEveryRequest)
{
    Decoded decoded(Speaker(SpeedHigh, 0));
    ExpectSpeakerDecoded(decoded);
}

TEST(AudioCapture, DamagedPacketsChangeNoRequest)
{
    for (const auto& options : {Speaker(SpeedFull, 0.1), Speaker(SpeedHigh, 0.1)}) {
        SCOPED_TRACE(options.speed == SpeedHigh ? "high speed" : "full speed");
        Decoded decoded(options);
        ExpectSpeakerDecoded(decoded);
    }
}

// Behind a hub the transfers hold split transactions, not the SETUP
// transaction a request is typed from: they stay control transfers.
TEST(AudioCapture, SplitTransfersBehindAHubPassUnchanged)
{
    Decoded decoded(Speaker(SpeedFull, 0, true));
    ExpectEveryRecordOnce(decoded.transfers, decoded.records);
    EXPECT_TRUE(decoded.Requests().empty());
    size_t transfers = 0;
    for (UsbItem* item : decoded.transfers.root.children) transfers += item->type == ItemControlTransfer && item->address == 5;
    EXPECT_EQ(transfers, 9u + std::size(kRequests) + 3) << "enumeration at its address, the requests, the alternate settings";
}

TEST(AudioCapture, TheEmulatedSpeakerMatchesItsStoredDump)
{
    Decoded decoded(Speaker(SpeedHigh, 0));
    std::ostringstream dump;
    DumpRows(decoded.Manager(), decoded.transfers.root, "X", dump);
    // Each request's parameter block as the detail pane shows it.
    for (UsbItem* item : decoded.Requests()) {
        dump << "D " << item->firstRecord;
        for (const DetailGroup& group : ReadDetail(decoded.Detail(item))) {
            dump << " [" << group.name << "]";
            for (const DetailItem& field : group.items)
                dump << ' ' << field.name << '=' << field.value << '@' << field.offset << '+' << field.bits;
        }
        dump << '\n';
    }
    ExpectMatchesGolden(dump.str(), fs::path(ORVANE_AUDIO_GOLDEN) / "emulated_speaker.txt");
}

}  // namespace
