#include "CDeviceProxy.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>

#include "AppDirectory.h"
#include "CaptureFiles.h"
#include "CSetupLoader.h"
#include "RecordFetch.h"
#include "RegularFile.h"

namespace orvane::pardix {

namespace {

// The reply that ends a memory write, and a configuration download.
constexpr uint8_t kDoneAck[2] = {0xAA, 0x55};

// A memory read whose data keeps arriving short is given up after this many tries.
constexpr int kShortReadRetries = 64;

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The bytes a whole upload leaves in the store for a capture: its payload
// from the first byte and 1024 beyond, none when it has no payload.
uint64_t StoreBytes(const ControlBlock& image) {
    if (image.payloadBytesCaptured == 0) return 0;
    return uint64_t(image.payloadBytesCaptured) + 1024 - image.payloadStart % 8;
}

}  // namespace

CDeviceProxy::CDeviceProxy(port::PortBackend* port)
    : port_(port ? port : &port::CurrentBackend()), deviceBuffer_(new uint8_t[kUploadChunk + 8]) {
    configPath_ = GetAppDirectory() + "/../common/device.rvs";
    port_->InitializeInterface(&port::kAnalyserInterface);
    RemoveDeadStores();
    uploadThread_ = std::thread([this] { UploadLoop(); });
}

CDeviceProxy::~CDeviceProxy() {
    StopLoading();
    Shutdown();
    store_.Close();
    if (!tempFolder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(tempFolder_, ignored);
    }
    if (lockFd_ >= 0) ::close(lockFd_);
    UnmapRecords(records_, capacity_);
}

void CDeviceProxy::Shutdown() {
    SetUploadState(UploadQuit);
    if (uploadThread_.joinable()) uploadThread_.join();
}

// ---------------------------------------------------------------- protocol

bool CDeviceProxy::SendCommand() {
    std::lock_guard guard(lock_);
    unsigned long done = 0;
    if (!port_->WritePort(0, port::kCommandPipe, &block_, kCommandBytes, &done, port::kTimeoutMs)) return false;
    if (done != kCommandBytes) return false;
    return ReadReply(reply_, kCommandBytes, &block_);
}

bool CDeviceProxy::ReadReply(void* dst, unsigned long bytes, const void* head, unsigned long timeoutMs) {
    unsigned long done = 0;
    if (!port_->ReadPort(0, port::kCommandPipe, dst, bytes, &done, timeoutMs)) return false;
    // A short reply with the right head would leave the previous reply's bytes behind it.
    return done == bytes && (!head || std::memcmp(dst, head, 2) == 0);
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
    return ReadReply(reply_, kCommandBytes, kDoneAck);
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
    if (!ReadRegisters(RegControlBlock, &fresh, sizeof fresh)) {
        read_.doubt = true;  // unplugged, may be: what it holds when it answers again is checked
        return false;
    }
    control_ = fresh;
    TrackTrigger();
    JudgeStatus();
    stateChanged_.notify_all();  // the upload waits on the image's end bits
    return true;
}

bool CDeviceProxy::ReadRecords(uint32_t byteAddress, uint32_t count, PacketRecord* dst) {
    std::lock_guard guard(lock_);
    return ReadRecords(byteAddress, count, dst, control_.packetMask);
}

bool CDeviceProxy::ReadRecords(uint32_t byteAddress, uint32_t count, PacketRecord* dst, uint32_t packetMask) {
    std::lock_guard guard(lock_);
    const uint32_t window[4] = {byteAddress, count, packetMask, 1};
    if (WriteRegisters(0, RegRecordWindow, window, sizeof window) && ReadMemory(1, RegRecordPort, count * 4, dst))
        return true;
    read_.doubt = true;
    return false;
}

bool CDeviceProxy::ReadPayload(uint32_t byteAddress, uint32_t byteCount, uint8_t* dst) {
    std::lock_guard guard(lock_);
    const uint32_t window[4] = {byteAddress, byteCount / 8, PayloadImage().payloadMask, 1};
    if (WriteRegisters(0, RegPayloadWindow, window, sizeof window) && ReadMemory(1, RegPayloadPort, byteCount / 4, dst))
        return true;
    read_.doubt = true;
    return false;
}

bool CDeviceProxy::DownloadConfiguration(const std::vector<uint8_t>& image) {
    if (image.empty() || image.size() > 0xFFFFFFFFu) return false;
    std::lock_guard guard(lock_);
    CommandBlock block{};
    block.opcode = OpDownloadConfig;
    block.length = uint32_t(image.size());
    unsigned long done = 0;
    uint8_t ack[2] = {};
    static constexpr uint8_t kReady[2] = {0x01, 0xFE};
    if (!port_->WritePort(0, port::kCommandPipe, &block, kCommandBytes, &done, port::kTimeoutMs)) return false;
    if (!ReadReply(ack, 2, kReady)) return false;
    if (!port_->WritePort(0, port::kBulkOutPipe, image.data(), image.size(), &done, port::kTimeoutMs) ||
        done != image.size())
        return false;
    if (!ReadReply(ack, 2, kDoneAck, port::kDownloadAckTimeoutMs)) return false;
    SleepMs(10);
    return true;
}

bool CDeviceProxy::WriteControlImage() {
    return WriteRegisters(0, RegControlBlock, &control_, sizeof control_);
}

ControlBlock CDeviceProxy::ControlImage() const {
    std::lock_guard guard(lock_);
    return control_;
}

// ---------------------------------------------------------------- read side

void CDeviceProxy::WaitLoaded(uint32_t index) {
    std::unique_lock guard(loadMutex_);
    loaded_.wait(guard, [&] { return index < CachedCount() || !loading_.load(std::memory_order_acquire); });
}

void CDeviceProxy::StopLoading() {
    stopLoading_ = true;
    if (loader_.joinable()) loader_.join();
    stopLoading_ = false;
}

void CDeviceProxy::TrackTrigger() {
    if (!(control_.control & CtlTriggered)) return;
    // The trigger address says where the trigger point lies in the ring, not
    // whether the ring has written over it since: that shows in how far the
    // capture's start has moved on from read to read.
    if (!triggerTracked_) {
        triggerTracked_ = true;
        triggerRecords_ = ((control_.triggerAddress - control_.packetStart) & control_.packetMask) / 16;
    } else {
        triggerRecords_ -= ((control_.packetStart - trackedStart_) & control_.packetMask) / 16;
    }
    trackedStart_ = control_.packetStart;
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
    out->trigger = -1;
    // A trigger point the ring has written over, or that lies outside what the
    // capture holds, marks no packet.
    if ((c & CtlTriggered) && triggerRecords_ >= 1 && triggerRecords_ <= int64_t(out->packets))
        out->trigger = int32_t(triggerRecords_ - 1);
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
    // Its header is not interpreted: only a reply cut short is refused.
    if (done != kCommandBytes || !ReadReply(out, kDeviceInfoBytes, nullptr)) {
        *out = DeviceInfo{};  // no model or version read from a reply that is not whole
        return 0;
    }
    return 1;
}

int32_t CDeviceProxy::DownloadImage() {
    std::lock_guard guard(lock_);
    std::ifstream file(configPath_, std::ios::binary);
    if (!file) return 0;
    // Only an analyser that has no configuration gets one.
    DeviceInfo info;
    if (!GetDeviceInfo(&info) || info.configVersion != kNoConfiguration) return 0;
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
    // The record array is sized at the start: until then it holds the capture on hand.
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
    StopLoading();
    std::lock_guard guard(lock_);
    control_.control |= CtlRun;
    control_.hold = 0;
    offline_ = false;
    keptInAnalyser_ = false;  // the analyser records over it
    triggerTracked_ = false;
    openedFile_ = false;
    // Nor its payload: an upload of this capture never goes on from the last one's store.
    store_.Close();
    // A new capture never serves the last one's records; after an opened file the
    // array is the file's, so size it for the configured storage again.
    uint32_t configured = control_.packetMask >= 15 ? (control_.packetMask / 16) + 1 : 0;
    if (capacity_ != configured) {
        if (!AllocateRecords(configured)) return 0;
    } else {
        cachedCount_.store(0, std::memory_order_release);
        ForgetFetch();
    }
    bool ok = WriteControlImage();
    // The last capture's end bits must not let an upload start before the
    // next status read shows this capture's own.
    control_.control &= ~uint32_t(CtlDataComplete | CtlEnded | CtlTriggered);
    control_.packetBytesCaptured = control_.payloadBytesCaptured = 0;
    return ok ? 1 : 0;
}

int32_t CDeviceProxy::SetRunning(int32_t run) {
    std::lock_guard guard(lock_);
    control_.control = (control_.control & ~uint32_t(CtlRun)) | (uint32_t(run) & 1);
    return WriteControlImage() ? 1 : 0;
}


// ---------------------------------------------------------------- filter

bool CDeviceProxy::WriteFilterImage() { return WriteRegisters(0, RegFilterBlock, &filter_, sizeof filter_); }

FilterBlock CDeviceProxy::FilterImage() const {
    std::lock_guard guard(lock_);
    return filter_;
}

int32_t CDeviceProxy::ResetFilter() {
    std::lock_guard guard(lock_);
    filter_ = FilterBlock{};
    filter_.hold = 1;
    return WriteFilterImage() ? 1 : 0;
}

int32_t CDeviceProxy::WriteFilterHeld() {
    std::lock_guard guard(lock_);
    filter_.hold = 1;
    return WriteFilterImage() ? 1 : 0;
}

int32_t CDeviceProxy::WriteFilter() {
    std::lock_guard guard(lock_);
    filter_.hold = 0;
    return WriteFilterImage() ? 1 : 0;
}

int32_t CDeviceProxy::SetAdvancedFilter(int32_t enable) {
    std::lock_guard guard(lock_);
    filter_.flags = (filter_.flags & ~kFilterAdvanced) | ((uint32_t(enable) & 1) << 1);
    return 1;
}

int32_t CDeviceProxy::SetFilterFlags(uint32_t flags) {
    std::lock_guard guard(lock_);
    filter_.flags = flags;
    return 1;
}

int32_t CDeviceProxy::SetDropMode(int32_t drop) {
    std::lock_guard guard(lock_);
    filter_.flags = (filter_.flags & ~kFilterDrop) | (uint32_t(drop) & 1);
    return 1;
}

int32_t CDeviceProxy::SetCondition(uint32_t address, uint32_t id, uint32_t upstream, uint32_t downstream) {
    if (id > 3) return 1;
    std::lock_guard guard(lock_);
    const uint32_t shift = 7 * id;
    filter_.addresses = (filter_.addresses & ~(0x7Fu << shift)) | ((address & 0x7F) << shift);
    filter_.upstream[id] = uint16_t(upstream);
    filter_.downstream[id] = uint16_t(downstream);
    return 1;
}

// ---------------------------------------------------------------- trigger

bool CDeviceProxy::WriteTriggerImage() {
    return WriteMemory(0, RegTriggerTable, sizeof trigger_ / 4, &trigger_);
}

TriggerTable CDeviceProxy::TriggerImage() const {
    std::lock_guard guard(lock_);
    return trigger_;
}

int32_t CDeviceProxy::ResetTrigger() {
    std::lock_guard guard(lock_);
    trigger_ = TriggerTable{};
    trigger_.hold = 1;
    return WriteTriggerImage() ? 1 : 0;
}

int32_t CDeviceProxy::ArmTrigger() {
    std::lock_guard guard(lock_);
    trigger_.hold = 0;
    return WriteTriggerImage() ? 1 : 0;
}

int32_t CDeviceProxy::SetTriggerStep(uint32_t index, uint32_t address, uint32_t endpoint, uint32_t pidMask,
                                     const char* data) {
    if (index >= uint32_t(kTriggerSteps)) return 0;
    address &= 0xFF;
    uint8_t pairs[kPatternBytes] = {};
    const uint32_t bytes = ParseTriggerPattern(data ? data : "", pairs);
    uint64_t word = uint64_t((bytes / 2) & kStepPairsMask) | uint64_t(pidMask & 0xFFF) << kStepPidShift |
                    uint64_t(endpoint & 0xFFFF) << kStepEndpointShift |
                    uint64_t(address > 127 ? 1 : 0) << kStepAnyAddressBit |
                    uint64_t(address & 0x7F) << kStepAddressShift | 1ull << kStepUsedBit;
    std::lock_guard guard(lock_);
    trigger_.steps[index] = (trigger_.steps[index] & ~kStepFieldsMask) | word;
    if (bytes == 0) return 1;
    return WriteMemory(0, RegPatternBase + kPatternStride * index, kPatternBytes / 4, pairs) ? 1 : 0;
}

namespace {

std::string Trim(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
    return text.substr(first, last - first);
}

uint8_t HexDigit(char c) {
    if (c >= '0' && c <= '9') return uint8_t(c - '0');
    if (c >= 'A' && c <= 'F') return uint8_t(c - 'A' + 10);
    return 0;
}

}  // namespace

std::vector<std::string> CDeviceProxy::SplitTokens(const std::string& text) {
    std::vector<std::string> tokens;
    std::string current;
    auto flush = [&] {
        // "12 34 " would otherwise end in an empty token that matches a byte too many.
        if (!current.empty() && tokens.size() < size_t(kMaxPatternTokens)) tokens.push_back(current);
        current.clear();
    };
    for (char c : text) {
        if (c == ' ' || c == ';' || c == ',')
            flush();
        else
            current += c;
    }
    flush();
    return tokens;
}

uint32_t CDeviceProxy::ParseTriggerPattern(const std::string& text, uint8_t (&pairs)[kPatternBytes]) {
    std::string t = Trim(text);
    for (char& c : t) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (t.empty()) return 0;
    if (t == "?") {
        pairs[0] = pairs[1] = 0;
        return 2;
    }
    const char kind = t.back();
    if (kind == 'H' || kind == 'B') t.pop_back();
    const std::vector<std::string> tokens = SplitTokens(t);
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::string token = Trim(tokens[i]);
        uint8_t value = 0, mask = 0;
        if (kind == 'H') {
            if (token.size() >= 2) {
                value = uint8_t(HexDigit(token[0]) << 4 | HexDigit(token[1]));
                mask = uint8_t((token[0] == '?' ? 0 : 0xF0) | (token[1] == '?' ? 0 : 0x0F));
            }
        } else if (kind == 'B') {
            if (token.size() >= 8) {
                for (int bit = 0; bit < 8; ++bit) {
                    const uint8_t b = uint8_t(0x80 >> bit);
                    if (token[size_t(bit)] == '1') value |= b;
                    if (token[size_t(bit)] != '?') mask |= b;
                }
            }
        } else if (token != "?") {
            value = uint8_t(std::strtol(token.c_str(), nullptr, 10));
            mask = 0xFF;
        }
        pairs[2 * i] = value;
        pairs[2 * i + 1] = mask;
    }
    return uint32_t(2 * tokens.size());
}

