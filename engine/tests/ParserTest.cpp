#include <functional>
#include <thread>

#include "ParserHarness.h"
#include "SessionBuilder.h"

using namespace orvane;
using namespace orvane::testing;
using B = emu::BusTrafficBuilder;

namespace {

struct Shape {
    const char* name;
    std::function<void(B&)> traffic;
    const char* expected;
};

const std::vector<uint8_t> k8 = {1, 2, 3, 4, 5, 6, 7, 8};

const Shape kShapes[] = {
    {"in data ack", [](B& b) { b.Token(PidIn, 3, 1), b.Data(PidData1, k8), b.Handshake(PidAck); },
     "16@3.1:2(9 11 2)"},
    {"in nak", [](B& b) { b.Token(PidIn, 3, 1), b.Handshake(PidNak); }, "16@3.1:10(9 10)"},
    {"in alone at the end", [](B& b) { b.Token(PidIn, 3, 1); }, "16@3.1(9)"},
    {"in data without handshake", [](B& b) { b.Token(PidIn, 3, 1), b.Data(PidData0, k8); }, "16@3.1(9 3)"},
    {"out data nyet", [](B& b) { b.Token(PidOut, 4, 2), b.Data(PidData0, k8), b.Handshake(PidNyet); },
     "17@4.2:6(1 3 6)"},
    {"out without data keeps the token alone", [](B& b) { b.Token(PidOut, 4, 2), b.Handshake(PidAck); },
     "17@4.2(1) 2"},
    {"setup takes only data0 then ack",
     [](B& b) { b.Token(PidSetup, 0, 0), b.Data(PidData1, k8), b.Handshake(PidAck); }, "18@0.0(13) 11 2"},
    {"setup data0 ack", [](B& b) { b.Token(PidSetup, 0, 0), b.Data(PidData0, k8), b.Handshake(PidAck); },
     "18@0.0:2(13 3 2)"},
    {"setup at the end of the capture", [](B& b) { b.Token(PidSetup, 7, 0); }, "18@7.0(13)"},
    {"ping nak", [](B& b) { b.Token(PidPing, 2, 1), b.Handshake(PidNak); }, "19@2.1:10(4 10)"},
    {"lone packets", [](B& b) { b.Handshake(PidAck), b.Data(PidData2, {}), b.Token(PidPre, 0, 0); },
     "2 7 12"},
    {"five naks group, an ack opens a new run",
     [](B& b) {
         for (int i = 0; i < 5; ++i) b.Token(PidIn, 3, 1), b.Handshake(PidNak);
         b.Token(PidIn, 3, 1), b.Data(PidData0, k8), b.Handshake(PidAck);
     },
     "29@3.1:10(16@3.1:10(9 10) 16@3.1:10(9 10) 16@3.1:10(9 10) 16@3.1:10(9 10) 16@3.1:10(9 10)) "
     "16@3.1:2(9 3 2)"},
    {"acked then naked",
     [](B& b) {
         b.Token(PidIn, 3, 1), b.Data(PidData0, k8), b.Handshake(PidAck);
         b.Token(PidIn, 3, 1), b.Handshake(PidNak);
         b.Token(PidIn, 3, 1), b.Handshake(PidNak);
     },
     "16@3.1:2(9 3 2) 29@3.1:10(16@3.1:10(9 10) 16@3.1:10(9 10))"},
    {"interleaved polling of two endpoints gives separate runs",
     [](B& b) {
         b.Token(PidIn, 3, 1), b.Handshake(PidNak);
         b.Token(PidIn, 3, 2), b.Handshake(PidNak);
         b.Token(PidIn, 3, 1), b.Handshake(PidNak);
         b.Token(PidIn, 3, 1), b.Handshake(PidNak);
     },
     "16@3.1:10(9 10) 16@3.2:10(9 10) 29@3.1:10(16@3.1:10(9 10) 16@3.1:10(9 10))"},
    {"a nak run broken by another transaction",
     [](B& b) {
         b.Token(PidIn, 3, 1), b.Handshake(PidNak);
         b.Token(PidIn, 3, 1), b.Handshake(PidNak);
         b.Token(PidOut, 3, 2), b.Data(PidData0, k8), b.Handshake(PidAck);
         b.Token(PidIn, 3, 1), b.Handshake(PidNak);
     },
     "29@3.1:10(16@3.1:10(9 10) 16@3.1:10(9 10)) 17@3.2:2(1 3 2) 16@3.1:10(9 10)"},
    {"sof runs across other traffic",
     [](B& b) {
         b.Sof(1), b.Sof(2), b.Token(PidIn, 3, 1), b.Handshake(PidNak), b.Sof(3), b.Token(PidIn, 3, 1),
             b.Handshake(PidNak), b.Sof(4), b.Sof(5);
     },
     "128(5 5) 16@3.1:10(9 10) 5 16@3.1:10(9 10) 128(5 5)"},
    {"a damaged pid goes out ahead of the pending run",
     [](B& b) {
         b.Sof(1), b.Sof(2);
         b.Damage(b.Handshake(PidAck), ErrPidCheck);
         b.Sof(3);
     },
     "0 128(5 5 5)"},
    {"a crc16 error does not break a transaction",
     [](B& b) { b.Token(PidIn, 3, 1), b.Damage(b.Data(PidData0, k8), ErrCrc16), b.Handshake(PidAck); },
     "16@3.1:2(9 3 2)"},
    {"a token failing its crc5 stands alone, and so does what follows",
     [](B& b) { b.Damage(b.Token(PidIn, 3, 1), ErrCrc5), b.Data(PidData0, k8), b.Handshake(PidAck); }, "9 3 2"},
    {"in answered by the host's ack has lost its data", [](B& b) { b.Token(PidIn, 3, 1), b.Handshake(PidAck); },
     "16@3.1(9) 2"},
    {"host chirps run into one group",
     [](B& b) {
         b.BusEvent(emu::EvDeviceChirp);
         b.BusEvent(emu::EvHostChirpK), b.BusEvent(emu::EvHostChirpJ), b.BusEvent(emu::EvHostChirpK);
         b.BusEvent(emu::EvHostResetCompleted);
     },
     "0 129(0 0 0) 0"},
    {"csplit in data0", [](B& b) { b.Split(1, 2, true, false, false, 3), b.Token(PidIn, 5, 1), b.Data(PidData0, k8); },
     "25@5.1(8 9 3)"},
    {"ssplit in ack", [](B& b) { b.Split(1, 2, false, false, false, 3), b.Token(PidIn, 5, 1), b.Handshake(PidAck); },
     "24@5.1:2(8 9 2)"},
    {"csplit in nyet", [](B& b) { b.Split(1, 2, true, false, false, 3), b.Token(PidIn, 5, 1), b.Handshake(PidNyet); },
     "25@5.1:6(8 9 6)"},
    {"csplit in err", [](B& b) { b.Split(1, 2, true, false, false, 1), b.Token(PidIn, 5, 1), b.Token(PidPre, 0, 0); },
     "25@5.1(8 9 12)"},
    {"ssplit setup data0 ack",
     [](B& b) { b.Split(1, 2, false, false, false, 0), b.Token(PidSetup, 0, 0), b.Data(PidData0, k8), b.Handshake(PidAck); },
     "22@0.0:2(8 13 3 2)"},
    {"csplit setup ack", [](B& b) { b.Split(1, 2, true, false, false, 0), b.Token(PidSetup, 0, 0), b.Handshake(PidAck); },
     "23@0.0:2(8 13 2)"},
    {"ssplit out data nak",
     [](B& b) { b.Split(1, 2, false, false, false, 2), b.Token(PidOut, 5, 2), b.Data(PidData1, k8), b.Handshake(PidNak); },
     "22@5.2:10(8 1 11 10)"},
    {"ssplit iso out mdata ends it",
     [](B& b) { b.Split(1, 2, false, true, false, 1), b.Token(PidOut, 5, 3), b.Data(PidMData, k8), b.Handshake(PidAck); },
     "22@5.3(8 1 15) 2"},
    {"csplit out naks group",
     [](B& b) {
         for (int i = 0; i < 3; ++i) b.Split(1, 2, true, false, false, 2), b.Token(PidOut, 5, 2), b.Handshake(PidNak);
     },
     "29@5.2:10(23@5.2:10(8 1 10) 23@5.2:10(8 1 10) 23@5.2:10(8 1 10))"},
    {"split followed by something else stands alone",
     [](B& b) { b.Split(1, 2, false, false, false, 0), b.Sof(9); }, "8 5"},
    {"split at the end", [](B& b) { b.Split(1, 2, false, false, false, 0); }, "8"},
    {"empty capture", [](B&) {}, ""},
};

class ParserShapes : public ::testing::TestWithParam<Shape> {};

}  // namespace

