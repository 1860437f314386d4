// A software analyser behind the port back-end interface: the command
// protocol on pipes 1-3, the register blocks and the circular capture memory,
// with traffic recorded from a BusCapture at a deterministic pace.
//
// Protocol choices where the hardware leaves room:
// - A read shorter than the pending pipe-1 reply returns the reply's first
//   bytes and drops the rest; a longer one returns the whole reply.
// - A new command block abandons any unfinished exchange (pending replies,
//   data phase, pipe-3 data).
// - Memory writes (0xFA05) go to register space, or to capture memory through
//   the data ports: 0x820001A8 writes packet memory from the record window's
//   address, 0x820001A0 payload memory from the payload window's address.
// - Zero-length transfers fail; time-outs are never waited for.
// - A configuration download takes its version from the file's first four
//   bytes (little-endian), or kDefaultConfigVersion when the file is shorter
//   or they read 0xFFFFFFFF.
// - A new analyser is configured; SetConfigured(false) models one fresh from
//   power-up. The ControlBlock starts held, with 16 KiB packet and 1 MiB
//   payload buffers.
// - Masks are normalised to the next (2^n - 1), at most 512 MiB - 1, and read
//   back normalised.
// - Recording follows the registers the host writes:
//   * Storage: before the trigger only the pre-trigger amounts (ControlBlock
//     words 2 and 4) are kept, older records and payload being overwritten;
//     after it recording goes on until (buffer - pre-trigger amount) more
//     bytes of records or of payload are written, then the capture ends. A
//     pre-trigger amount of the whole buffer sets no post-trigger limit: the
//     capture runs until the traffic is used up or the host stops it.
//   * Filter block, while its hold word is 0 (a held filter passes all):
//     flag 0x40 drops bus events, 0x20 SOFs, 0x08 packets with an error;
//     0x10 drops transactions answered by NAK and 0x04 transactions without a
//     handshake, whole. With flag bit 1 set the four conditions apply to
//     transactions: one matches when its token's address equals the
//     condition's and its endpoint bit is set in the condition's upstream
//     mask (IN) or downstream mask (OUT, SETUP, PING); a zero mask matches
//     nothing. Flag bit 0 set drops matching transactions, clear keeps only
//     them. Lone packets (SOF, bus events) are left to the basic flags.
//   * Trigger table, once armed (hold word 0) with used entries (bit 45): the
//     used entries are steps in table order, each waited for after the one
//     before, anything in between. A step matches a recorded transaction (a
//     token and the data and handshake that follow it) or a lone packet when
//     every packet's PID bit is in its PID mask, the token's address matches
//     (or the step's any-address bit is set) with its endpoint bit in the
//     endpoint mask (a packet without a token needs any address and endpoint
//     mask 0xFFFF), and a data packet's bytes match the pattern block: each
//     (value, mask) pair constrains one byte, a byte beyond the packet
//     matches only a zero mask, and a pair count of 0 means an empty data
//     packet. The trigger point follows the last record of the transaction
//     that completes the last step, so DeviceStatus.trigger names that record.
//     Without an armed table SetTriggerRecord decides.
//   * The trigger sees only what the filter keeps.
// The traffic provider is called with the model's lock held: it must not call
// back into the analyser.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "BusCapture.h"
#include "Port.h"
#include "SparseMemory.h"

namespace orvane::emu {

class EmulatedAnalyser : public port::PortBackend {
public:
    static constexpr uint16_t kOpDownload = 0xFE01;
    static constexpr uint16_t kOpDeviceInfo = 0xFD02;
    static constexpr uint16_t kOpWriteRegister = 0xFC03;
    static constexpr uint16_t kOpReadRegister = 0xFB04;
    static constexpr uint16_t kOpWriteMemory = 0xFA05;
    static constexpr uint16_t kOpReadMemory = 0xF708;

    static constexpr uint32_t kRegisterBase = 0x82000000;
    static constexpr uint32_t kRegisterSpan = 0x8000;
    static constexpr uint32_t kClearControl = 0x82000000;
    static constexpr uint32_t kClearExtent = 0x82000004;
    static constexpr uint32_t kFilterBlock = 0x82000100;
    static constexpr uint32_t kPayloadWindow = 0x82000180;
    static constexpr uint32_t kRecordWindow = 0x82000190;
    static constexpr uint32_t kPayloadPort = 0x820001A0;
    static constexpr uint32_t kRecordPort = 0x820001A8;
    static constexpr uint32_t kControlBlock = 0x82000200;
    static constexpr uint32_t kResetStrobe = 0x82000FF8;
    static constexpr uint32_t kTriggerTable = 0x82004000;
    static constexpr uint32_t kPatternBlocks = 0x82006000;

    static constexpr size_t kCommandSize = 60;
    static constexpr size_t kInlineData = 44;
    static constexpr size_t kDeviceInfoSize = 52;
    static constexpr size_t kControlBlockSize = 44;
    static constexpr size_t kFilterBlockSize = 32;
    static constexpr size_t kTriggerTableSize = 132;
    static constexpr size_t kPatternBlockSize = 512;

