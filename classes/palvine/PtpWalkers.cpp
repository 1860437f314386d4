#include "PtpWalkers.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <functional>

#include "CByteCursor.h"
#include "CDescriptorString.h"
#include "PtpDictionary.h"

namespace orvane::palvine {

namespace {

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return n < 0 ? std::string() : std::string(text, std::min<size_t>(size_t(n), sizeof text - 1));
}

uint32_t Bits(uint64_t bytes) { return uint32_t(std::min<uint64_t>(bytes * 8, 0xFFFFFFFFu)); }

uint64_t LittleEndian(std::span<const uint8_t> bytes)
{
    uint64_t v = 0;
    for (size_t i = 0; i < bytes.size() && i < 8; ++i) v |= uint64_t(bytes[i]) << (8 * i);
    return v;
}

std::string Decimal(uint64_t v) { return Printf("%llu", static_cast<unsigned long long>(v)); }
std::string Hex8(uint64_t v) { return Printf("0x%08X", unsigned(v)); }
std::string Hex4(uint64_t v) { return Printf("0x%04X", unsigned(v)); }

const char* BlockName(uint16_t type)
{
    static const char* const names[] = {"", "Command Block", "Data Block", "Response Block", "Event Block"};
    return type < std::size(names) ? names[type] : "";
}
const char* CodeFieldName(uint16_t type)
{
    static const char* const names[] = {"", "OperationCode", "OperationCode", "ResponseCode", "EventCode"};
    return type < std::size(names) ? names[type] : "";
}

constexpr const char* kLengthTip = "This field encodes as an unsigned integer the number of bytes in this container";
constexpr const char* kTypeTip = "This field describes the type of the container";
constexpr const char* kCodeTip = "This field contains the PIMA15740 OperationCode, ResponseCode, or EventCode";
constexpr const char* kTransactionTip =
    "This is a host generated number that associates all phases of an PIMA15740 operation";
constexpr const char* kCountTip = "Represents the total number of elements contained in the array";
constexpr const char* kElementTip = "The total number of these fields shall equal the value held by the NumElements field";
constexpr const char* kNumCharsTip = "Represents the number of characters in the string, Allowed values are 0 to 255.";
constexpr const char* kCharsTip = "This field holds the actual Unicode null-terminated string with 2 byte characters";
constexpr const char* kTabbedNumCharsTip =
    "Represents the number of characters in the string,\t\t\t\t\tAllowed values are 0 to 255.";
constexpr const char* kTabbedCharsTip =
    "This field holds the actual Unicode null-terminated\t\t\t\t\t\tstring with 2 byte characters";

void AddField(std::vector<FieldRecord>& out, std::string name, std::string value, std::string tip, uint64_t bytes)
{
    FieldRecord r;
    r.name = std::move(name);
    r.value = std::move(value);
    r.tip = std::move(tip);
    r.bits = Bits(bytes);
    out.push_back(std::move(r));
}

// The four header fields, each "Not available" beyond the bytes captured.
void HeaderFields(std::vector<FieldRecord>& out, const ContainerHeader& h, uint32_t available, const char* ownCodeField)
{
    auto value = [&](uint32_t end, const std::function<std::string()>& text) {
        return available >= end ? text() : std::string("Not available");
    };
    AddField(out, "Container Length", value(4, [&] { return Decimal(h.length); }), kLengthTip, 4);
    AddField(out, "Container Type", value(6, [&] { return std::string(BlockName(h.type)); }), kTypeTip, 2);
    // A damaged type names no code field; the walker's own name stands then.
    const char* codeField = available >= 6 && *CodeFieldName(h.type) ? CodeFieldName(h.type) : ownCodeField;
    AddField(out, codeField, value(8, [&] { return FormatCodeName(h.code); }), kCodeTip, 2);
    AddField(out, "TransactionID", value(12, [&] { return Decimal(h.transaction); }), kTransactionTip, 4);
}

}  // namespace

// ---------------------------------------------------------------- reader

// A cursor over one dataset that appends fields under the bounds rule.
class CDatasetReader {
public:
    CDatasetReader(std::span<const uint8_t> data, std::vector<FieldRecord>& out) : cursor_(data), out_(out) {}

    bool Stopped() const { return stopped_; }
    void Stop() { stopped_ = true; }

