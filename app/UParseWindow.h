// The job window: shows the running pass, a progress bar and the log while
// the conversion runs inside its first timer tick, then the summary with the
// start and end times and a Close button.
#pragma once

#include "kml/UJobView.h"
#include "kml/UParse.h"

#include <QDialog>
#include <QTimer>
#include <memory>

namespace Ui {
class TfrParse;
}

namespace quarvex {

class TfrParse : public QDialog, public TJobView {
    Q_OBJECT
public:
    // The job converts into the layers of CurrentLayerSet, in workFolder.
    TfrParse(QWidget* owner, const std::string& workFolder);
    ~TfrParse() override;

    // The job's view.
    void SetPassName(const std::string& name) override;
    void SetStatusCaption(const std::string& caption) override;
    void ShowProgress() override;
    void SetProgressMax(int max) override;
    void SetProgressPosition(int position) override;
    void AddLog(const std::string& line) override;
    void SetStartCaption(const std::string& caption) override;
    void SetEndCaption(const std::string& caption) override;
    void ShowSummary() override;

    // Runs the job on the first tick after the window shows; later ticks do nothing.
    void Timer1Timer();
    // The Close button.
    void SpeedButton1Click() { close(); }
    // True once the job has ended, with or without an error.
    bool JobEnded() const { return jobEnded_; }
    // True when the job stopped on an error (its message has been shown).
    bool JobFailed() const { return jobFailed_; }

    TConversionJob Job;
    bool JobPending = false;
    QTimer Timer1;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void RepaintNow(QWidget* widget);

    std::unique_ptr<Ui::TfrParse> ui;
    bool jobEnded_ = false;
    bool jobFailed_ = false;
    int shownPercent_ = -1;
};

// Shows the job window modally over owner and returns when it has been
// closed: the job reads inputPath (which may be empty) into the layers of
// CurrentLayerSet in workFolder; displayName goes into the first log line.
// False when the job stopped on an error, which the window has shown.
bool RunConversionJob(QWidget* owner, const std::string& inputPath, const std::string& displayName,
                      const std::string& workFolder);

} // namespace quarvex
