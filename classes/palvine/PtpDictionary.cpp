#include "PtpDictionary.h"

#include <map>
#include <vector>

#include "FieldTable.h"

namespace orvane::palvine {

namespace {

using Names = std::vector<const char*>;

struct CodeEntry {
    uint32_t code;
    const char* name;
    Names params;
    Names responseParams;
};

struct DataType {
    int8_t size;
    const char* name;
    const char* description;
};

const Names kVendorParams = {"Vendor-Defined Param 1", "Vendor-Defined Param 2", "Vendor-Defined Param 3"};

// Responses and device properties are numbered from their base, in order.
constexpr const char* kResponses[] = {
    "Vendor-Extended Response Code", "OK", "General Error", "Session Not Open", "Invalid TransactionID",
    "Operation Not Supported", "Parameter Not Supported", "Incomplete Transfer", "Invalid StorageID ",
    "Invalid ObjectHandle", "DeviceProp Not Supported", "Invalid ObjectFormatCode", "Store Full",
    "Object WriteProtected", "Store Read-Only", "Access Denied", "No Thumbnail Present", "SelfTest Failed",
    "Partial Deletion", "Store Not Available ", "Specification By Format Unsupported ", "No Valid ObjectInfo",
    "Invalid Code Format ", "Unknown Vendor Code ", "Capture Already Terminated ", "Device Busy",
    "Invalid ParentObject", "Invalid DeviceProp Format", "Invalid DeviceProp Value ", "Invalid Parameter ",
    "Session Already Open", "Transaction Cancelled", "Specification of Destination Unsupported "};
constexpr const char* kProperties[] = {
    "Vendor-Extended Property", "BatteryLevel", "FunctionalMode", "ImageSize", "CompressionSetting",
    "WhiteBalance", "RGB Gain ", "F-Number ", "FocalLength", "FocusDistance", "FocusMode", "ExposureMeteringMode",
    "FlashMode", "ExposureTime", "ExposureProgramMode", "ExposureIndex", "ExposureBiasCompensation", "DateTime",
    "CaptureDelay", "StillCaptureMode", "Contrast", "Sharpness", "DigitalZoom", "EffectMode", "BurstNumber",
    "BurstInterval", "TimelapseNumber", "TimelapseInterval", "FocusMeteringMode", "UploadURL", "Artist",
    "CopyrightInfo"};
constexpr const char* kFormats[] = {
    "Undefined@Undefined non-image object", "Association@Association (e.g. folder)",
    "Script@Device-model-specific script", "Executable@Device-model-specific binary executable", "Text@Text file",
    "HTML@HyperText Markup Language file (text)", "DPOF@Digital Print Order Format file (text)", "AIFF@Audio clip",
    "WAV@Audio clip", "MP3@Audio clip", "AVI@Video clip", "MPEG@Video clip",
    "ASF@Microsoft Advanced Streaming Format (video)"};
constexpr const char* kImageFormats[] = {
    "Undefined@Unknown image object", "EXIF/JPEG@Exchangeable File Format, JEIDA standard",
    "TIFF/EP@Tag Image File Format for Electronic Photography", "FlashPix@Structured Storage Image Format",
    "BMP@Microsoft Windows Bitmap file", "CIFF@Canon Camera Image File Format", "Undefined@Reserved",
    "GIF@Graphics Interchange Format", "JFIF@JPEG File Interchange Format", "PCD@PhotoCD Image Pac",
    "PICT@Quickdraw Image Format", "PNG@Portable Network Graphics", "Undefined@Reserved",
    "TIFF@Tag Image File Format", "TIFF/IT@Tag Image File Format for Information Technology (graphic arts)",
    "JP2@JPEG2000 Baseline File Format", "JPX@JPEG2000 Extended File Format"};
constexpr const char* kAssociations[] = {
    "Undefined@Undefined", "GenericFolder@Unused", "Album@Reserved", "TimeSequence@faultPlaybackDelta",
    "HorizontalPanoramic@Unused", "VerticalPanoramic@Unused", "2DPanoramic@ImagesPerRow",
    "AncillaryData@Undefined"};

class CDictionary {
public:
    CDictionary()
    {
        for (uint32_t i = 0; i < std::size(kFormats); ++i) formats_[0x3000 + i] = kFormats[i];
        for (uint32_t i = 0; i < std::size(kImageFormats); ++i) formats_[0x3800 + i] = kImageFormats[i];
        dataBlocks_ = {{0x1001, "DeviceInfo"},    {0x1004, "StorageIDArray"},  {0x1005, "StorageInfo"},
                       {0x1007, "ObjectHandleArray"}, {0x1008, "ObjectInfo"}, {0x1009, "DataObject"},
                       {0x100A, "ThumbnailObject"}, {0x100C, "ObjectInfo"},    {0x100D, "DataObject"},
                       {0x1014, "DevicePropDesc"},  {0x1015, "DeviceProperty"}, {0x1016, "DeviceProperty"},
                       {0x101B, "DataObject"}};
        static const char* const kIntNames[] = {"INT8", "UINT8", "INT16", "UINT16", "INT32",
                                                "UINT32", "INT64", "UINT64", "INT128", "UINT128"};
        static const char* const kArrayNames[] = {"AINT8", "AUINT8", "AINT16", "AUINT16", "AINT32",
                                                  "AUINT32", "AINT64", "AUINT64", "AINT128", "AUINT128"};
        static const char* const kIntText[] = {
            "Signed 8 bit integer",   "Unsigned 8 bit integer",   "Signed 16 bit integer",
            "Unsigned 16 bit integer", "Signed 32 bit integer",   "Unsigned 32 bit integer",
            "Signed 64 bit integer",  "Unsigned 64 bit integer",  "Signed 128 bit integer",
            "Unsigned 128 bit integer"};
        static const char* const kArrayText[] = {
            "Array of Signed 8 bit integers",   "Array of Unsigned 8 bit integers",
            "Array of Signed 16 bit integers",  "Array of Unsigned 16 bit integers",
            "Array of Signed 32 bit integers",  "Array of Unsigned 32 bit integers",
            "Array of Signed 64 bit integers",  "Array of Unsigned 64 bit integers",
            "Array of Signed 128 bit integers", "Array of Unsigned 128 bit integer"};
        static const int8_t kSizes[] = {1, 1, 2, 2, 4, 4, 8, 8, 16, 16};
        for (uint32_t i = 0; i < 10; ++i) {
            dataTypes_[1 + i] = {kSizes[i], kIntNames[i], kIntText[i]};
            dataTypes_[0x4001 + i] = {int8_t(-kSizes[i]), kArrayNames[i], kArrayText[i]};
        }
        dataTypes_[kDataTypeString] = {0, "STR", "Variable-length Unicode String"};

        entries_ = {
            {0x1000, "Vendor-Defined Operation", kVendorParams, kVendorParams},
            {0x1001, "GetDeviceInfo", {}, {}},
            {0x1002, "OpenSession", {"SessionID"}, {}},
            {0x1003, "CloseSession", {}, {}},
            {0x1004, "GetStorageIDs", {}, {}},
            {0x1005, "GetStorageInfo", {"StorageID"}, {}},
            {0x1006, "GetNumObjects", {"StorageID", "ObjectFormatCode", "ObjectHandle"}, {"NumObjects"}},
            {0x1007, "GetObjectHandles", {"StorageID", "ObjectFormatCode", "ObjectHandle"}, {}},
            {0x1008, "GetObjectInfo", {"ObjectHandle"}, {}},
            {0x1009, "GetObject", {"ObjectHandle"}, {}},
            {0x100A, "GetThumb", {"ObjectHandle", "ObjectFormatCode"}, {}},
            {0x100B, "DeleteObject", {"ObjectHandle"}, {}},
            {0x100C, "SendObjectInfo", {"StorageID", "Parent ObjectHandle"},
             {"StorageID", "Parent ObjectHandle", "Reserved ObjectHandle"}},
            {0x100D, "SendObject", {}, {}},
            {0x100E, "InitiateCapture", {"StorageID", "ObjectFormatCode"}, {}},
            {0x100F, "FormatStore", {"StorageID", "FilesystemFormat"}, {}},
            {0x1010, "ResetDevice", {}, {}},
            {0x1011, "SelfTest", {"SelfTest"}, {}},
            {0x1012, "SetObjectProtection", {"ObjectHandle", "ProtectionStatus"}, {}},
            {0x1013, "PowerDown", {}, {}},
            {0x1014, "GetDevicePropDesc", {"DevicePropCode"}, {}},
            {0x1015, "GetDevicePropValue", {"DevicePropCode"}, {}},
            {0x1016, "SetDevicePropValue", {"DevicePropCode"}, {}},
            {0x1017, "ResetDevicePropValue", {"DevicePropCode"}, {}},
            {0x1018, "TerminateOpenCapture", {"TransactionID"}, {}},
            {0x1019, "MoveObject", {"ObjectHandle", "StorageID", "ParentObjec ObjectHandle"}, {}},
            {0x101A, "CopyObject", {"ObjectHandle", "StorageID", "ParentObjec ObjectHandle"}, {"ObjectHandle"}},
            {0x101B, "GetPartialObject", {"ObjectHandle", "Offset", "MaxNumToObtain "}, {"ObjectHandle"}},
            {0x101C, "InitiateOpenCapture", {"StorageID", "ObjectFormatCode"}, {}},
        };
        for (uint32_t i = 0; i < std::size(kResponses); ++i) entries_.push_back({0x2000 + i, kResponses[i], {}, {}});
        const std::vector<CodeEntry> events = {
            {0x4000, "Vendor-Defined Event", kVendorParams, {}},
            {0x4001, "CancelTransaction", {}, {}},
            {0x4002, "ObjectAdded", {"ObjectHandle"}, {}},
            {0x4003, "ObjectRemoved", {"ObjectHandle"}, {}},
            {0x4004, "StoreAdded", {"StorageID"}, {}},
            {0x4005, "StoreRemoved", {"StorageID"}, {}},
            {0x4006, "EV_Device_Prop_Changed", {"DevicePropCode"}, {}},
            {0x4007, "ObjectInfoChanged", {}, {}},
            {0x4008, "DeviceInfoChanged", {}, {}},
            {0x4009, "RequestObjectTransfer", {"ObjectHandle"}, {}},
            {0x400A, "StoreFull", {"StorageID"}, {}},
            {0x400B, "DeviceReset", {}, {}},
            {0x400C, "StorageInfoChanged", {"StorageID"}, {}},
            {0x400D, "CaptureComplete", {"TransactionID"}, {}},
            {0x400E, "UnreportedStatus", {"TransactionID"}, {}},
        };
        entries_.insert(entries_.end(), events.begin(), events.end());
        for (uint32_t i = 0; i < std::size(kProperties); ++i) entries_.push_back({0x5000 + i, kProperties[i], {}, {}});
        for (const CodeEntry& e : entries_) byCode_.emplace(e.code, &e);  // the first entry of a code wins
    }