    // The next `n` bytes when they all lie inside; else the walk ends here.
    std::optional<std::span<const uint8_t>> Take(uint64_t n)
    {
        if (stopped_ || n > cursor_.Remaining()) {
            stopped_ = true;
            return std::nullopt;
        }
        return cursor_.Take(size_t(n));
    }
    std::optional<uint8_t> Peek() const { return stopped_ ? std::nullopt : cursor_.Peek(); }
    uint64_t Remaining() const { return cursor_.Remaining(); }

    void Add(std::string name, std::string value, std::string tip, uint64_t bytes)
    {
        AddField(out_, std::move(name), std::move(value), std::move(tip), bytes);
    }

    // A little-endian value of `bytes` (at most 8) formatted by `format`;
    // null when it does not fit.
    std::optional<uint64_t> Field(const std::string& name, const std::string& tip, size_t bytes,
                                  const std::function<std::string(uint64_t)>& format)
    {
        const auto taken = Take(bytes);
        if (!taken) return std::nullopt;
        const uint64_t v = LittleEndian(*taken);
        Add(name, format(v), tip, bytes);
        return v;
    }
    // The same with a "name@tip" text.
    std::optional<uint64_t> Field(const char* nameAndTip, size_t bytes,
                                  const std::function<std::string(uint64_t)>& format)
    {
        const std::string s = nameAndTip;
        const size_t at = s.find('@');
        return Field(s.substr(0, at), at == std::string::npos ? std::string() : s.substr(at + 1), bytes, format);
    }

    // A count byte, then that many UTF-16 characters.
    bool String(const std::string& name, const char* countTip = kNumCharsTip, const char* charsTip = kCharsTip)
    {
        const auto count = Field(name + ".NumChars", countTip, 1, Decimal);
        if (!count || *count == 0) return bool(count);
        const auto characters = Take(*count * 2);
        if (!characters) return false;
        Add(name + ".StringChars", ReadPtpString(*characters), charsTip, *count * 2);
        return true;
    }

    // A 32-bit count, then as many elements of `bytes` each as fit.
    void Array(const std::string& countName, const char* elementFormat, size_t bytes,
               const std::function<std::string(uint64_t)>& format,
               const std::function<std::string(uint64_t)>& tipOf, const std::function<std::string(uint64_t)>& countFormat = Decimal,
               const char* countTip = kCountTip)
    {
        const auto count = Field(countName, countTip, 4, countFormat);
        if (!count) return;
        // Every element takes bytes, so the loop ends with the data at the latest.
        for (uint64_t i = 0; i < *count && !stopped_; ++i) {
            const auto taken = Take(bytes);
            if (!taken) return;
            const uint64_t v = LittleEndian(*taken);
            Add(Printf(elementFormat, unsigned(i)), format(v), tipOf(v), bytes);
        }
    }

    // One value of a property's data type, named `name`; the walk ends at a
    // type without an entry.
    void TypedValue(uint32_t type, const std::string& name, const std::string& tip, const std::string& elementTip)
    {
        const int8_t* size = DataTypeSize(type);
        if (!size) {
            stopped_ = true;
            return;
        }
        if (*size > 0) {
            const auto taken = Take(uint64_t(*size));
            if (taken) Add(name, FormatTypedValue(type, *taken), tip, uint64_t(*size));
            return;
        }
        if (*size == 0) {
            const auto count = Peek();
            if (!count) {
                stopped_ = true;
                return;
            }
            const auto taken = Take(1 + uint64_t(*count) * 2);
            if (taken) Add(name, FormatTypedValue(type, *taken), tip, taken->size());
            return;
        }
        // Arrays begin with a 32-bit element count, as the standard lays them out.
        const size_t element = size_t(-*size);
        const auto count = Field(name + ".NumElement", Printf("The Number of %s array", name.c_str()), 4, Decimal);
        for (uint64_t i = 0; count && i < *count && !stopped_; ++i) {
            const auto taken = Take(element);
            if (!taken) return;
            Add(Printf("%s.Element[%u]", name.c_str(), unsigned(i)), FormatTypedValue(type, *taken), elementTip,
                element);
        }
    }

private:
    CByteCursor cursor_;
    std::vector<FieldRecord>& out_;
    bool stopped_ = false;
};

// ---------------------------------------------------------------- formatters

ContainerHeader ContainerHeader::From(std::span<const uint8_t> bytes)
{
    ContainerHeader h;
    const CByteCursor c(bytes);
    h.captured = uint32_t(std::min<size_t>(bytes.size(), kHeaderBytes));
    h.length = uint32_t(c.LEAt(0, 4).value_or(0));
    h.type = uint16_t(c.LEAt(4, 2).value_or(0));
    h.code = uint16_t(c.LEAt(6, 2).value_or(0));
    h.transaction = uint32_t(c.LEAt(8, 4).value_or(0));
    return h;
}

