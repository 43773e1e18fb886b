// What a conversion job shows while it runs. The desktop job window, the
// command-line program and the tests each implement it.
#pragma once

#include <string>

namespace quarvex {

class TJobView {
public:
    virtual ~TJobView() = default;
    // The name of the running pass ("Points", "Paths", "Polygons", "Links").
    virtual void SetPassName(const std::string& name) = 0;
    // The caption above the pass name ("Cleaning Memory..." after a document).
    virtual void SetStatusCaption(const std::string& caption) = 0;
    // Shows the progress bar (hidden until the first document pass).
    virtual void ShowProgress() = 0;
    virtual void SetProgressMax(int max) = 0;
    virtual void SetProgressPosition(int position) = 0;
    // Appends one line to the log; an empty text is an empty line.
    virtual void AddLog(const std::string& line) = 0;
    virtual void SetStartCaption(const std::string& caption) = 0;
    virtual void SetEndCaption(const std::string& caption) = 0;
    // The job has ended: the summary with the times and the Close button shows.
    virtual void ShowSummary() = 0;
};

// A view that shows nothing, for jobs that run where nobody watches them
// (benchmarks, fuzzing).
class TSilentJobView : public TJobView {
public:
    void SetPassName(const std::string&) override {}
    void SetStatusCaption(const std::string&) override {}
    void ShowProgress() override {}
    void SetProgressMax(int) override {}
    void SetProgressPosition(int) override {}
    void AddLog(const std::string&) override {}
    void SetStartCaption(const std::string&) override {}
    void SetEndCaption(const std::string&) override {}
    void ShowSummary() override {}
};

} // namespace quarvex
