#include "CDeviceProxy.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "AppDirectory.h"

namespace orvane::pardix {

namespace {

// A memory read whose data keeps arriving short is given up after this many tries.
constexpr int kShortReadRetries = 64;

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

CDeviceProxy::CDeviceProxy(port::PortBackend* port)
    : port_(port ? port : &port::CurrentBackend()), deviceBuffer_(new uint8_t[kUploadChunk + 8]) {
    configPath_ = GetAppDirectory() + "/../common/device.rvs";
    port_->InitializeInterface(&port::kAnalyserInterface);
}

CDeviceProxy::~CDeviceProxy() {
    uploadState_ = UploadQuit;
    std::free(records_);
}

// ---------------------------------------------------------------- protocol

bool CDeviceProxy::SendCommand() {
    std::lock_guard guard(lock_);
    unsigned long done = 0;
    if (!port_->WritePort(0, port::kCommandPipe, &block_, kCommandBytes, &done, port::kTimeoutMs)) return false;
    if (!port_->ReadPort(0, port::kCommandPipe, reply_, kCommandBytes, &done, port::kTimeoutMs)) return false;
    return std::memcmp(reply_, &block_, 2) == 0;
}

bool CDeviceProxy::SendBlock(uint16_t opcode, uint16_t argument, uint32_t address, uint32_t length,
                             const void* inlineData) {
    std::memset(&block_, 0, sizeof block_);
    block_.opcode = opcode;
    block_.argument = argument;
    block_.address = address;
    block_.length = length;
    if (inlineData) std::memcpy(block_.data, inlineData, length);
    return SendCommand();
}

bool CDeviceProxy::WriteRegisters(uint16_t argument, uint32_t address, const void* data, uint32_t bytes) {
    if (bytes > kInlineBytes) return false;
    std::lock_guard guard(lock_);
    return SendBlock(OpWriteRegisters, argument, address, bytes, data);
}

bool CDeviceProxy::ReadRegisters(uint32_t address, void* dst, uint32_t bytes) {
    if (bytes > kCommandBytes - 4) return false;
    std::lock_guard guard(lock_);
    if (!SendBlock(OpReadRegisters, 0, address, bytes)) return false;
    std::memcpy(dst, reply_ + 4, bytes);
    return true;
}

bool CDeviceProxy::WriteMemory(uint16_t argument, uint32_t address, uint32_t dwordCount, const void* data) {
    if (dwordCount > 0x3FFFFFFF) return false;
    std::lock_guard guard(lock_);
    if (!SendBlock(OpWriteMemory, argument, address, dwordCount * 4)) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint32_t total = dwordCount * 4, sent = 0;
    while (sent < total) {
        unsigned long piece = std::min<uint32_t>(total - sent, kBulkPiece), done = 0;
        if (!port_->WritePort(0, port::kBulkOutPipe, bytes + sent, piece, &done, port::kTimeoutMs)) return false;
        if (done == 0 || done > piece) return false;  // no progress: the pipe is gone
        sent += uint32_t(done);
    }
    unsigned long done = 0;
    if (!port_->ReadPort(0, port::kCommandPipe, reply_, kCommandBytes, &done, port::kTimeoutMs)) return false;
    return reply_[0] == 0xAA && reply_[1] == 0x55;
}

bool CDeviceProxy::ReadMemory(uint16_t argument, uint32_t address, uint32_t dwordCount, void* dst) {
    if (dwordCount > 0x3FFFFFFF) return false;
    std::lock_guard guard(lock_);
    if (!SendBlock(OpReadMemory, argument, address, dwordCount * 4)) return false;
    unsigned long want = dwordCount * 4ul;
    // A short read is dropped and the whole read repeated into the same buffer.
    for (int attempt = 0; attempt < kShortReadRetries; ++attempt) {
        unsigned long done = 0;
        if (!port_->ReadPort(0, port::kBulkInPipe, dst, want, &done, port::kTimeoutMs)) return false;
        if (done == want) return true;
    }
    return false;
}

bool CDeviceProxy::ReadStatus() {
    std::lock_guard guard(lock_);
    ControlBlock fresh{};
    if (!ReadRegisters(RegControlBlock, &fresh, sizeof fresh)) return false;
    control_ = fresh;
    return true;
}

bool CDeviceProxy::ReadRecords(uint32_t byteAddress, uint32_t count, PacketRecord* dst) {
    std::lock_guard guard(lock_);
    const uint32_t window[4] = {byteAddress, count, control_.packetMask, 1};
    if (!WriteRegisters(0, RegRecordWindow, window, sizeof window)) return false;
    return ReadMemory(1, RegRecordPort, count * 4, dst);
}

bool CDeviceProxy::ReadPayload(uint32_t byteAddress, uint32_t byteCount, uint8_t* dst) {
    std::lock_guard guard(lock_);
    const uint32_t window[4] = {byteAddress, byteCount / 8, control_.payloadMask, 1};
    if (!WriteRegisters(0, RegPayloadWindow, window, sizeof window)) return false;
    return ReadMemory(1, RegPayloadPort, byteCount / 4, dst);
}

bool CDeviceProxy::DownloadConfiguration(const std::vector<uint8_t>& image) {
    if (image.empty() || image.size() > 0xFFFFFFFFu) return false;
    std::lock_guard guard(lock_);
    CommandBlock block{};
    block.opcode = OpDownloadConfig;
    block.length = uint32_t(image.size());
    unsigned long done = 0;
    uint8_t ack[2] = {};
    if (!port_->WritePort(0, port::kCommandPipe, &block, kCommandBytes, &done, port::kTimeoutMs)) return false;
    if (!port_->ReadPort(0, port::kCommandPipe, ack, 2, &done, port::kTimeoutMs) || done != 2) return false;
    if (ack[0] != 0x01 || ack[1] != 0xFE) return false;
    if (!port_->WritePort(0, port::kBulkOutPipe, image.data(), image.size(), &done, port::kTimeoutMs) ||
        done != image.size())
        return false;
    ack[0] = ack[1] = 0;
    if (!port_->ReadPort(0, port::kCommandPipe, ack, 2, &done, port::kDownloadAckTimeoutMs) || done != 2)
        return false;
    if (ack[0] != 0xAA || ack[1] != 0x55) return false;
    SleepMs(10);
    return true;
}

bool CDeviceProxy::WriteControlImage() {
    return WriteRegisters(0, RegControlBlock, &control_, sizeof control_);
}

ControlBlock CDeviceProxy::ControlImage() const {
    std::lock_guard guard(const_cast<std::recursive_mutex&>(lock_));
    return control_;
}

// ---------------------------------------------------------------- read side

bool CDeviceProxy::AllocateRecords(uint32_t count) {
    // calloc: a 32 M-record array costs nothing until records arrive.
    auto* fresh = static_cast<PacketRecord*>(std::calloc(count ? count : 1, sizeof(PacketRecord)));
    if (!fresh) return false;
    cachedCount_.store(0, std::memory_order_release);
    std::free(records_);
    records_ = fresh;
    capacity_ = count;
    return true;
}

uint32_t CDeviceProxy::GetCount() {
    if (offline_) return CachedCount();
    std::lock_guard guard(lock_);
    if (!ReadStatus()) return 0;
    // An analyser that answers all ones (power-cycled mid-capture) must not make
    // us promise more records than the array set up for this capture holds.
    return std::min(control_.packetBytesCaptured / 16, capacity_);
}

bool CDeviceProxy::FetchRecords(uint32_t index) {
    // Reads from the end of the cache onwards, so the cache stays a prefix of
    // records actually read even when a reader jumps ahead.
    uint32_t captured = std::min(control_.packetBytesCaptured / 16, capacity_);
    while (CachedCount() <= index) {
        uint32_t first = CachedCount();
        uint32_t n = std::min(captured - first, kRecordsPerRead);
        PacketRecord* dst = records_ + first;
        if (!ReadRecords(first * 16 + control_.packetStart, n, dst)) return false;
        const uint32_t payloadSize = control_.payloadMask + 1;  // wraps to 0 for a 4 GiB buffer, as the mask does
        for (uint32_t i = 0; i < n; ++i) {
            if (!dst[i].IsData()) continue;
            uint32_t relative = (dst[i].PayloadOffset() - control_.payloadStart + payloadSize) & control_.payloadMask;
            dst[i].SetPayloadOffset(relative);
        }
        cachedCount_.store(first + n, std::memory_order_release);
    }
    return true;
}

int32_t CDeviceProxy::GetRecord(uint32_t index, PacketRecord* out) {
    if (!out) return RecordEnd;
    if (index < cachedCount_.load(std::memory_order_acquire)) {
        *out = records_[index];
        return RecordOk;
    }
    std::lock_guard guard(lock_);
    if (offline_ || uploadState_ == UploadQuit) return RecordEnd;
    if (index >= capacity_) return RecordEnd;  // can never be held by this capture's array
    if (!ReadStatus()) return RecordEnd;
    uint32_t captured = std::min(control_.packetBytesCaptured / 16, capacity_);
    if (index >= captured) return (control_.control & CtlEnded) ? RecordEnd : RecordNotYet;
    if (!FetchRecords(index)) return RecordEnd;
    *out = records_[index];
    return RecordOk;
}

int32_t CDeviceProxy::GetPayload(const PacketRecord* record, uint8_t* dst, uint32_t capacity, uint16_t* crc) {
    if (!record) return 0;
    const uint32_t length = record->Length();
    if (length < 2) {  // no room even for the CRC16: nothing to serve
        if (crc) *crc = 0;
        return 0;
    }
    const uint32_t payload = length - 2;
    const uint64_t offset = record->PayloadOffset();
    auto deliver = [&](const uint8_t* bytes) {
        if (dst) std::memcpy(dst, bytes, std::min(payload, capacity));
        if (crc) *crc = uint16_t(bytes[payload] | bytes[payload + 1] << 8);
        return int32_t(payload);
    };

    std::lock_guard guard(lock_);
    if (offset + length <= store_.Size()) {
        if (const uint8_t* bytes = store_.View(offset, length)) return deliver(bytes);
        return 0;
    }
    if (offline_) return 0;
    // Not in the store yet: straight from capture memory, 8-byte aligned.
    uint32_t address = uint32_t(offset) + control_.payloadStart;
    uint32_t lead = address & 7;
    uint32_t bytes = (lead + length + 7) & ~7u;
    if (!ReadPayload(address & ~7u, bytes, deviceBuffer_.get())) return 0;
    return deliver(deviceBuffer_.get() + lead);
}

int32_t CDeviceProxy::GetStatus(DeviceStatus* out) {
    if (!out) return 0;
    std::lock_guard guard(lock_);
    *out = DeviceStatus{};
    out->trigger = 0;
    if (!ReadStatus()) return 0;
    if (control_.hold == kHoldUnconfigured) {
        DownloadImage();
        return 0;
    }
    const uint32_t c = control_.control;
    out->flags = StatusOnline | StatusOnline2;
    if (c & CtlTriggered) out->flags |= StatusTriggered;
    if ((c & CtlRun) && !(c & CtlEnded)) out->flags |= StatusRunning;
    if (c & CtlDataComplete) out->flags |= StatusComplete;
    out->packets = control_.packetBytesCaptured / 16;
    out->payloadBytes = control_.payloadBytesCaptured;
    if (c & CtlTriggered) {
        uint32_t rel = (control_.triggerAddress - control_.packetStart + control_.packetMask + 1) & control_.packetMask;
        out->trigger = int32_t(rel / 16) - 1;
    } else {
        out->trigger = -1;
    }
    return 1;
}

int32_t CDeviceProxy::GetDeviceInfo(DeviceInfo* out) {
    if (!out) return 0;
    std::lock_guard guard(lock_);
    *out = DeviceInfo{};
    CommandBlock block{};
    block.opcode = OpDeviceInfo;
    unsigned long done = 0;
    if (!port_->WritePort(0, port::kCommandPipe, &block, kCommandBytes, &done, port::kTimeoutMs)) return 0;
    return port_->ReadPort(0, port::kCommandPipe, out, kDeviceInfoBytes, &done, port::kTimeoutMs) ? 1 : 0;
}

int32_t CDeviceProxy::DownloadImage() {
    std::ifstream file(configPath_, std::ios::binary);
    if (!file) return 0;
    std::vector<uint8_t> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return DownloadConfiguration(image) ? 1 : 0;
}

int32_t CDeviceProxy::Release() {
    // The data source a device hands out is part of the device and dies with it.
    return 0;
}

// ---------------------------------------------------------------- registers

int32_t CDeviceProxy::Reset() {
    std::lock_guard guard(lock_);
    const uint32_t zero = 0;
    WriteRegisters(1, RegResetStrobe, &zero, 4);  // the strobe's reply is not examined
    SleepMs(1);
    return 1;
}

int32_t CDeviceProxy::ClearMemory() {
    std::lock_guard guard(lock_);
    const uint32_t off = 0, on = 1, extent = kClearExtent;
    if (!WriteRegisters(0, RegClearControl, &off, 4)) return 0;
    if (!WriteRegisters(0, RegClearExtent, &extent, 4)) return 0;
    if (!WriteRegisters(0, RegClearControl, &on, 4)) return 0;
    // The analyser sets the done bit by itself; one that never does must not hang us.
    for (int poll = 0; poll < kClearPollLimit; ++poll) {
        uint32_t value = 0;
        if (!ReadRegisters(RegClearControl, &value, 4)) return 0;
        if (value & kClearDone) {
            WriteRegisters(0, RegClearControl, &off, 4);
            return 1;
        }
        if (poll >= 8) SleepMs(1);
    }
    WriteRegisters(0, RegClearControl, &off, 4);
    return 0;
}

int32_t CDeviceProxy::ConfigureStorage(uint32_t prePacketBytes, uint32_t packetBytes, uint32_t prePayloadBytes,
                                       uint32_t payloadBytes, uint32_t /*buffer*/) {
    // Sizes the circular buffers can't have would give masks the analyser wraps
    // wrongly and an array that doesn't match what it records.
    if (!IsPowerOfTwo(packetBytes) || packetBytes < 16 || !IsPowerOfTwo(payloadBytes) ||
        prePacketBytes > packetBytes || prePayloadBytes > payloadBytes)
        return 0;
    std::lock_guard guard(lock_);
    if (!AllocateRecords(packetBytes / 16)) return 0;
    control_ = ControlBlock{};
    control_.hold = 1;
    control_.prePacketBytes = prePacketBytes;
    control_.packetMask = packetBytes - 1;
    control_.prePayloadBytes = prePayloadBytes;
    control_.payloadMask = payloadBytes - 1;
    return WriteControlImage() ? 1 : 0;
}

int32_t CDeviceProxy::HoldCapture() {
    std::lock_guard guard(lock_);
    control_.hold = 1;
    return WriteControlImage() ? 1 : 0;
}

int32_t CDeviceProxy::StartCapture() {
    std::lock_guard guard(lock_);
    control_.control |= CtlRun;
    control_.hold = 0;
    offline_ = false;
    // A new capture never serves the last one's records; after an opened file the
    // array is the file's, so size it for the configured storage again.
    uint32_t configured = control_.packetMask >= 15 ? (control_.packetMask / 16) + 1 : 0;
    if (capacity_ != configured) {
        if (!AllocateRecords(configured)) return 0;
    } else {
        cachedCount_.store(0, std::memory_order_release);
    }
    return WriteControlImage() ? 1 : 0;
}

int32_t CDeviceProxy::SetRunning(int32_t run) {
    std::lock_guard guard(lock_);
    control_.control = (control_.control & ~uint32_t(CtlRun)) | (uint32_t(run) & 1);
    return WriteControlImage() ? 1 : 0;
}

// Filter and trigger registers and the upload come with the capture setup.
int32_t CDeviceProxy::ResetFilter() { return 0; }
int32_t CDeviceProxy::WriteFilterHeld() { return 0; }
int32_t CDeviceProxy::WriteFilter() { return 0; }
int32_t CDeviceProxy::SetAdvancedFilter(int32_t) { return 0; }
int32_t CDeviceProxy::SetFilterFlags(uint32_t) { return 0; }
int32_t CDeviceProxy::SetDropMode(int32_t) { return 0; }
int32_t CDeviceProxy::SetCondition(uint32_t, uint32_t, uint32_t, uint32_t) { return 0; }
int32_t CDeviceProxy::ResetTrigger() { return 0; }
int32_t CDeviceProxy::SetTriggerStep(uint32_t, uint32_t, uint32_t, uint32_t, const char*) { return 0; }
int32_t CDeviceProxy::ArmTrigger() { return 0; }
int32_t CDeviceProxy::BeginUpload() { return 0; }
int32_t CDeviceProxy::EndUpload() { return 1; }

// ---------------------------------------------------------------- files

int32_t CDeviceProxy::OpenOrSave(const char* packetPath, const char* dataPath, int32_t save) {
    if (!packetPath || !dataPath || save) return 0;
    std::lock_guard guard(lock_);
    std::ifstream file(packetPath, std::ios::binary | std::ios::ate);
    if (!file) return 0;
    std::streamoff size = file.tellg();
    // Records are 16 bytes: any other length is not a packet file of ours.
    if (size < 0 || size % 16 != 0 || size / 16 > 0xFFFFFFFFll) return 0;
    uint32_t count = uint32_t(size / 16);
    auto* loaded = static_cast<PacketRecord*>(std::calloc(count ? count : 1, sizeof(PacketRecord)));
    if (!loaded) return 0;
    file.seekg(0);
    if (count && !file.read(reinterpret_cast<char*>(loaded), std::streamsize(size))) {
        std::free(loaded);
        return 0;
    }
    std::free(records_);
    records_ = loaded;
    capacity_ = count;
    offline_ = true;
    cachedCount_.store(count, std::memory_order_release);
    store_.Close();
    return store_.Open(dataPath) ? 1 : 0;
}

}  // namespace orvane::pardix
