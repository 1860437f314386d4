// The program's start-up: after the QApplication it builds the decoder
// factory, reads usb.ids and loads the user's settings, in that order, then
// makes the main window and processes the command line.
#pragma once

#include <QStringList>

#include <memory>
#include <string>

#include "CDecodeFactory.h"
#include "SettingStore.h"

class QApplication;

namespace orvane {
class CUsbIdDatabase;
class IDevice;
}  // namespace orvane

namespace orvane::app {

class CMainFrame;

class COrvaneApp {
public:
    struct Options {
        IDevice* device = nullptr;  // taken; null: none unless loadDevice
        bool loadDevice = false;    // load the device library beside the program at Start
        std::string classesFolder;  // empty: "classes" beside the program
        std::string settingsPath;   // empty: the user's setting.xml
        bool memorySettings = false;  // keep the settings in memory only
        std::string viewFolder;     // empty: "view" beside the program
        std::string demoFolder;     // empty: "../demo" beside the program
    };

    // Needs the QApplication.
    explicit COrvaneApp(Options options);
    ~COrvaneApp();

    // Loads Qt's own Simplified Chinese texts (dialog buttons and the like);
    // false when they are not installed.
    static bool LoadTranslations(QApplication& app);

    // Handles the command line (without the program name): no project gives a
    // new one, a path opens it. Returns -1 to run the event loop, or the exit
    // code when the project could not be opened (the user was told why).
    // "--no-update-check" skips the update check, as the setting
    // "UpdateCheck"=false does; "--list-plugins" prints the device library
    // and the plug-ins the program loaded, one a line, and returns 0.
    int Start(const QStringList& arguments);

    CMainFrame* Frame() const { return frame_.get(); }
    CDecodeFactory& Factory() { return factory_; }
    SettingStore& Settings() { return settings_; }
    // Whether Start posted the update check.
    bool UpdateCheckPosted() const { return updatePosted_; }

private:
    static std::string SettingsPath(const Options& options);
    void PrintPlugins();

    Options options_;
    CDecodeFactory factory_;
    const CUsbIdDatabase& ids_;
    SettingStore settings_;
    std::unique_ptr<CMainFrame> frame_;
    bool updatePosted_ = false;
};

}  // namespace orvane::app
