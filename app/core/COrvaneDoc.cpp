#include "COrvaneDoc.h"

#include "Grouped.h"
#include "ItemTree.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <tuple>
#include <vector>

namespace orvane::app {

namespace fs = std::filesystem;

namespace {

// The trigger record a `TriggerNum` attribute holds: its leading decimal
// digits. No number, a negative one or one beyond a record number is no
// trigger rather than a row of some other record.
int32_t TriggerFromText(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long number = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE || number < 0 || number > INT32_MAX) return -1;
    return int32_t(number);
}

// The parts a new project has besides Packet and Data. A project saved
// without one, or edited by hand, gets it empty on open, so that what is set
// there is kept and saved rather than dropped.
constexpr const char* kProjectParts[] = {"Configuration", "Setup", "marks"};

// The element holding the project's `name` part, made empty under the root when missing.
xml::Node ProjectPart(xml::Document& project, const char* name) {
    if (xml::Node node = project.selectSingleNode(std::string("//") + name)) return node;
    xml::Node root = project.documentElement();
    return root ? root.appendChild(project.createElement(name)) : xml::Node();
}

// Capture files are named bare, so they stay in the project's folder: a name
// with a folder in it ("../x.ph", "/tmp/x.ph") would have the open read files
// elsewhere.
bool IsBareFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// Frees the text an element held before it takes the new one: setText keeps
// old children for handles nobody holds here, and every parse, tree edit and
// setup change would add a copy to the project for as long as it is open.
void ReplaceText(xml::Node element, const std::string& text) {
    for (const xml::Node& child : element.childNodes()) element.deleteChild(child);
    element.setText(text);
}

}  // namespace

COrvaneDoc::COrvaneDoc(IDecodeFactory* factory)
    : parser_(std::make_unique<CUsbParser>()),
      manager_(std::make_unique<CDecoderManager>(factory)),
      bookmarks_(std::make_unique<CBookmarkMgr>()) {
    transactionRoot_->flags |= ItemExpanded;
    transferRoot_->flags |= ItemExpanded;
    project_.loadXML(kNewProject);
}

COrvaneDoc::~COrvaneDoc() { ClearTrees(); }

// ---------------------------------------------------------------- trees

void COrvaneDoc::FreeTransactionItems(UsbItem* root) { FreeDescendants(root); }

void COrvaneDoc::FreeTransferTree() { FreeTransferLevel(transferRoot_.get()); }

void COrvaneDoc::ClearTrees() {
    FreeTransferTree();
    FreeTransactionItems(transactionRoot_.get());
    transactionRoot_->children.clear();
}

// ---------------------------------------------------------------- project XML

std::string COrvaneDoc::ElementText(const char* xpath) const {
    xml::Node node = project_.selectSingleNode(xpath);
    return node ? node.text() : std::string();
}

std::string COrvaneDoc::GetConfiguration() const { return ElementText("//Configuration"); }

void COrvaneDoc::SetConfiguration(const std::string& deviceTreeXml) {
    ReplaceText(ProjectPart(project_, "Configuration"), deviceTreeXml);
}

std::string COrvaneDoc::GetSetup() const { return ElementText("//Setup"); }

void COrvaneDoc::SetSetup(const std::string& setupXml) {
    ReplaceText(ProjectPart(project_, "Setup"), setupXml);
    modified_ = true;
}

// ---------------------------------------------------------------- open, save, new