TEST_P(ParserShapes, Builds) {
    B b(SpeedHigh);
    GetParam().traffic(b);
    auto capture = b.Take();
    size_t records = capture.records.size();
    CollectingSink sink;
    EXPECT_EQ(Parse(std::move(capture), sink), GetParam().expected);
    ExpectEveryRecordOnce(sink, records);
}

INSTANTIATE_TEST_SUITE_P(Table, ParserShapes, ::testing::ValuesIn(kShapes), [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

TEST(Parser, LongRunsStayOneGroupEach) {
    B b(SpeedHigh);
    for (int i = 0; i < 200000; ++i) b.Token(PidIn, 9, 1), b.Handshake(PidNak);
    for (int i = 0; i < 300000; ++i) b.Sof(uint16_t(i & 0x7FF));
    for (int i = 0; i < 100000; ++i) b.Damage(b.Handshake(PidAck), ErrPidCheck);
    auto capture = b.Take();
    size_t records = capture.records.size();
    CollectingSink sink;
    Parse(std::move(capture), sink);
    ASSERT_EQ(sink.root.children.size(), 2u + 100000u);
    // The damaged packets reach the sink ahead of the SOF run still pending.
    EXPECT_EQ(sink.root.children[0]->type, ItemNakGroup);
    EXPECT_EQ(sink.root.children[0]->children.size(), 200000u);
    EXPECT_EQ(sink.root.children[1]->type, ItemBusEvent);
    EXPECT_EQ(sink.root.children.back()->type, ItemSofGroup);
    EXPECT_EQ(sink.root.children.back()->children.size(), 300000u);
    ExpectEveryRecordOnce(sink, records);
}

TEST(Parser, RecordsThatArriveLaterGiveTheSameTree) {
    emu::SessionBuilder::Options o;
    o.kind = emu::SessionBuilder::Kind::Disk;
    o.speed = SpeedHigh;
    auto capture = emu::SessionBuilder(o).Build();
    CollectingSink whole;
    std::string expected = Parse(capture, whole);

    // A live source: 100 more records each time the parser is told "not yet",
    // and no spans, so every record goes through GetRecord.
    emu::CaptureSource live(capture);
    live.SetPeekable(false);
    live.SetEnded(false);
    live.SetAvailable(0);
    size_t total = capture.records.size();
    live.SetOnNotYet(
        [](emu::CaptureSource& s, void* total) {
            size_t next = s.GetCount() + 100;
            s.SetAvailable(next);
            if (next >= *static_cast<size_t*>(total)) s.SetEnded(true);
        },
        &total);
    CUsbParser parser;
    parser.SetRetryDelay(std::chrono::milliseconds(0));
    parser.SetDataSource(&live);
    CollectingSink sink;
    ASSERT_EQ(parser.Parse(&sink), 1);
    EXPECT_EQ(Describe(sink), expected);
}

TEST(Parser, ANotYetThatNeverEndsCanBeCancelledOrBounded) {
    B b(SpeedFull);
    b.Token(PidIn, 1, 1), b.Handshake(PidNak);
    emu::CaptureSource stuck(b.Take());
    stuck.SetEnded(false);
    stuck.SetAvailable(1);  // the handshake never arrives
    CUsbParser parser;
    parser.SetRetryDelay(std::chrono::milliseconds(1));
    parser.SetDataSource(&stuck);
    {
        CollectingSink sink;
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            parser.Cancel();
        });
        EXPECT_EQ(parser.Parse(&sink), 1);
        canceller.join();
        EXPECT_TRUE(parser.Cancelled());
        EXPECT_EQ(sink.finished, 1);
        EXPECT_EQ(Describe(sink), "16@1.1(9)");  // what was read is still handed out
    }
    {
        stuck.SetAvailable(0);
        parser.SetWaitLimit(std::chrono::milliseconds(5));
        CollectingSink sink;
        EXPECT_EQ(parser.Parse(&sink), 1);
        EXPECT_FALSE(parser.Cancelled());
        EXPECT_EQ(sink.root.children.size(), 0u);
    }
}

