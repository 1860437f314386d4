// The QApplication of a GUI test executable lives between gtest's set-up and
// tear-down, inside main, with the program's settings kept apart from the user's.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>

#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

namespace orvane::testing {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // The program's settings (layout, recent files, shortcuts) go to a folder of the test's own.
        std::string folder = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                             "/orvane-gui-settings-XXXXXX";
        if (::mkdtemp(folder.data()))
            QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(folder));
        static int argc = 1;
        static char name[] = "gui_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

}  // namespace orvane::testing