bool COrvaneDoc::OnOpenDocument(const std::string& path, IDataSource* source, std::string* error,
                                CaptureCheck* check) {
    auto fail = [&](std::string text = kOpenError) {
        if (error) *error = std::move(text);
        return false;
    };
    // Everything is read aside and taken over only when the whole open worked,
    // so the user keeps the project they had.
    try {
        // A save that died after it was made is finished first; its leftovers go.
        ProjectFileNames(path).FinishEarlierSave();
        xml::Document loaded;
        if (!loaded.load(path, kMaxProjectBytes)) return fail();
        xml::Node root = loaded.documentElement();
        if (!root || root.name() != "Orvane") return fail();
        xml::Node packet = loaded.selectSingleNode("//Packet");
        xml::Node data = loaded.selectSingleNode("//Data");
        auto packetName = packet ? packet.attribute("PathName") : std::nullopt;
        auto dataName = data ? data.attribute("PathName") : std::nullopt;
        if (!packetName || !dataName || !IsBareFileName(*packetName) || !IsBareFileName(*dataName)) return fail();
        // Never the trigger of the project shown before.
        const auto number = packet.attribute("TriggerNum");
        const int32_t trigger = number ? TriggerFromText(*number) : -1;
        CBookmarkMgr marks;
        marks.Serialize(&root, 1);

        const fs::path folder = fs::path(path).parent_path();
        const std::string packetPath = (folder / *packetName).string();
        const std::string dataPath = (folder / *dataName).string();
        // Capture files that are not the ones this project was saved with
        // (another save's, cut, changed) are paired with it only when the user
        // insists, having been told what does not match.
        std::vector<CaptureMismatch> mismatches;
        bool asSaved = true;  // both files found as the record says
        for (const auto& [node, file, name] : {std::tuple(packet, packetPath, *packetName),
                                               std::tuple(data, dataPath, *dataName)}) {
            bool same = false;
            if (auto mismatch = CompareWithRecord(node, file, name, &same)) mismatches.push_back(std::move(*mismatch));
            asSaved = asSaved && same;
        }
        if (mismatches.size() == 1) mismatches[0].cut = mismatches[0].found.size < mismatches[0].savedSize;
        if (!mismatches.empty() && !(check && check->insist && check->mismatches == mismatches)) {
            if (check) *check = CaptureCheck{mismatches, false};
            return fail(DamagedError(mismatches));
        }
        // Files a save of ours wrote, unchanged since, have every packet whose
        // payload was written over marked: the source needs no walk to show them.
        const bool settled = asSaved && packet.attribute("PayloadMarked") == std::optional<std::string>("1");
        if (!source || source->OpenOrSave(packetPath.c_str(), dataPath.c_str(), settled ? 2 : 0) != 1) return fail();

        for (const char* part : kProjectParts) ProjectPart(loaded, part);
        savedRecords_ = 0;
        for (const CaptureMismatch& mismatch : mismatches)
            if (mismatch.cut && mismatch.name == *packetName)
                savedRecords_ = uint32_t(std::min<uint64_t>(mismatch.savedSize / sizeof(PacketRecord), UINT32_MAX));
        project_ = std::move(loaded);
        bookmarks_->Swap(marks);
        trigger_ = trigger;
        modified_ = false;
        return true;
    } catch (const std::exception&) {
        return fail();  // out of memory on a large project, say: the open fails, the program goes on
    }
}

std::string COrvaneDoc::DamagedError(const std::vector<CaptureMismatch>& mismatches) {
    std::string text = "项目已损坏：";
    for (const CaptureMismatch& m : mismatches) {
        if (&m != &mismatches.front()) text += "；";
        text += "捕获文件“" + m.name + "”";
        if (m.cut) {
            text += "被截断，比保存时短 " + Grouped(m.savedSize - m.found.size) + " 字节";
            continue;
        }
        if (m.found.size < m.savedSize) text += "比保存时短 " + Grouped(m.savedSize - m.found.size) + " 字节";
        else if (m.found.size > m.savedSize) text += "比保存时长 " + Grouped(m.found.size - m.savedSize) + " 字节";
        else text += "的内容与保存时不同";
        text += "，已被更改或来自另一次保存";
    }
    return text + "。";
}

std::string COrvaneDoc::OpenAnywayQuestion(const std::vector<CaptureMismatch>& mismatches) {
    const bool cut = mismatches.size() == 1 && mismatches[0].cut;
    return DamagedError(mismatches) + "\n\n仍要打开吗？" +
           (cut ? "将打开文件中完整的记录。" : "这些文件可能与项目不配。");
}

std::string COrvaneDoc::SaveError(const std::string& file, int error) {
    const bool project = fs::path(file).extension() != ".ph" && fs::path(file).extension() != ".data";
    return std::string(project ? "无法保存项目文件“" : "无法保存捕获文件“") + file +
           "”：" + (error ? std::generic_category().message(error) : std::string("未知错误")) + "。";
}

std::string COrvaneDoc::PayloadShortError(const std::string& file, uint32_t first, uint32_t count, int reason) {
    std::string text = "无法保存捕获文件“" + file + "”：捕获数据不完整，" +
                       (count == 1 ? "包 " + std::to_string(first) + " 的数据"
                                   : "自包 " + std::to_string(first) + " 起共 " + std::to_string(count) + " 个数据包的数据") +
                       "未能从分析仪取得";
    if (reason > 0) text += "（" + std::generic_category().message(reason) + "）";
    return text + "。";
}

std::string COrvaneDoc::RecordsShortError(const std::string& file, uint32_t read, uint32_t held, int reason) {
    // The system's own words (in English) have no place in the sentence: the count says it.
    (void)reason;
    return "无法保存捕获文件“" + file + "”：未能从分析仪读完捕获记录，只读到 " + Grouped(read) +
           " 个包，分析仪共有 " + Grouped(held) + " 个；重新连接分析仪后再保存即可读全。";
}

std::string COrvaneDoc::RecordsGoneNotice(uint32_t read, uint32_t held) {
    return "项目已保存，但只含读到的 " + Grouped(read) + " 个包（分析仪原有 " + Grouped(held) +
           " 个）：分析仪已不再保存这次捕获，其余的包无法再读取，保存的包不含数据。";
}

std::optional<CaptureMismatch> COrvaneDoc::CompareWithRecord(const xml::Node& node, const std::string& file,
                                                             const std::string& name, bool* same) {
    *same = false;
    auto size = node.attribute("Size");
    auto digest = node.attribute("Digest");
    if (!size && !digest) return std::nullopt;  // a project saved before the record was kept
    const auto found = DigestFile(file);
    if (!found) return std::nullopt;  // missing or unreadable: the capture files' open tells
    if (size && digest && *size == std::to_string(found->size) && *digest == DigestText(found->digest)) {
        *same = true;
        return std::nullopt;
    }
    CaptureMismatch mismatch{name, found->size, *found};
    // A record without a readable size can only say that the bytes differ.
    if (size && !size->empty() && size->find_first_not_of("0123456789") == std::string::npos && size->size() < 20)
        mismatch.savedSize = std::stoull(*size);
    return mismatch;
}