TEST(Parser, ProgressStaysBetweenZeroAndOne) {
    B b(SpeedFull);
    for (int i = 0; i < 50000; ++i) b.Sof(uint16_t(i & 0x7FF));
    emu::CaptureSource source(b.Take());
    source.SetAvailable(0);  // a source that reports no records but serves them
    source.SetEnded(true);
    CUsbParser parser;
    parser.SetDataSource(&source);
    CollectingSink sink;
    ASSERT_EQ(parser.Parse(&sink), 1);
    ASSERT_FALSE(sink.progress.empty());
    for (float f : sink.progress) {
        EXPECT_GE(f, 0.0f);
        EXPECT_LE(f, 1.0f);
    }
}

TEST(Parser, SessionsOfEveryKindCoverEveryRecordOnce) {
    using K = emu::SessionBuilder::Kind;
    for (auto [kind, speed, hub] : {std::tuple{K::Mouse, SpeedLow, false}, {K::Mouse, SpeedFull, true},
                                    {K::Disk, SpeedHigh, false}, {K::Camera, SpeedHigh, false},
                                    {K::Audio, SpeedFull, true}}) {
        emu::SessionBuilder::Options o;
        o.kind = kind;
        o.speed = speed;
        o.behindHub = hub;
        o.damageRate = 0.05;
        auto capture = emu::SessionBuilder(o).Build();
        size_t records = capture.records.size();
        CollectingSink sink;
        Parse(std::move(capture), sink);
        ExpectEveryRecordOnce(sink, records);
    }
}
