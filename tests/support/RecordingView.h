// A job view that records what the job shows, for the tests to compare.
#pragma once

#include "kml/UJobView.h"

#include <string>
#include <vector>

namespace quarvex::test {

class TRecordingView : public TJobView {
public:
    void SetPassName(const std::string& name) override { PassNames.push_back(name); }
    void SetStatusCaption(const std::string& caption) override { StatusCaption = caption; }
    void ShowProgress() override { ProgressShown = true; }
    void SetProgressMax(int max) override { ProgressMax = max; }
    void SetProgressPosition(int position) override { ProgressPosition = position; }
    void AddLog(const std::string& line) override { Log.push_back(line); }
    void SetStartCaption(const std::string& caption) override { StartCaption = caption; }
    void SetEndCaption(const std::string& caption) override { EndCaption = caption; }
    void ShowSummary() override { SummaryShown = true; }

    std::string LogText() const
    {
        std::string text;
        for (const std::string& line : Log)
            text += line + "\n";
        return text;
    }

    std::vector<std::string> PassNames;
    std::vector<std::string> Log;
    std::string StatusCaption, StartCaption, EndCaption;
    bool ProgressShown = false;
    bool SummaryShown = false;
    int ProgressMax = 0;
    int ProgressPosition = 0;
};

} // namespace quarvex::test
