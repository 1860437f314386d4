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

    // A device taking `address` on `bus` and telling its configuration, as
    // the host enumerates it, so the device tree binds its interfaces.
    static void Enumerate(emu::BusTrafficBuilder& bus, uint8_t address, const std::vector<uint8_t>& configuration)
    {
        using S = emu::SessionBuilder;
        const std::vector<uint8_t> device = {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x34, 0x12, 0x78, 0x56, 0x00, 0x01, 1, 2, 0, 1};
        bus.ControlTransfer(0, S::SetupPacket(0x80, 6, 0x100, 0, 8), std::vector<uint8_t>(device.begin(), device.begin() + 8));
        bus.ControlTransfer(0, S::SetupPacket(0x00, 5, address, 0, 0), {});
        bus.ControlTransfer(address, S::SetupPacket(0x80, 6, 0x100, 0, 18), device);
        bus.ControlTransfer(address, S::SetupPacket(0x80, 6, 0x200, 0, uint16_t(configuration.size())), configuration);
        bus.ControlTransfer(address, S::SetupPacket(0x00, 9, 1, 0, 0), {});
    }

    // Every row at the transfer level, down to the class level's children,
    // shows an icon its item's list holds.
    void ExpectEveryIconInItsList() { ExpectIconsInTheirLists(transfers.root); }

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
    void ExpectIconsInTheirLists(const UsbItem& parent)
    {
        for (UsbItem* item : parent.children) {
            const ItemSummary row = Row(item);
            const ImageList* icons = manager_.GetImageList(item);
            if (row.icon >= 0) {
                EXPECT_TRUE(icons && uint32_t(row.icon) < icons->count)
                    << "type " << item->type << " \"" << row.name << "\" icon " << row.icon << " of "
                    << (icons ? int(icons->count) : 0);
            }
            if (item->type > ItemControlTransfer) ExpectIconsInTheirLists(*item);
        }
    }

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
