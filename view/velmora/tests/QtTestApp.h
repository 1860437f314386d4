// The application of an offscreen Qt test, between gtest's set-up and
// tear-down; settings go to a folder of their own, never the user's.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include <memory>

namespace orvane::velmora::test {

class QtTestApp : public ::testing::Environment {
public:
    void SetUp() override {
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
        static int argc = 1;
        static char name[] = "velmora_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    QTemporaryDir config_;
    std::unique_ptr<QApplication> app_;
};

}  // namespace orvane::velmora::test