std::string FormatPtpByteSize(uint64_t n)
{
    const double d = double(n);
    if (n < 1024) return Printf("%llu bytes", static_cast<unsigned long long>(n));
    if (n < 0x100000) return Printf("%.2lf KB(%.0lf bytes)", d / 1024, d);
    if (n < 0x40000000) return Printf("%.2lf MB(%.0lf bytes)", d / (1024.0 * 1024), d);
    return Printf("%.2lf GB(%.0lf bytes)", d / (1024.0 * 1024 * 1024), d);
}

std::string FormatTypedValue(uint32_t dataType, std::span<const uint8_t> bytes, uint64_t* value)
{
    if (dataType == kDataTypeString) {
        if (bytes.empty()) return {};
        const size_t characters = std::min<size_t>(bytes[0], (bytes.size() - 1) / 2);
        return ReadPtpString(bytes.subspan(1, characters * 2));
    }
    const int8_t* size = DataTypeSize(dataType);
    if (!size || *size == 0) return {};
    const size_t width = size_t(*size > 0 ? *size : -*size);
    if (bytes.size() < width) return {};
    const uint64_t low = LittleEndian(bytes.first(std::min<size_t>(width, 8)));
    if (value) *value = low;
    switch (width) {
    case 1: return Printf("0x%02X", unsigned(low));
    case 2: return Printf("0x%04X", unsigned(low));
    case 4: return Printf("0x%08X", unsigned(low));
    case 8: return Printf("0x%016llX", static_cast<unsigned long long>(low));
    default: {
        const uint64_t high = LittleEndian(bytes.subspan(8, 8));
        return Printf("0x%016llX%016llX", static_cast<unsigned long long>(high), static_cast<unsigned long long>(low));
    }
    }
}

std::string FunctionalModeName(uint32_t mode)
{
    if (mode == 0) return "Standard Mode";
    if (mode == 1) return "Sleep State";
    return Printf(mode & 0x8000 ? "Vendor-Defined (0x%04X)" : "0x%04X", unsigned(mode));
}

std::string ReadPtpString(std::span<const uint8_t> characters)
{
    std::vector<uint16_t> units;
    for (size_t i = 0; i + 1 < characters.size(); i += 2) {
        const uint16_t unit = uint16_t(characters[i] | characters[i + 1] << 8);
        if (unit == 0) break;
        units.push_back(unit);
    }
    return CDescriptorString::TextOf(units);
}

// ---------------------------------------------------------------- containers

void CContainerWalker::SetData(const uint8_t* data, uint32_t length)
{
    data_ = data ? std::span<const uint8_t>(data, length) : std::span<const uint8_t>();
    captured_ = length;
}

void CContainerWalker::Enumerate(std::vector<FieldRecord>& fields)
{
    const ContainerHeader h = ContainerHeader::From(data_);
    const uint32_t n = captured_;
    HeaderFields(fields, h, std::min<uint32_t>(n, h.captured), OwnCodeField());
    const uint32_t words = n > kHeaderBytes ? (n - kHeaderBytes) / 4 : 0;
    const std::span<const char* const> names = words ? ParamNames(h.code) : std::span<const char* const>();
    const CByteCursor cursor(data_);
    uint32_t written = 0;
    for (; written < words && written < names.size(); ++written) {
        const auto value = cursor.LEAt(kHeaderBytes + 4 * written, 4);
        if (!value) break;
        AddField(fields, names[written], Hex8(*value), "The paramter", 4);
    }
    // Whatever no parameter name took: a part word, or words beyond the names.
    const uint64_t left = n > kHeaderBytes ? uint64_t(n) - kHeaderBytes - 4ull * written : 0;
    if (left > 0) AddField(fields, "LastParamter", Printf("%llu bytes", static_cast<unsigned long long>(left)),
                           "The last paramter", left);
}

std::span<const char* const> CONTAINER_STRUCTURE_imp::ParamNames(uint16_t code) const { return GetParamNames(code); }
std::span<const char* const> CONTAINER_STRUCTURER_RES_imp::ParamNames(uint16_t) const
{
    return GetResponseParamNames(operation_);
}
std::span<const char* const> CONTAINER_STRUCTURER_EVENT_imp::ParamNames(uint16_t code) const
{
    return GetParamNames(code);
}

