#include "COrvaneDoc.h"

#include "ItemTree.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace orvane::app {

namespace fs = std::filesystem;

namespace {

// Leading decimal digits (with a sign); text without digits gives 0.
int32_t LeadingInteger(const std::string& text) { return int32_t(std::strtol(text.c_str(), nullptr, 10)); }

// Capture files are named bare, so they stay in the project's folder: a name
// with a folder in it ("../x.ph", "/tmp/x.ph") would have the open read files
// elsewhere.
bool IsBareFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
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
    if (xml::Node node = project_.selectSingleNode("//Configuration")) node.setText(deviceTreeXml);
}

std::string COrvaneDoc::GetSetup() const { return ElementText("//Setup"); }

void COrvaneDoc::SetSetup(const std::string& setupXml) {
    if (xml::Node node = project_.selectSingleNode("//Setup")) node.setText(setupXml);
    modified_ = true;
}

// ---------------------------------------------------------------- open, save, new

bool COrvaneDoc::OnOpenDocument(const std::string& path, IDataSource* source, std::string* error) {
    auto fail = [&] {
        if (error) *error = kOpenError;
        return false;
    };
    // Everything is read aside and taken over only when the whole open worked,
    // so the user keeps the project they had.
    try {
        xml::Document loaded;
        if (!loaded.load(path, kMaxProjectBytes)) return fail();
        xml::Node packet = loaded.selectSingleNode("//Packet");
        xml::Node data = loaded.selectSingleNode("//Data");
        auto packetName = packet ? packet.attribute("PathName") : std::nullopt;
        auto dataName = data ? data.attribute("PathName") : std::nullopt;
        if (!packetName || !dataName || !IsBareFileName(*packetName) || !IsBareFileName(*dataName)) return fail();
        int32_t trigger = trigger_;
        if (auto number = packet.attribute("TriggerNum")) trigger = LeadingInteger(*number);
        CBookmarkMgr marks;
        if (xml::Node root = loaded.documentElement()) marks.Serialize(&root, 1);

        const fs::path folder = fs::path(path).parent_path();
        const std::string packetPath = (folder / *packetName).string();
        const std::string dataPath = (folder / *dataName).string();
        if (!source || source->OpenOrSave(packetPath.c_str(), dataPath.c_str(), 0) != 1) return fail();

        project_ = std::move(loaded);
        bookmarks_->Swap(marks);
        trigger_ = trigger;
        modified_ = false;
        return true;
    } catch (const std::exception&) {
        return fail();  // out of memory on a large project, say: the open fails, the program goes on
    }
}

bool COrvaneDoc::OnSaveDocument(const std::string& path, IDataSource* source, std::string* error) {
    const fs::path project(path);
    const fs::path base = project.parent_path() / project.stem();
    const fs::path packetFile = base.string() + ".ph";
    const fs::path dataFile = base.string() + ".data";

    xml::Node packet = project_.selectSingleNode("//Packet");
    xml::Node data = project_.selectSingleNode("//Data");
    if (packet) packet.setAttribute("PathName", packetFile.filename().string());
    if (data) data.setAttribute("PathName", dataFile.filename().string());
    if (packet && packet.attribute("TriggerNum")) packet.setAttribute("TriggerNum", std::to_string(trigger_));
    if (xml::Node root = project_.documentElement()) bookmarks_->Serialize(&root, 0);

    // The project file is written beside its target and renamed over it, so a
    // failed save never leaves half a project where a good one was.
    const std::string temporary = path + ".saving";
    if (!project_.save(temporary) || std::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        if (error) error->clear();
        return false;
    }
    if (source && source->OpenOrSave(packetFile.c_str(), dataFile.c_str(), 1) != 1) {
        if (error) error->clear();
        return false;  // the capture files could not be written: not a successful save
    }
    modified_ = false;
    return true;
}

bool COrvaneDoc::OnNewDocument() {
    project_.loadXML(kNewProject);
    bookmarks_->RemoveAll();
    trigger_ = -1;
    modified_ = false;
    return true;
}

}  // namespace orvane::app
