#pragma once
// Helpers of the application tests: the program's windows without the
// session timer, hooks that answer the program's questions from a script,
// and a lookup of components by name.
#include "TestSupport.h"
#include "app/Program.h"

#include <QWidget>
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// Message, question and input boxes answered from a script; events are
// still pumped so that the window lives.
class ScriptedHooks : public UiHooks {
public:
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::vector<std::string> prompts;
    std::deque<std::pair<bool, std::string>> inputAnswers; // OK?, text
    bool confirmAnswer = true;

    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool Confirm(const std::string&, const std::string& text) override {
        questions.push_back(text);
        return confirmAnswer;
    }
    bool InputText(const std::string& caption, const std::string& prompt,
                   std::string& value) override {
        prompts.push_back(caption + " | " + prompt);
        if (inputAnswers.empty())
            return false;
        auto [ok, text] = inputAnswers.front();
        inputAnswers.pop_front();
        if (ok)
            value = text;
        return ok;
    }
};

inline MainWindowOptions QuietWindowOptions() {
    MainWindowOptions options;
    options.startSessionTimer = false;
    options.keepAwake = false;
    options.watchDevices = false;
    return options;
}

// The four windows as the program creates them, under scripted hooks.
struct ProgramRig {
    explicit ProgramRig(CommandLine line = {}) : program(line, QuietWindowOptions()) {
        SetUiHooks(&hooks);
    }
    ~ProgramRig() { SetUiHooks(nullptr); }
    Program program;
    ScriptedHooks hooks;
    MainWindow& main() { return program.mainWindow; }

    template <typename T = QWidget> T* Find(const char* name) {
        T* found = program.mainWindow.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << "no component " << name;
        return found;
    }
};

// Writes a settings file into the current data root.
inline void WriteSettingsFile(const std::string& text) {
    const std::filesystem::path path(Settings::FilePath());
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
}
