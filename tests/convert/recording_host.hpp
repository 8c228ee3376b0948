#pragma once
// A conversion host that records what the batch driver shows and does.

#include <functional>
#include <string>
#include <vector>

#include "convert/conversion_host.hpp"

namespace tamberlit::testing {

class TRecordingHost : public TConversionHost {
public:
    std::string target = ".png";
    bool alphaOnly = true;
    bool stop = false;
    bool continueAfterError = false;
    std::function<void()> onProcessMessages;

    std::vector<std::string> statusTexts;
    std::vector<std::string> events;  // "range 0 3", "show", "hide", "position 1"
    struct Done {
        std::string source, target;
        TFileOutcome outcome;
        std::string detail;
    };
    std::vector<Done> done;
    std::vector<std::string> errors;
    std::vector<std::string> unreadableFolders;  // "folder: reason"

    std::string TargetExtension() override { return target; }
    bool AlphaOnly() override { return alphaOnly; }
    bool StopRequested() override { return stop; }
    void SetStatusText(const std::string& text) override { statusTexts.push_back(text); }
    void SetProgressRange(int minimum, int maximum) override {
        events.push_back("range " + std::to_string(minimum) + " " + std::to_string(maximum));
    }
    void SetProgressPosition(int position) override { events.push_back("position " + std::to_string(position)); }
    void SetProgressVisible(bool visible) override { events.push_back(visible ? "show" : "hide"); }
    void ProcessMessages() override {
        if (onProcessMessages) onProcessMessages();
    }
    void FileDone(const TFileResult& result) override {
        if (result.Outcome != TFileOutcome::Failed)
            done.push_back({result.Source, result.Target, result.Outcome, result.Detail});
    }
    void FolderUnreadable(const std::string& folder, const std::string& reason) override {
        unreadableFolders.push_back(folder + ": " + reason);
    }
    bool ContinueAfterError(const std::string& source, const std::exception& error) override {
        errors.push_back(source + ": " + error.what());
        return continueAfterError;
    }
};

}  // namespace tamberlit::testing