std::string COrvaneDoc::DigestText(uint64_t digest) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(digest));
    return text;
}

bool COrvaneDoc::OnSaveDocument(const std::string& path, IDataSource* source, std::string* error,
                                SaveProgress* progress) {
    const ProjectFileNames names(path);
    auto cancelled = [&] { return progress && progress->cancel.load(); };
    // `message` empty: nothing to report (a cancel). Until the new project is
    // in place a failure leaves the folder's project file, if any, as it was.
    auto failWith = [&](const std::string& message) {
        names.RemoveTemporaries();
        std::error_code ec;
        const bool earlier = fs::exists(names.project, ec);
        if (error) *error = message.empty() ? std::string() : message + (earlier ? "原有的项目文件未被改动。" : "");
        return false;
    };
    auto fail = [&](const std::string& file, int code) { return failWith(SaveError(file, code)); };
    if (cancelled()) return failWith({});
    // A save that died after it was made is finished first, so this one
    // starts from a whole project; what other saves left goes.
    if (const int code = names.FinishEarlierSave()) return fail(names.project, code);

    xml::Node packet = project_.selectSingleNode("//Packet");
    xml::Node data = project_.selectSingleNode("//Data");
    if (packet) packet.setAttribute("PathName", fs::path(names.packet).filename().string());
    if (data) data.setAttribute("PathName", fs::path(names.data).filename().string());
    if (packet) packet.setAttribute("TriggerNum", std::to_string(trigger_));
    if (xml::Node root = project_.documentElement()) bookmarks_->Serialize(&root, 0);

    // The capture files first, under their temporary names; the project file
    // records what they hold.
    for (xml::Node node : {packet, data}) {
        if (!node) continue;
        node.removeAttribute("Size");
        node.removeAttribute("Digest");
        node.removeAttribute("PayloadMarked");
    }
    if (source) {
        source->SetSaveProgress(progress);
        const int32_t saved = source->OpenOrSave(names.packetTemp.c_str(), names.dataTemp.c_str(), 1);
        source->SetSaveProgress(nullptr);
        if (saved != 1) {
            const char* failed = nullptr;
            const int code = source->LastFileError(&failed);
            const std::string file = failed && *failed ? std::string(failed) : std::string();
            // A cancel (of the wait for an upload) is no failure to report.
            if (file.empty() && code == 0) return failWith({});
            if (code == kFileErrorPayloadShort) {
                uint32_t first = 0, count = 0;
                const int reason = source->MissingPayload(&first, &count);
                return failWith(PayloadShortError(names.data, first, count, reason));
            }
            if (code == kFileErrorRecordsShort) {
                uint32_t read = 0, held = 0;
                const int reason = source->UnreadRecords(&read, &held);
                return failWith(RecordsShortError(names.packet, read, held, reason));
            }
            return fail(file == names.dataTemp ? names.data : names.packet, code);
        }
        for (auto [node, file, target] : {std::tuple(packet, names.packetTemp, names.packet),
                                          std::tuple(data, names.dataTemp, names.data)}) {
            const auto digest = DigestFile(file);
            if (!digest) return fail(target, errno);
            if (!node) continue;
            node.setAttribute("Size", std::to_string(digest->size));
            node.setAttribute("Digest", DigestText(digest->digest));
        }
        // The save marked every packet whose payload the capture lacks; older
        // projects lack this and are walked on open (older versions ignore it).
        if (packet) packet.setAttribute("PayloadMarked", "1");
        // Saved as read: the analyser holds the rest no more, and the user is told.
        uint32_t read = 0, held = 0;
        if (error && source->UnreadRecords(&read, &held) == kRecordsNoLongerHeld) *error = RecordsGoneNotice(read, held);
    }
    if (cancelled()) return failWith({});
    if (const int code = WriteDurably(names.projectTemp, project_.fileText(), names.project)) return fail(names.project, code);
    // Made: from here on the new project is what the folder holds, even if
    // the renames below are cut short (the next open or save ends them).
    SyncFolder(names.folder);
    if (::rename(names.projectTemp.c_str(), names.commit.c_str()) != 0) return fail(names.project, errno);
    std::string stuck;
    if (const int code = names.RollForward(&stuck)) {
        if (error) *error = SaveError(stuck, code) + "下次打开或保存该项目时将完成替换。";
        return false;
    }
    modified_ = false;
    return true;
}

bool COrvaneDoc::OnNewDocument() {
    project_.loadXML(kNewProject);
    savedRecords_ = 0;
    bookmarks_->RemoveAll();
    trigger_ = -1;
    modified_ = false;
    return true;
}

}  // namespace orvane::app