// ---------------------------------------------------------------- upload

void CDeviceProxy::SetUploadState(uint32_t state) {
    {
        std::lock_guard guard(stateMutex_);
        uploadState_ = state;
    }
    stateChanged_.notify_all();
}

void CDeviceProxy::SetUploadWaiter(UploadWaiter waiter) {
    std::lock_guard guard(stateMutex_);
    waiter_ = std::move(waiter);
}

std::string CDeviceProxy::TemporaryFolder() const {
    std::lock_guard guard(lock_);
    return tempFolder_;
}

namespace {

std::string TemporaryBase() {
    const char* base = std::getenv("TMPDIR");
    return base && *base == '/' ? base : "/tmp";
}

std::string StorePrefix() { return "orvane-" + std::to_string(::geteuid()) + "-"; }

// The file in a store's folder that its process holds locked for its life,
// with the process id written once the lock is held.
constexpr const char* kOwnerFile = "owner";

}  // namespace

bool CDeviceProxy::MakeTemporaryFolder() {
    if (!tempFolder_.empty()) return true;
    // A fresh folder of our own, made 0700 under a name nobody can guess, so no
    // other user can plant or redirect the store.
    std::string pattern = TemporaryBase() + "/" + StorePrefix() + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data())) return false;
    tempFolder_ = name.data();
    // Held while we live, so a later start can tell a store left by a process
    // that died (kill -9, a crash) from one still in use.
    const std::string lock = tempFolder_ + "/" + kOwnerFile;
    lockFd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd_ >= 0 && ::flock(lockFd_, LOCK_EX | LOCK_NB) == 0) {
        const std::string pid = std::to_string(::getpid());
        WriteAll(lockFd_, pid.data(), pid.size());
    }
    return true;
}