void DEVICE_INFO_HEAD_imp::SetData(const uint8_t* data, uint32_t length)
{
    data_ = data ? std::span<const uint8_t>(data, length) : std::span<const uint8_t>();
}

void DEVICE_INFO_HEAD_imp::Enumerate(std::vector<FieldRecord>& fields)
{
    const ContainerHeader h = ContainerHeader::From(data_);
    if (h.captured < kHeaderBytes) return;
    HeaderFields(fields, h, h.captured, "OperationCode");
    const uint64_t length = h.length == 0xFFFFFFFF ? phaseBytes_ : h.length;
    AddField(fields, "Payload", DataBlockName(h.code), "DataSet", length > kHeaderBytes ? length - kHeaderBytes : 0);
}

// ---------------------------------------------------------------- datasets

void CDatasetWalker::SetData(const uint8_t* data, uint32_t length)
{
    data_ = data ? std::span<const uint8_t>(data, length) : std::span<const uint8_t>();
}

void CDatasetWalker::Enumerate(std::vector<FieldRecord>& fields)
{
    CDatasetReader reader(data_, fields);
    Walk(reader);
}

namespace {

std::string Version(uint64_t v) { return Printf("%.2f", double(v) / 100); }
std::string CodeName(uint64_t v) { return FormatCodeName(uint32_t(v)); }
std::string Tip(const char* text) { return text; }

std::string Reserved(uint64_t v) { return Printf("Reserved (0x%04X)", unsigned(v)); }
std::string Named(std::span<const char* const> names, uint64_t v)
{
    return v < names.size() ? std::string(names[v]) : Reserved(v);
}

void CodeArray(CDatasetReader& r, const char* countName, const char* element)
{
    r.Array(countName, element, 2, CodeName, [](uint64_t) { return Tip(kElementTip); });
}
void FormatArray(CDatasetReader& r, const char* countName, const char* element)
{
    r.Array(countName, element, 2, [](uint64_t v) { return ObjectFormatName(uint32_t(v)); },
            [](uint64_t v) { return ObjectFormatDescription(uint32_t(v)); });
}

void HandleArray(CDatasetReader& r, const char* countName, const char* element)
{
    r.Array(countName, element, 4, Hex8, [](uint64_t) { return Tip(kElementTip); }, Decimal);
}

}  // namespace

void DEVICE_INFO_DATASET_imp::Walk(CDatasetReader& r)
{
    r.Field("StandardVersion", "Highest version of the standard that the device can support", 2, Version);
    r.Field("VendorExtensionID", "Provides the context for interpretation of any vendor extensions used by this device",
            4, Hex8);
    r.Field("VendorExtensionVersion", "The vendor-specific version number of extensions that are supported", 2, Version);
    r.String("VendorExtensionDesc");
    r.Field("FunctionalMode", " An optional field used to hold the functional mode", 2,
            [](uint64_t v) { return FunctionalModeName(uint32_t(v)); });
    CodeArray(r, "OperationsSupported.NumElements", "OperationsSupported[%u]");
    CodeArray(r, "EventsSupported. NumElements", "EventsSupported[%u]");
    CodeArray(r, "DevicePropertiesSupported. NumElements", "DevicePropertiesSupported[%u]");
    FormatArray(r, "CaptureFormats. NumElements", "CaptureFormats[%u]");
    FormatArray(r, "ImageFormats. NumElements", "ImageFormats[%u]");
    for (const char* name : {"Manufacturer", "Model", "DeviceVersion", "SerialNumber"}) r.String(name);
}

void STORAGE_IDS_DATASET_imp::Walk(CDatasetReader& r) { HandleArray(r, "NumStorageID", "StorageID[%u]"); }

void GET_OBJECT_HANDLES_imp::Walk(CDatasetReader& r) { HandleArray(r, "NumObjectHandle", "ObjectHandle[%u]"); }