    const CodeEntry* Find(uint32_t code) const
    {
        if (code & 0x8000) code &= 0x7000;
        const auto it = byCode_.find(code);
        return it == byCode_.end() ? nullptr : it->second;
    }
    const char* Format(uint32_t code) const { return Lookup(formats_, code); }
    const char* DataBlock(uint32_t code) const { return Lookup(dataBlocks_, code); }
    const DataType* Type(uint32_t code) const
    {
        const auto it = dataTypes_.find(code);
        return it == dataTypes_.end() ? nullptr : &it->second;
    }

private:
    static const char* Lookup(const std::map<uint32_t, const char*>& table, uint32_t code)
    {
        const auto it = table.find(code);
        return it == table.end() ? nullptr : it->second;
    }

    std::vector<CodeEntry> entries_;
    std::map<uint32_t, const CodeEntry*> byCode_;
    std::map<uint32_t, const char*> formats_;
    std::map<uint32_t, const char*> dataBlocks_;
    std::map<uint32_t, DataType> dataTypes_;
};

// Built once, on the first look-up of any decoder of the library; a
// function-local static is safe however many threads ask first.
const CDictionary& Dictionary()
{
    static const CDictionary dictionary;
    return dictionary;
}

// The part of a "name@description" text before or after its first '@'.
std::string Part(const char* text, bool description)
{
    const std::string s = text;
    const size_t at = s.find('@');
    if (at == std::string::npos) return description ? std::string() : s;
    return description ? s.substr(at + 1) : s.substr(0, at);
}

}  // namespace

std::string FormatCodeName(uint32_t code)
{
    const CodeEntry* entry = Dictionary().Find(code);
    if (!entry) return {};
    if ((entry->code & 0xFF) == 0) return std::string(entry->name) + FormatValue(" (0x%04X)", code & 0xFFFF);
    return entry->name;
}

std::span<const char* const> GetParamNames(uint32_t code)
{
    const CodeEntry* entry = Dictionary().Find(code);
    return entry ? std::span<const char* const>(entry->params) : std::span<const char* const>();
}

std::span<const char* const> GetResponseParamNames(uint32_t operationCode)
{
    const CodeEntry* entry = Dictionary().Find(operationCode);
    return entry ? std::span<const char* const>(entry->responseParams) : std::span<const char* const>();
}

std::string ObjectFormatName(uint32_t code)
{
    if (code > 0x7FFF) return FormatValue("Vendor-Defined (0x%04X)", code);
    const char* text = Dictionary().Format(code);
    const std::string name = text ? Part(text, false) : std::string();
    return name.empty() ? "Undefined" : name;
}

std::string ObjectFormatDescription(uint32_t code)
{
    if (code > 0x7FFF) return "Vendor-Defined ObjectFormatCodes";
    const char* text = Dictionary().Format(code);
    return text ? Part(text, true) : "Undefined";
}

std::string AssociationTypeName(uint32_t code)
{
    if (code < std::size(kAssociations)) return Part(kAssociations[code], false);
    return FormatValue(code > 0x7FFF ? "Vendor-Defined (%04X)" : "Reserved (%04X)", code);
}

std::string AssociationDescName(uint32_t code)
{
    if (code < std::size(kAssociations)) return Part(kAssociations[code], true);
    return code > 0x7FFF ? "Vendor-Defined" : "Undefined";
}

std::string DataTypeName(uint32_t code)
{
    const DataType* type = Dictionary().Type(code);
    return type ? type->name : "Undefined";
}

std::string DataTypeDescription(uint32_t code)
{
    const DataType* type = Dictionary().Type(code);
    return type ? type->description : "Undefined";
}

const int8_t* DataTypeSize(uint32_t code)
{
    const DataType* type = Dictionary().Type(code);
    return type ? &type->size : nullptr;
}

std::string DataBlockName(uint32_t operationCode)
{
    if (operationCode >= 0x8000) return "Vendor-Defined Data";
    const char* text = Dictionary().DataBlock(operationCode);
    return text ? text : "";
}

std::string ClassRequestName(uint8_t bRequest)
{
    switch (bRequest) {
    case RequestCancel: return "Cancel";
    case RequestGetExtendedEvent: return "Get Extended Event";
    case RequestDeviceReset: return "DeviceReset";
    case RequestGetDeviceStatus: return "GetDeviceStatus";
    default: return "Undefined";
    }
}

}  // namespace orvane::palvine
