#include "COrvaneApp.h"

#include <QApplication>
#include <QDockWidget>
#include <QLibraryInfo>
#include <QSettings>
#include <QTimer>
#include <QTranslator>

#include <cstdio>

#include "AppDirectory.h"
#include "CMainFrame.h"
#include "CUsbIdDatabase.h"
#include "CommandIds.h"
#include "IPrompt.h"

namespace orvane::app {

namespace {

const char* const kNoUpdateCheck = "--no-update-check";
const char* const kListPlugins = "--list-plugins";

}  // namespace

std::string COrvaneApp::SettingsPath(const Options& options) {
    if (options.memorySettings) return {};
    return options.settingsPath.empty() ? SettingStore::DefaultPath() : options.settingsPath;
}

COrvaneApp::COrvaneApp(Options options)
    : options_(std::move(options)),
      factory_(options_.classesFolder.empty() ? GetAppDirectory() + "/classes" : options_.classesFolder),
      ids_(CUsbIdDatabase::Instance()),
      settings_(SettingsPath(options_)) {
    if (!options_.memorySettings && !settings_.GetLoadError().empty())
        std::fprintf(stderr, "orvane: %s\n", settings_.GetLoadError().c_str());
}

COrvaneApp::~COrvaneApp() = default;

bool COrvaneApp::LoadTranslations(QApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), "qtbase", "_",
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        std::fprintf(stderr, "orvane: Qt's Chinese translations are not installed\n");
        delete translator;
        return false;
    }
    return QApplication::installTranslator(translator);
}

int COrvaneApp::Start(const QStringList& arguments) {
    QString project;
    bool updateCheck = QSettings("Kavrin", "Orvane").value("UpdateCheck", true).toBool();
    bool listPlugins = false;
    for (const QString& argument : arguments) {
        if (argument == kNoUpdateCheck) updateCheck = false;
        else if (argument == kListPlugins) listPlugins = true;
        else if (!argument.startsWith("--") && project.isEmpty()) project = argument;
    }

    CMainFrame::Options frame;
    frame.device = options_.loadDevice ? CMainFrame::LoadDevice() : options_.device;
    options_.device = nullptr;
    frame.factory = &factory_;
    frame.settings = &settings_;
    frame.viewFolder = options_.viewFolder;
    frame.demoFolder = options_.demoFolder;
    frame_ = std::make_unique<CMainFrame>(std::move(frame));
    if (listPlugins) {
        PrintPlugins();
        return 0;
    }

    // No project: the window starts with a new, empty one.
    if (!project.isEmpty() && !frame_->OpenProject(project)) return 1;
    frame_->show();
    if (updateCheck) {
        updatePosted_ = true;
        CMainFrame* window = frame_.get();
        QTimer::singleShot(0, window, [window] { window->Commands().Execute(cmd::CheckUpdate); });
    }
    return -1;
}

// "kind<TAB>library<TAB>what it serves": how an installation is checked.
void COrvaneApp::PrintPlugins() {
    std::printf("device\t%s\n", frame_->Device() ? (GetAppDirectory() + "/libpardix.so").c_str() : "-");
    for (int32_t i = 0; i < factory_.GetCount(); ++i) {
        int32_t cls = 0, subclass = 0, protocol = 0;
        std::string path;
        factory_.GetInfo(i, &cls, &subclass, &protocol);
        factory_.GetPath(&path, i);
        std::printf("class\t%s\t%d/%d/%d %s\n", path.c_str(), cls, subclass, protocol, ids_.GetClassName(cls).c_str());
    }
    for (const auto& [id, path] : frame_->ViewPlugins())
        std::printf("view\t%s\t%u %s\n", path.c_str(), id, frame_->Pane(id)->windowTitle().toUtf8().constData());
    std::fflush(stdout);
}

}  // namespace orvane::app