    static constexpr uint32_t kModel = 0x1220;
    static constexpr uint32_t kUnconfigured = 0xFFFFFFFF;
    static constexpr uint32_t kDefaultConfigVersion = 0x01000000;

    // Words of the ControlBlock.
    enum ControlWord {
        CbHold, CbFlags, CbPrePacket, CbPacketMask, CbPrePayload, CbPayloadMask,
        CbPacketCaptured, CbPayloadCaptured, CbPacketStart, CbPayloadStart, CbTriggerAddress, CbWords
    };
    enum ControlFlag : uint32_t { FlagRun = 1u, FlagComplete = 2u, FlagTriggered = 8u, FlagEnded = 16u };
    using ControlImage = std::array<uint32_t, CbWords>;

    struct RegisterWrite {
        uint16_t opcode;
        uint16_t argument;
        uint32_t address;
        std::vector<uint8_t> data;
    };

    EmulatedAnalyser();

    // ---- PortBackend ----
    int InitializeInterface(const port::InterfaceGuid* guid) override;
    int WritePort(int device, int pipe, const void* buffer, unsigned long length, unsigned long* transferred,
                  unsigned long timeoutMs) override;
    int ReadPort(int device, int pipe, void* buffer, unsigned long length, unsigned long* transferred,
                 unsigned long timeoutMs) override;
    std::string Name() const override { return "emulated"; }

    // ---- traffic and capture progress ----
    // Asked once at every capture start; takes precedence over SetTraffic.
    void SetTrafficProvider(std::function<BusCapture()> provider);
    void SetTraffic(BusCapture capture);
    // The traffic the next capture records, built as a capture start builds it
    // (a provider makes a new session each time it is asked).
    BusCapture NextTraffic();
    // Records taken per ControlBlock status read; 0 takes everything at once.
    void SetPace(size_t recordsPerStatusRead);
    // The capture triggers on the first record it keeps from `index` on
    // (record 0, the default: its first kept record); nullopt never triggers.
    void SetTriggerRecord(std::optional<size_t> index);
    // Capture-memory addresses where every capture starts (0, 0 by default).
    void SetCaptureStart(uint32_t packetStart, uint32_t payloadStart);
    // Reads of the clear control register until it reports done (at least 1).
    void SetClearReads(unsigned reads);
    // Takes up to `records` more traffic records; returns how many were taken.
    size_t AdvanceCapture(size_t records);
    // Records written to capture memory in this capture (what the filter kept).
    size_t RecordsWritten() const;
    // Records all remaining traffic and ends the capture.
    void FinishCapture();
    // False keeps a capture running after its traffic is used up, as a quiet
    // bus does, until FinishCapture or the host stops it.
    void SetEndWhenExhausted(bool end);
    bool Capturing() const;

    // ---- identity and configuration ----
    void SetConfigured(bool configured);
    bool Configured() const;
    void SetDeviceInfo(uint32_t model, uint32_t firmware, uint32_t serial);
    uint32_t ConfigurationVersion() const;

    // ---- fault injection; counts start with the next transfer ----
    // Transfer `nth` from now (1 = the next, any pipe, either direction) fails.
    void FailTransfer(unsigned nth);
    // Command block `nth` from now fails and so does every transfer after it.
    void DisconnectAtCommand(unsigned nth);
    void Reconnect();
    // The next pipe-3 read returns at most `bytes` and fewer than asked; the
    // data stays pending for the repeated read.
    void ShortenNextBulkRead(unsigned long bytes);
    // Pipe-1 reply `nth` from now (1 = the next) is cut to at most `bytes`,
    // its head intact, as a bad cable can leave it.
    void ShortenReply(unsigned nth, unsigned long bytes);
    // The next reply that echoes its opcode (a command's or the device information) echoes a wrong one.
    void CorruptNextEcho();
    // The next acknowledgement (01 FE or AA 55) is wrong.
    void CorruptNextAck();
    // While held, reads of capture memory wait: an upload stalls where it is,
    // so a caller can look at the program while it uploads. Register reads go on.
    void HoldMemoryReads(bool hold);

    // ---- inspection ----
    // Command blocks accepted.
    unsigned CommandCount() const;
    // Transfers attempted on a pipe, failed ones included.
    unsigned TransferCount(int pipe) const;
    // Piece sizes of the latest pipe-2 data phase.
    std::vector<unsigned long> LastWritePieces() const;
    // Register-space writes (0xFC03, and 0xFA05 into register space).
    std::vector<RegisterWrite> RegisterWrites() const;
    std::vector<uint8_t> ReadPacketMemory(uint32_t address, size_t length) const;
    std::vector<uint8_t> ReadPayloadMemory(uint32_t address, size_t length) const;
    std::array<uint8_t, kFilterBlockSize> FilterBlock() const;
    std::array<uint8_t, kTriggerTableSize> TriggerTable() const;
    std::array<uint8_t, kPatternBlockSize> PatternBlock(unsigned step) const;
    // The analyser's own ControlBlock, hold word as stored.
    ControlImage ControlBlock() const;

private:
    enum class Target { None, Registers, PacketMemory, PayloadMemory, Download };