void CDeviceProxy::RemoveDeadStores() {
    std::error_code error;
    const std::string prefix = StorePrefix();
    for (const auto& entry : std::filesystem::directory_iterator(TemporaryBase(), error)) {
        const std::string name = entry.path().filename().string();
        struct stat st {};
        if (name.compare(0, prefix.size(), prefix) != 0 || ::lstat(entry.path().c_str(), &st) != 0 ||
            !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        const std::string lock = entry.path().string() + "/" + kOwnerFile;
        const int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;  // just made, or not ours to judge
        struct stat lockStat {};
        // An empty owner file is one whose process has not locked it yet.
        if (::fstat(fd, &lockStat) == 0 && lockStat.st_size > 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            std::filesystem::remove_all(entry.path(), error);
        ::close(fd);
    }
}

int32_t CDeviceProxy::BeginUpload() { return StartUpload(false); }

int32_t CDeviceProxy::StartUpload(bool resume) {
    std::lock_guard guard(lock_);
    uploadError_ = 0;
    if (!resume || !store_.IsOpen()) {
        store_.Close();
        if (!MakeTemporaryFolder() || !store_.Create(tempFolder_ + "/" + kStoreName)) {
            uploadError_ = errno ? errno : EIO;
            return 0;
        }
    }
    progress_ = 0;
    // Going on: the dialog starts where the store ends, short of done.
    if (const ControlBlock* held = resume ? HeldImage() : nullptr)
        if (const uint64_t whole = StoreBytes(*held)) progress_ = int32_t(std::min(store_.Size(), whole) * 99 / whole);
    std::lock_guard state(stateMutex_);
    if (uploadState_ == UploadQuit) return 0;
    ++uploadGeneration_;  // an upload still running starts over for the new store
    uploadState_ = UploadRunning;
    stateChanged_.notify_all();
    return 1;
}

int32_t CDeviceProxy::EndUpload() {
    std::unique_lock guard(stateMutex_);
    if (uploadState_ != UploadRunning) return 1;
    uploadState_ = UploadStopRequested;
    stateChanged_.notify_all();
    stateChanged_.wait(guard, [&] { return uploadState_ != UploadStopRequested; });
    return 1;
}

bool CDeviceProxy::UploadGoesOn(uint64_t generation) const {
    return uploadState_ == UploadRunning && uploadGeneration_ == generation;
}

void CDeviceProxy::UploadLoop() {
    for (;;) {
        uint64_t generation;
        {
            std::unique_lock guard(stateMutex_);
            stateChanged_.wait_for(guard, std::chrono::milliseconds(50),
                                   [&] { return uploadState_ != UploadIdle; });
            if (uploadState_ == UploadQuit) return;
            if (uploadState_ == UploadStopRequested) {
                uploadState_ = UploadIdle;
                stateChanged_.notify_all();
                continue;
            }
            if (uploadState_ != UploadRunning) continue;
            generation = uploadGeneration_;
        }
        const UploadEnd end = RunUpload(generation);
        if (end == UploadEnd::Quit) return;
        std::lock_guard guard(stateMutex_);
        if (uploadState_ == UploadQuit) return;
        // A new request that came in meanwhile is left for the next turn, its progress untouched.
        if (uploadGeneration_ != generation) continue;
        // One cut short by a failed read or write is not done: a save fetches the rest.
        if (end != UploadEnd::Failed) progress_ = 100;
        uploadState_ = UploadIdle;
        stateChanged_.notify_all();
    }
}

CDeviceProxy::UploadEnd CDeviceProxy::RunUpload(uint64_t generation) {
    // The data: ended and complete in the image that the status polling
    // refreshes, or in that of a capture kept across a setup.
    ControlBlock image;
    for (;;) {
        {
            std::lock_guard guard(lock_);
            // Once it ended (or was kept), only while the analyser still holds
            // it; an opened file's it holds none of.
            if (keptInAnalyser_ || read_.imageKnown || offline_) {
                const ControlBlock* held = HeldImage();
                if (!held) {
                    uploadError_ = 0;
                    return UploadEnd::Failed;
                }
                image = *held;
                break;
            }
        }
        std::unique_lock guard(stateMutex_);
        if (uploadState_ == UploadQuit) return UploadEnd::Quit;
        if (!UploadGoesOn(generation)) return UploadEnd::Ended;
        stateChanged_.wait_for(guard, std::chrono::milliseconds(50));
    }
    const uint32_t lead = image.payloadStart % 8;
    const uint32_t aligned = image.payloadStart - lead;
    const uint64_t total = uint64_t(image.payloadBytesCaptured) + 1024;
    if (total <= 1024) return UploadEnd::Ended;
    // From where the store ends, counted from `aligned`: a fresh store starts
    // at the payload's first byte, one cut short at the first byte it lacks.
    uint64_t from;
    {
        std::lock_guard guard(lock_);
        from = store_.Size() + lead;
    }
    for (uint64_t offset = from & ~uint64_t(7); offset < total; offset += kUploadChunk) {
        std::lock_guard guard(lock_);
        if (uploadState_ == UploadQuit) return UploadEnd::Quit;
        if (!UploadGoesOn(generation)) return UploadEnd::Ended;
        const uint32_t n = uint32_t(std::min<uint64_t>(total - offset, kUploadChunk));
        const uint32_t bytes = (n + 7) & ~7u;
        // A failed read (an unplugged analyser) or write ends the upload with
        // what is stored; the rest stays in capture memory for the save, and
        // is read only while the analyser still holds the capture.
        if (!MayReadCapture() || !ReadPayload(uint32_t(aligned + offset), bytes, deviceBuffer_.get())) {
            uploadError_ = EIO;
            return UploadEnd::Failed;
        }
        const uint32_t skip = uint32_t(from > offset ? from - offset : 0);
        if (!store_.Append(deviceBuffer_.get() + skip, n - skip)) {
            uploadError_ = errno ? errno : EIO;
            return UploadEnd::Failed;
        }
        progress_ = int32_t(double(offset) * 100.0 / double(total));
    }
    return UploadEnd::Ended;
}

const ControlBlock* CDeviceProxy::HeldImage() const {
    if (read_.gone) return nullptr;
    if (keptInAnalyser_) return &kept_;  // capture memory is only written over by the next capture
    if (offline_ || !read_.imageKnown) return nullptr;
    return &read_.image;  // the last status read showed it, or it would be gone
}

bool CDeviceProxy::StoreShortOfHeld() const {
    const ControlBlock* held = HeldImage();
    return held && Ended(*held) && store_.Size() < StoreBytes(*held);
}

int32_t CDeviceProxy::FetchRest() {
    {
        std::lock_guard guard(lock_);
        if (uploadState_ != UploadIdle) return 0;  // one runs already: its progress is what shows
        if (offline_ && !keptInAnalyser_) return 0;
        // The analyser's word now on whether it still holds the capture.
        if (!keptInAnalyser_ && !AskStatus()) return 0;
        if (!StoreShortOfHeld()) return 0;
        // A store that lacks only bytes no packet of the capture owns needs nothing more.
        if (!offline_ && Ended(control_) && !read_.walked && !FetchRecords(0)) return 0;
        uint32_t first = 0;
        if (!PacketsPastStore(&first)) return 0;
    }
    return StartUpload(true);
}

void CDeviceProxy::WaitForUpload() {
    std::unique_lock guard(stateMutex_);
    while (uploadState_ == UploadRunning || uploadState_ == UploadStopRequested) {
        guard.unlock();
        {
            // Refresh the image as the status polling would; an analyser that no
            // longer answers can never finish the upload, so it is ended.
            std::lock_guard data(lock_);
            if (!Ended(PayloadImage()) && !ReadStatus()) {
                std::lock_guard state(stateMutex_);
                if (uploadState_ == UploadRunning) uploadState_ = UploadStopRequested;
                stateChanged_.notify_all();
            }
        }
        guard.lock();
        stateChanged_.wait_for(guard, std::chrono::milliseconds(50), [&] {
            return uploadState_ != UploadRunning && uploadState_ != UploadStopRequested;
        });
    }
}

int32_t CDeviceProxy::DiscardCapture() {
    EndUpload();
    StopLoading();
    std::lock_guard guard(lock_);
    if (!AllocateRecords(0)) return 0;
    offline_ = true;
    keptInAnalyser_ = false;
    offlineCount_.store(0, std::memory_order_release);
    store_.Close();
    // Its bytes are no one's now; the next upload makes it afresh.
    if (!tempFolder_.empty()) ::unlink((tempFolder_ + "/" + kStoreName).c_str());
    return 1;
}

}  // namespace orvane::pardix