void STORAGE_INFO_DATASET_imp::Walk(CDatasetReader& r)
{
    static const char* const kStorage[] = {"Undefined", "Fixed ROM", "Removable ROM", "Fixed RAM", "Removable RAM"};
    static const char* const kFilesystem[] = {"Undefined", "Generic Flat", "Generic Hierarchical", "DCF"};
    static const char* const kAccess[] = {"Read-Write", "Read-Only without Object Deletion",
                                          "Read-Only with Object Deletion"};
    r.Field("StorageType@The code that identifies the type of storage", 2,
            [](uint64_t v) { return Named(kStorage, v); });
    r.Field("FilesystemType@This optional code indicates the type of filesystem present on the device", 2,
            [](uint64_t v) {
                return v & 0x8000 ? Printf("Vendor-Defined (0x%04X)", unsigned(v)) : Named(kFilesystem, v);
            });
    r.Field("AccessCapability@This field indicates whether the store is read-write or read-only", 2,
            [](uint64_t v) { return Named(kAccess, v); });
    r.Field("MaxCapacity@This is an optional field that indicates the total storage capacity of the store in bytes", 8,
            FormatPtpByteSize);
    r.Field("FreeSpaceInBytes@The amount of free space that is available in the store in bytes", 8, FormatPtpByteSize);
    r.Field("FreeSpaceInImages@The number of images that may still be captured into this store according to the "
            "current image capture settings of the device",
            4, [](uint64_t v) { return v == 0xFFFFFFFF ? std::string("Not implemented") : Hex8(v); });
    r.String("StorageDescription");
    r.String("VolumeLabel");
}

void GET_OBJECT_INFO_imp::Walk(CDatasetReader& r)
{
    static const char* const kProtection[] = {"No Protection", "Read-Only "};
    auto format = [&](const char* name) {
        const auto taken = r.Take(2);
        if (!taken) return;
        const uint32_t v = uint32_t(LittleEndian(*taken));
        r.Add(name, ObjectFormatName(v), ObjectFormatDescription(v), 2);
    };
    auto pixels = [&](const char* name, const char* tip) { r.Field(name, tip, 4, Decimal); };
    r.Field("StorageID@The StorageID of the device's store in which the image resides", 4, Hex8);
    format("ObjectFormat");
    r.Field("ProtectionStatus@An optional field representing the write-protection status of the data object", 2,
            [](uint64_t v) { return Named(kProtection, v); });
    r.Field("ObjectCompressedSize@The size of the buffer needed to hold the entire binary object in bytes", 4,
            FormatPtpByteSize);
    format("ThumbFormat");
    r.Field("ThumbCompressedSize@The size of the buffer needed to hold the thumbnail", 4, FormatPtpByteSize);
    pixels("ThumbPixWidth", " An optional field representing the width of the thumbnail in pixels");
    pixels("ThumbPixHeight", "An optional field representing the height of the thumbnail in pixels");
    pixels("ImgPixWidth", "An optional field representing the width of the image in pixels");
    pixels("ImgPixHeight", "An optional field representing the height of the image in pixels");
    r.Field("ImageBitDepth@An optional field representing the total number of bits per pixel of the uncompressed image",
            4, [](uint64_t v) { return Decimal(v) + " bits/pixel"; });
    r.Field("ParentObject@Indicates the handle of the object that is the parent of this object", 4, Hex8);
    const auto association = r.Field("AssociationType@A field that is only used for objects of type Association", 2,
                                     [](uint64_t v) { return AssociationTypeName(uint32_t(v)); });
    const uint32_t type = uint32_t(association.value_or(0));
    r.Field("AssociationDesc@This field is used to hold a descriptor parameter for the association", 4,
            [type](uint64_t) { return AssociationDescName(type); });
    r.Field("SequenceNumber@This field is optional, and is only used if the object is a member of an association", 4,
            Decimal);
    for (const char* name : {"Filename", "CaptureDate", "ModificationDate", "Keywords"})
        r.String(name, kTabbedNumCharsTip, kTabbedCharsTip);
}

