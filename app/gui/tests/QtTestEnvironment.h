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

// Each test starts without the program's settings: a layout another test left
// must not decide which panes this one's window shows, whatever the order.
class FreshSettings : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { QSettings("Kavrin", "Orvane").clear(); }
};

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ::testing::UnitTest::GetInstance()->listeners().Append(new FreshSettings);
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
