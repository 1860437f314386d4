// The field walkers of the still-image class: the command, response and
// event containers, the header of a data container, the six datasets the
// decoder reads by operation (DeviceInfo, StorageIDArray, StorageInfo,
// ObjectHandleArray, ObjectInfo, DevicePropDesc) and the data of the class
// requests, with their value formatters.
//
// Datasets are walked under one bounds rule: a field is written only when all
// its bytes lie inside the dataset; the first one that does not, or a value
// of a data type without an entry, ends the walk for good. Counts are printed
// before their elements, and a count larger than the data yields only the
// elements that fit.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "IEnumerable.h"

namespace orvane::palvine {

constexpr uint32_t kHeaderBytes = 12;

// Container types, at bytes 4 and 5.
enum ContainerType : uint16_t { CommandBlock = 1, DataBlock = 2, ResponseBlock = 3, EventBlock = 4 };

// The 12-byte header, from as many bytes as there are.
struct ContainerHeader {
    uint32_t length = 0;
    uint16_t type = 0;
    uint16_t code = 0;
    uint32_t transaction = 0;
    uint32_t captured = 0;  // header bytes present, up to 12

    static ContainerHeader From(std::span<const uint8_t> bytes);
};

// ---- value formatters ----

// "%d bytes" below 1 KB, else "%.2lf KB(%.0lf bytes)", MB or GB.
std::string FormatPtpByteSize(uint64_t n);
// One value of a scalar or array data type as hexadecimal of its width; the
// low 64 bits go to `value` when given. Empty for any other type.
std::string FormatTypedValue(uint32_t dataType, std::span<const uint8_t> bytes, uint64_t* value = nullptr);
std::string FunctionalModeName(uint32_t mode);
// A string's UTF-16 characters as XML-safe UTF-8, cut at the first 0.
std::string ReadPtpString(std::span<const uint8_t> characters);

// ---- containers ----

// A command, response or event container: SetData takes the container's
// bytes as fetched (at least its first 24, where it has them) and its whole
// byte count, which names the parameters and the bytes left over.
class CContainerWalker : public IEnumerable {
public:
    void SetData(const uint8_t* data, uint32_t length) override;
    // The byte count of the whole container, when more than SetData gave.
    void SetCapturedCount(uint32_t count) { captured_ = count; }
    void Enumerate(std::vector<FieldRecord>& fields) override;

protected:
    virtual std::span<const char* const> ParamNames(uint16_t code) const = 0;
    virtual const char* OwnCodeField() const = 0;

private:
    std::span<const uint8_t> data_;
    uint32_t captured_ = 0;
};

class CONTAINER_STRUCTURE_imp : public CContainerWalker {
public:
    void GetName(std::string& name) override { name = "Still Image Command"; }

protected:
    std::span<const char* const> ParamNames(uint16_t code) const override;
    const char* OwnCodeField() const override { return "OperationCode"; }
};

// Its parameters are named by the operation it answers.
class CONTAINER_STRUCTURER_RES_imp : public CContainerWalker {
public:
    explicit CONTAINER_STRUCTURER_RES_imp(uint32_t operationCode) : operation_(operationCode) {}
    void GetName(std::string& name) override { name = "Still Image Response"; }

protected:
    std::span<const char* const> ParamNames(uint16_t code) const override;
    const char* OwnCodeField() const override { return "ResponseCode"; }

private:
    uint32_t operation_;
};

class CONTAINER_STRUCTURER_EVENT_imp : public CContainerWalker {
public:
    void GetName(std::string& name) override { name = "Still Image Event"; }

protected:
    std::span<const char* const> ParamNames(uint16_t code) const override;
    const char* OwnCodeField() const override { return "EventCode"; }
};

// The 12 header bytes of a data container and a "Payload" field covering the
// dataset; a Length of 0xFFFFFFFF stands for the phase's byte count.
class DEVICE_INFO_HEAD_imp : public IEnumerable {
public:
    explicit DEVICE_INFO_HEAD_imp(uint64_t phaseBytes) : phaseBytes_(phaseBytes) {}
    void SetData(const uint8_t* data, uint32_t length) override;
    void GetName(std::string& name) override { name = "Still Image Data"; }
    void Enumerate(std::vector<FieldRecord>& fields) override;

private:
    std::span<const uint8_t> data_;
    uint64_t phaseBytes_;
};

// ---- datasets ----

class CDatasetReader;

// A dataset after the 12-byte header, walked under the bounds rule.
class CDatasetWalker : public IEnumerable {
public:
    explicit CDatasetWalker(const char* title) : title_(title) {}
    void SetData(const uint8_t* data, uint32_t length) override;
    void GetName(std::string& name) override { name = title_; }
    void Enumerate(std::vector<FieldRecord>& fields) override;

protected:
    virtual void Walk(CDatasetReader& reader) = 0;

private:
    const char* title_;
    std::span<const uint8_t> data_;
};

class DEVICE_INFO_DATASET_imp : public CDatasetWalker {
public:
    DEVICE_INFO_DATASET_imp() : CDatasetWalker("DeviceInfo") {}

protected:
    void Walk(CDatasetReader& reader) override;
};

class STORAGE_IDS_DATASET_imp : public CDatasetWalker {
public:
    STORAGE_IDS_DATASET_imp() : CDatasetWalker("StorageIDArray") {}

protected:
    void Walk(CDatasetReader& reader) override;
};

class STORAGE_INFO_DATASET_imp : public CDatasetWalker {
public:
    STORAGE_INFO_DATASET_imp() : CDatasetWalker("StorageInfo") {}

protected:
    void Walk(CDatasetReader& reader) override;
};

class GET_OBJECT_HANDLES_imp : public CDatasetWalker {
public:
    GET_OBJECT_HANDLES_imp() : CDatasetWalker("ObjectHandleArray") {}

protected:
    void Walk(CDatasetReader& reader) override;
};

class GET_OBJECT_INFO_imp : public CDatasetWalker {
public:
    GET_OBJECT_INFO_imp() : CDatasetWalker("ObjectInfo") {}

protected:
    void Walk(CDatasetReader& reader) override;
};

class DEVICE_PROP_DESC_imp : public CDatasetWalker {
public:
    DEVICE_PROP_DESC_imp() : CDatasetWalker("DevicePropDesc") {}

protected:
    void Walk(CDatasetReader& reader) override;
};

// The dataset walker of an operation's data phase; null when the operation's
// data are shown as their size only.
std::unique_ptr<CDatasetWalker> MakeDatasetWalker(uint16_t operationCode);

// ---- class requests ----

class CANCEL_SETUP_REQUEST_imp : public CDatasetWalker {
public:
    CANCEL_SETUP_REQUEST_imp() : CDatasetWalker("Cancel") {}

protected:
    void Walk(CDatasetReader& reader) override;
};

class GET_EVENT_SETUP_REQUEST_imp : public CDatasetWalker {
public:
    GET_EVENT_SETUP_REQUEST_imp() : CDatasetWalker("Get Extended Event") {}

protected:
    void Walk(CDatasetReader& reader) override;
};

class GET_DEVICE_STATUS_REQUEST_imp : public CDatasetWalker {
public:
    GET_DEVICE_STATUS_REQUEST_imp() : CDatasetWalker("Get Device Status") {}

protected:
    void Walk(CDatasetReader& reader) override;
};

}  // namespace orvane::palvine
