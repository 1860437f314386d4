// The three real captures parsed, learned and decoded with the class plug-ins
// of the build, each dumped row by row and compared whole with its stored
// dump. Set ORVANE_UPDATE_GOLDEN=1 to rewrite the stored dumps after a
// deliberate change.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CDecodeFactory.h"
#include "CDecoderManager.h"
#include "GoldenDump.h"
#include "ParserHarness.h"

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

class RealCaptureGolden : public ::testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(RealCaptureGolden, MatchesTheStoredDump) {
    fs::path base = fs::path(ORVANE_CAPTURES_DIR) / GetParam();
    if (!fs::exists(base.string() + ".ph")) GTEST_SKIP() << "real captures not present";
    emu::BusCapture capture;
    auto ph = ReadFile(base.string() + ".ph");
    capture.records.resize(ph.size() / 16);
    std::memcpy(capture.records.data(), ph.data(), capture.records.size() * 16);
    capture.payload = ReadFile(base.string() + ".data");
    emu::CaptureSource source(std::move(capture));

    CUsbParser parser;
    parser.SetDataSource(&source);
    CollectingSink transactions;
    ASSERT_EQ(parser.Parse(&transactions), 1);
    std::string tree;
    parser.GetDeviceTree(tree);

    // The class plug-ins of this build, as the program loads them.
    CDecodeFactory factory(ORVANE_CLASSES_DIR);
    CDecoderManager manager(&factory);
    manager.LoadDeviceTree(tree);
    manager.SetHost(&parser);
    manager.SetRoot(&transactions.root);
    CollectingSink transfers;
    ASSERT_EQ(manager.DecodeAll(&transfers), 1);

    std::ostringstream dump;
    dump << tree << '\n';
    DumpRows(parser, transactions.root, "T", dump);
    DumpRows(manager, transfers.root, "X", dump);
    FreeTransferLevel(&transfers.root);
    manager.ReleaseDecoders();

    ExpectMatchesGolden(dump.str(), fs::path(ORVANE_SOURCE_DIR) / "engine/tests/golden" / (std::string(GetParam()) + ".txt"));
}

INSTANTIATE_TEST_SUITE_P(Files, RealCaptureGolden,
                         ::testing::Values("usb_ls_mouse", "usb_fs_vcp", "usb_hs_flash_drive"));
