// Shared set-up of the window-logic tests: a scratch folder, settings kept in
// INI files inside it, and globals restored afterwards.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/globals.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/settings.h"
#include "support/test_files.h"
#include "ui/encrypt/logic/jiami_logic.h"

namespace uilogictest {

// Records what the start sequence shows and answers its questions in turn.
class ScriptedPrompts : public ui::logic::StartPrompts {
  public:
    explicit ScriptedPrompts(std::vector<bool> answers = {}) : answers_(std::move(answers)) {}
    void Message(const std::wstring& text, ui::logic::Icon) override { shown.push_back(text); }
    bool AskYesNo(const std::wstring& text) override {
        shown.push_back(text);
        if (next_ >= answers_.size()) {
            ADD_FAILURE() << "unexpected question";
            return false;
        }
        return answers_[next_++];
    }
    void FocusPassword() override { shown.push_back(L"<focus 1003>"); }

    std::vector<std::wstring> shown;

  private:
    std::vector<bool> answers_;
    size_t next_ = 0;
};

class UiLogicTest : public ::testing::Test {
  public:
    void SetUp() override {
        saved_ = app::Globals();
        ASSERT_TRUE(plat::Fs().CreateDir(dir_ / L"settings"));
        settings_ = plat::MakeIniSettings(dir_ / L"settings");
        scoped_ = std::make_unique<plat::ScopedSettings>(*settings_);
        savedCwd_ = plat::CurrentDir();
        ASSERT_TRUE(plat::SetCurrentDir(dir_.path()));
    }
    void TearDown() override {
        (void)plat::SetCurrentDir(savedCwd_);
        scoped_.reset();
        app::Globals() = saved_;
    }

    plat::Settings& Settings() { return *settings_; }

    testsupport::TempFolder dir_;

  protected:
    app::AppGlobals saved_;
    std::unique_ptr<plat::Settings> settings_;
    std::unique_ptr<plat::ScopedSettings> scoped_;
    std::wstring savedCwd_;
};

}  // namespace uilogictest
