#include "SettingStore.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "RegularFile.h"

namespace orvane::app {

namespace fs = std::filesystem;

const char* const SettingStore::kDefaultText =
    "<setting version=\"1.0\"><ui><usblistctrl width=\"\" order=\"\" visible=\"\"/></ui><configurations/></setting>";

namespace {

const char* const kConfigurations = "//configurations/configuration";

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir) return user->pw_dir;
    return {};
}

// Leading decimal digits with an optional sign, clamped to int; 0 without digits.
int ReadInt(const std::string& piece)
{
    long long value = std::strtoll(piece.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return int(value);
}

// Pieces between ',' and ';'; empty pieces (the trailing one) are no values.
void ReadList(const std::string& text, int* values, int count)
{
    int n = 0;
    size_t start = 0;
    while (n < count && start <= text.size()) {
        size_t end = text.find_first_of(",;", start);
        if (end == std::string::npos) end = text.size();
        if (end > start) values[n++] = ReadInt(text.substr(start, end - start));
        start = end + 1;
    }
}

std::string WriteList(const int* values, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) text += std::to_string(values[i]) + ";";
    return text;
}

// The first of "<path>.damaged", "<path>.damaged-2", ... that does not exist yet.
std::string FreeAsideName(const std::string& path)
{
    std::string name = path + ".damaged";
    for (int n = 2; fs::exists(fs::symlink_status(name)); ++n) name = path + ".damaged-" + std::to_string(n);
    return name;
}

}  // namespace

std::string SettingStore::DefaultPath()
{
    // Only an absolute XDG_CONFIG_HOME counts; a relative one is to be ignored.
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
        base = xdg;
    } else {
        std::string home = HomeFolder();
        if (home.empty()) return {};
        base = home + "/.config";
    }
    return base + "/Kavrin/Orvane/setting.xml";
}

SettingStore::SettingStore() : SettingStore(DefaultPath()) {}

SettingStore::SettingStore(std::string path) : path_(std::move(path)) { Load(); }

SettingStore::~SettingStore()
{
    try {
        Save();
    } catch (...) {
        // Nothing may escape a destructor; the old file is still whole.
    }
}

void SettingStore::Load()
{
    doc_.loadXML(kDefaultText);
    if (path_.empty()) {
        loadError_ = "找不到用户配置文件夹，本次的设置不会保存。";
        return;
    }
    std::error_code ec;
    fs::create_directories(fs::path(path_).parent_path(), ec);
    if (fs::symlink_status(path_, ec).type() == fs::file_type::not_found) return;  // first run

    std::string text;
    if (!ReadRegularFile(path_, UINT64_MAX, text)) {
        keepFile_ = true;
        loadError_ = "无法读取设置文件 " + path_ + "，已改用默认设置；为免覆盖该文件，本次的设置不会保存。";
        return;
    }

    xml::Document loaded;
    std::string why;
    if (!loaded.loadXML(text))
        why = loaded.lastError();
    else if (loaded.documentElement().name() != "setting")
        why = "root element is <" + loaded.documentElement().name() + ">, not <setting>";
    if (why.empty()) {
        doc_ = std::move(loaded);
        return;
    }

    // Never overwrite what the user had: put it aside first.
    std::string aside = FreeAsideName(path_);
    if (std::rename(path_.c_str(), aside.c_str()) == 0) {
        damagedCopy_ = aside;
        loadError_ = "设置文件 " + path_ + " 已损坏（" + why + "），已改用默认设置；原文件已另存为 " + aside + "。";
    } else {
        keepFile_ = true;
        loadError_ = "设置文件 " + path_ + " 已损坏（" + why + "），已改用默认设置；为免覆盖该文件，本次的设置不会保存。";
    }
}

bool SettingStore::Save(std::string* error)
{
    auto fail = [error](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    if (path_.empty()) return fail("找不到用户配置文件夹，设置无法保存。");
    if (keepFile_) return fail("设置文件 " + path_ + " 未能载入，为免覆盖该文件，设置没有保存。");

    std::error_code ec;
    // A linked settings file is replaced where it really lives, keeping the link.
    fs::path target = fs::is_symlink(path_, ec) ? fs::weakly_canonical(path_, ec) : fs::path(path_);
    if (ec) target = path_;
    fs::create_directories(target.parent_path(), ec);

    // A name of our own beside the file, so nothing already there is touched.
    std::string temp = target.string() + ".tmp-XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return fail("无法写入设置文件 " + target.string() + "：" + std::strerror(errno));
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
    bool written = doc_.save(temp) && ::fsync(fd) == 0;
    ::close(fd);
    if (!written) {
        ::unlink(temp.c_str());
        return fail("无法写入设置文件 " + temp + "：" + doc_.lastError());
    }
    if (std::rename(temp.c_str(), target.c_str()) != 0) {
        std::string why = std::strerror(errno);
        ::unlink(temp.c_str());
        return fail("无法替换设置文件 " + target.string() + "：" + why);
    }
    return true;
}

std::vector<xml::Node> SettingStore::Configurations() const { return doc_.selectNodes(kConfigurations); }

int SettingStore::GetConfigurationCount() const { return int(Configurations().size()); }

xml::Node SettingStore::ConfigurationAt(int index) const
{
    std::vector<xml::Node> all = Configurations();
    if (index < 0 || size_t(index) >= all.size()) return {};
    return all[size_t(index)];
}

bool SettingStore::GetAttribute(const xml::Node& node, const std::string& name, std::string& value)
{
    std::optional<std::string> text = node.attribute(name);
    if (!text) return false;
    value = *text;
    return true;
}

int SettingStore::AddConfiguration(const xml::Node& node, const std::string& name, const std::string& guid)
{
    if (node.type() != xml::NodeType::Element) return 0;
    xml::Node list = doc_.selectSingleNode("//configurations");
    if (!list) {
        // A settings file without the list still takes configurations.
        list = doc_.documentElement().appendChild(xml::Document().createElement("configurations"));
        if (!list) return 0;
    }
    // Cloned first so a node of this very document is copied, not moved.
    xml::Node copy = list.appendChild(node.cloneNode(true));
    if (!copy) return 0;
    copy.setAttribute("name", name);
    copy.setAttribute("guid", guid);
    return 1;
}

int SettingStore::FindConfiguration(const std::string& guid) const
{
    std::vector<xml::Node> all = Configurations();
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].attribute("guid") == guid) return int(i);
    return -1;
}

int SettingStore::ExchangeListLayout(int* order, int* width, int* visible, int count, bool load)
{
    xml::Node layout = doc_.selectSingleNode("//ui/usblistctrl");
    if (!layout) return 0;
    const std::pair<const char*, int*> lists[] = {{"order", order}, {"width", width}, {"visible", visible}};
    for (const auto& [name, values] : lists) {
        std::string text = layout.attribute(name).value_or("");
        if (!layout.attribute(name)) layout.setAttribute(name, "");
        if (!values || count <= 0) continue;
        if (load)
            ReadList(text, values, count);
        else
            layout.setAttribute(name, WriteList(values, count));
    }
    return 1;
}

}  // namespace orvane::app
