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