    struct DataPhase {
        Target target = Target::None;
        uint16_t argument = 0;
        uint32_t address = 0;
        uint32_t mask = 0;
        uint64_t expected = 0;
        uint64_t received = 0;
        std::vector<uint8_t> bytes;  // register data, or the file's head
    };

    struct BulkRead {
        Target source = Target::None;
        uint32_t address = 0;
        uint32_t mask = 0;
        uint64_t length = 0;
        uint64_t position = 0;
        std::vector<uint8_t> bytes;  // register-space snapshot
    };

    bool Admit(bool commandBlock);
    bool HandleCommand(const uint8_t* block, unsigned long length);
    bool HandleBulkOut(const uint8_t* data, unsigned long length);
    void AbandonExchange();
    void QueueEcho(std::vector<uint8_t> reply);
    void QueueAck(std::vector<uint8_t> reply);
    uint32_t RegisterWord(uint32_t address) const;

    void WriteRegisters(uint16_t opcode, uint16_t argument, uint32_t address, const uint8_t* data, size_t length);
    void ReadRegisters(uint32_t address, size_t length, uint8_t* out);
    void ApplyControlWrite(const ControlImage& image);
    ControlImage RenderControl() const;
    void StartClear();
    void ResetControl();

    // A transaction (token, data, handshake) or a lone packet of the traffic.
    struct Group {
        size_t first = 0;
        size_t last = 0;
        std::optional<size_t> token;
        std::optional<size_t> data;
        uint8_t handshake = 0;  // PID nibble, 0 none
    };

    void StartCapture();
    BusCapture BuildTraffic();
    void GroupTraffic();
    size_t Record(size_t records);
    void ConsumeOne();
    void WriteOne(size_t index);
    bool GroupPasses(const Group& group) const;
    bool RecordPasses(const PacketRecord& record) const;
    bool TableArmed() const;
    bool StepMatches(unsigned entry, const Group& group) const;
    void EvaluateTrigger(const Group& group);
    void Trigger(uint64_t recordsBefore, uint64_t payloadBefore);
    void UpdateCounters();
    void EndCapture();

    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool holdMemoryReads_ = false;

    std::vector<uint8_t> registers_;
    ControlImage control_{};
    SparseMemory packetMemory_;
    SparseMemory payloadMemory_;

    std::deque<std::vector<uint8_t>> replies_;
    DataPhase phase_;
    BulkRead bulkRead_;

    uint32_t model_ = kModel;
    uint32_t firmware_ = 0x01000200;
    uint32_t serial_ = 1220001;
    uint32_t configVersion_ = kDefaultConfigVersion;

    bool clearActive_ = false;
    bool clearDone_ = false;
    unsigned clearReads_ = 1;
    unsigned clearReadsLeft_ = 0;

    std::function<BusCapture()> provider_;
    std::optional<BusCapture> fixedTraffic_;
    BusCapture traffic_;
    bool capturing_ = false;
    bool endWhenExhausted_ = true;
    size_t recorded_ = 0;  // traffic records taken
    std::vector<Group> groups_;
    std::vector<uint32_t> groupOf_;
    bool keepGroup_ = true;
    std::vector<size_t> groupKept_;
    uint64_t written_ = 0;  // records written to capture memory
    uint64_t payloadWritten_ = 0;
    uint64_t payloadBeforeRecord_ = 0;
    bool triggered_ = false;
    unsigned stepsMatched_ = 0;
    uint64_t packetBeforeTrigger_ = 0;   // bytes written before the trigger point
    uint64_t payloadBeforeTrigger_ = 0;
    uint64_t packetPreAtTrigger_ = 0;    // bytes kept from before it
    uint64_t payloadPreAtTrigger_ = 0;
    uint32_t packetBase_ = 0;
    uint32_t payloadBase_ = 0;
    size_t pace_ = 4096;
    std::optional<size_t> triggerRecord_ = 0;
    uint32_t startPacket_ = 0;
    uint32_t startPayload_ = 0;

    unsigned failIn_ = 0;
    unsigned disconnectIn_ = 0;
    bool disconnected_ = false;
    std::optional<unsigned long> shortRead_;
    unsigned shortReplyIn_ = 0;
    unsigned long shortReplyBytes_ = 0;
    bool corruptEcho_ = false;
    bool corruptAck_ = false;

    unsigned commands_ = 0;
    std::array<unsigned, 4> transfers_{};
    std::vector<unsigned long> pieces_;
    std::vector<RegisterWrite> log_;
};

}  // namespace orvane::emu