void DEVICE_PROP_DESC_imp::Walk(CDatasetReader& r)
{
    static const char* const kForms[] = {"None", "Range-Form", "Enumeration-Form"};
    r.Field("DevicePropCode", "A specific DevicePropCode", 2, CodeName);
    const auto taken = r.Take(2);
    if (!taken) return;
    const uint32_t type = uint32_t(LittleEndian(*taken));
    r.Add("DataType", DataTypeName(type), DataTypeDescription(type), 2);
    const auto getSet = r.Take(1);
    if (!getSet) return;
    // Its tip is the data-type description of its own value, as shown.
    r.Add("GetSet", (*getSet)[0] ? "Get/Set" : "Get", DataTypeDescription((*getSet)[0]), 1);
    const std::string factoryTip = "This field identifies the value of the factory default setting for the property ";
    const std::string currentTip = "This field identifies the current value of the property";
    r.TypedValue(type, "FactoryDefaultValue", factoryTip, factoryTip);
    r.TypedValue(type, "CurrentValue", currentTip, currentTip);
    const auto form = r.Field("FormFlag", "This field indicates the format of the next field", 1,
                              [](uint64_t v) { return v < 3 ? std::string(kForms[v]) : std::string("Undefined"); });
    if (!form) return;
    if (*form == 1) {
        const std::string stepTip = "A particular vendor's device shall support all values of a property\t\t\t   "
                                    "defined by MinimumValue + N x StepSize which is less than or equal to\t\t\t   "
                                    "MaximumValue where N= 0 to a vendor defined maximum ";
        const std::string minTip = "Minimum value of property supported by the device";
        const std::string maxTip = "Maximum value of property supported by the device";
        r.TypedValue(type, "MinimumValue", minTip, minTip);
        r.TypedValue(type, "MaximumValue", maxTip, maxTip);
        r.TypedValue(type, "StepSize", stepTip, stepTip);
    } else if (*form == 2) {
        const auto count = r.Field("NumberofValues",
                                   "This field indicates the number of values of size DTS\t\t\t\t\t\t "
                                   "of the particular property supported by the device",
                                   2, Decimal);
        const std::string tip = "A particular vendor's device shall support this\t\t\t\t\t\t\t\t value of the property";
        const std::string elementTip =
            "A particular vendor's device shall support this\t\t\t\t\t\t\t\t\t value of the property";
        // Every value takes at least one byte, so the loop ends with the data.
        for (uint64_t i = 0; count && i < *count && !r.Stopped(); ++i)
            r.TypedValue(type, Printf("SupportedValue%u", unsigned(i)), tip, elementTip);
    }
}

std::unique_ptr<CDatasetWalker> MakeDatasetWalker(uint16_t operationCode)
{
    switch (operationCode) {
    case 0x1001: return std::make_unique<DEVICE_INFO_DATASET_imp>();
    case 0x1004: return std::make_unique<STORAGE_IDS_DATASET_imp>();
    case 0x1005: return std::make_unique<STORAGE_INFO_DATASET_imp>();
    case 0x1007: return std::make_unique<GET_OBJECT_HANDLES_imp>();
    case 0x1008:
    case 0x100C: return std::make_unique<GET_OBJECT_INFO_imp>();
    case 0x1014:
    case 0x1015: return std::make_unique<DEVICE_PROP_DESC_imp>();
    default: return nullptr;
    }
}

// ---------------------------------------------------------------- class requests

namespace {
constexpr const char* kRequestTransaction =
    "TransactionID@An unsigned 32-bit field containing the PIMA 15740 TransactionID";
constexpr const char* kParameterTip =
    "This field contains a number that indicates the number of event parameters associated with the event code";
}  // namespace

void CANCEL_SETUP_REQUEST_imp::Walk(CDatasetReader& r)
{
    r.Field("CancellationCode@Identifier for cancellation", 2, Hex4);
    r.Field(kRequestTransaction, 4, Hex8);
}

void GET_EVENT_SETUP_REQUEST_imp::Walk(CDatasetReader& r)
{
    r.Field("EventCode@The PIMA15740 Event Code or Vendor Code", 2, Hex4);
    r.Field(kRequestTransaction, 4, Hex8);
    const auto count = r.Field(std::string("NumParameters"), kParameterTip, 2, Decimal);
    for (uint64_t i = 1; count && i <= *count && !r.Stopped(); ++i) {
        const auto size = r.Field(Printf("SizeParam%u", unsigned(i)), kParameterTip, 2, Decimal);
        if (!size) return;
        const auto bytes = r.Take(*size);
        if (!bytes) return;
        std::string value;
        for (size_t k = bytes->size(); k-- > 0;) value += Printf("%02X", unsigned((*bytes)[k]));
        r.Add(Printf("Paramter%u", unsigned(i)), value, kParameterTip, bytes->size());
    }
}

void GET_DEVICE_STATUS_REQUEST_imp::Walk(CDatasetReader& r)
{
    r.Field("wLength@This field specifies the total length of the status data", 2, Decimal);
    r.Field("Code@The PIMA 15740 Response Code or Vendor Code", 2, CodeName);
    const uint64_t rest = r.Remaining();
    if (r.Stopped() || rest == 0) return;
    r.Take(rest);
    r.Add("Paramters Data", "Check Data Pane", "The format and meaning of the parameter depends on the Status Code",
          rest);
}

}  // namespace orvane::palvine
