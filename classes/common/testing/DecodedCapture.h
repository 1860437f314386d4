// For the plug-ins' capture tests: a capture parsed, learned and decoded
// through the plug-ins of a "classes" folder, as the program does it, with
// the transfer level's rows, data and details at hand. Include it in tests
// that link the parser harness and the traffic builder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "CDecodeFactory.h"
#include "CDecoderManager.h"
#include "ParserHarness.h"
#include "SessionBuilder.h"

namespace orvane::testing {

class DecodedCapture {
public:
    DecodedCapture(emu::BusCapture capture, const std::string& classesFolder)
        : records(capture.records.size()), source_(std::move(capture)), factory_(classesFolder)
    {
        parser_.SetDataSource(&source_);
        EXPECT_EQ(parser_.Parse(&transactions), 1);
        std::string tree;
        parser_.GetDeviceTree(tree);
        manager_.LoadDeviceTree(tree);
        manager_.SetHost(&parser_);
        manager_.SetRoot(&transactions.root);
        EXPECT_EQ(manager_.DecodeAll(&transfers), 1);
    }
#ifdef ORVANE_CLASSES_DIR
    // Through the plug-ins of the test build's own "classes" folder.
    explicit DecodedCapture(emu::BusCapture capture) : DecodedCapture(std::move(capture), ORVANE_CLASSES_DIR) {}
#endif
    ~DecodedCapture()
    {
        FreeTransferLevel(&transfers.root);
        manager_.ReleaseDecoders();
    }
    DecodedCapture(const DecodedCapture&) = delete;
    DecodedCapture& operator=(const DecodedCapture&) = delete;

    // A real capture's ".ph" and ".data" files beside `base`.
    static emu::BusCapture ReadCapture(const std::filesystem::path& base)
    {
        emu::BusCapture capture;
        const std::vector<uint8_t> ph = ReadFile(base.string() + ".ph");
        capture.records.resize(ph.size() / 16);
        std::memcpy(capture.records.data(), ph.data(), capture.records.size() * 16);
        capture.payload = ReadFile(base.string() + ".data");
        return capture;
    }

    // The shared folder's real capture `name`, or nothing when the folder
    // does not hold it (the caller skips).
    static std::optional<emu::BusCapture> RealCapture(const std::string& name)
    {
        const std::filesystem::path base = std::filesystem::path(ORVANE_CAPTURES_DIR) / name;
        if (!std::filesystem::exists(base.string() + ".ph")) return std::nullopt;
        return ReadCapture(base);
    }

#ifdef ORVANE_CLASSES_DIR
    // The file name of the plug-in the test build's factory picks for an
    // interface, or an empty text when none serves it.
    static std::string PluginFor(int32_t cls, int32_t subclass, int32_t protocol)
    {
        CDecodeFactory factory(ORVANE_CLASSES_DIR);
        const int32_t index = factory.Find(cls, subclass, protocol);
        std::string path;
        if (index >= 0) factory.GetPath(&path, index);
        return std::filesystem::path(path).filename().string();
    }
#endif

    // An emulated session of `kind`, clean or with a share of damaged packets.
    static emu::BusCapture Session(emu::SessionBuilder::Kind kind, SpeedCode speed, int operations, double damageRate)
    {
        emu::SessionBuilder::Options options;
        options.kind = kind;
        options.speed = speed;
        options.operations = operations;
        options.damageRate = damageRate;
        return emu::SessionBuilder(options).Build();
    }

    IDecoderManager& Manager() { return manager_; }
    ItemSummary Row(UsbItem* item)
    {
        ItemSummary row;
        manager_.Summarize(item, &row);
        return row;
    }
    std::string Detail(UsbItem* item)
    {
        std::string xml;
        EXPECT_EQ(manager_.GetDetail(item, xml), 1);
        return xml;
    }
    std::vector<uint8_t> Data(UsbItem* item)
    {
        std::vector<uint8_t> bytes(size_t(std::max(manager_.GetData(item, nullptr, 0), 0)));
        manager_.GetData(item, bytes.data(), uint32_t(bytes.size()));
        return bytes;
    }

    size_t records;
    CollectingSink transactions;
    CollectingSink transfers;

private:
    static std::vector<uint8_t> ReadFile(const std::string& path)
    {
        std::ifstream f(path, std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    }

    emu::CaptureSource source_;
    CUsbParser parser_;
    CDecodeFactory factory_;
    CDecoderManager manager_{&factory_};
};

}  // namespace orvane::testing
