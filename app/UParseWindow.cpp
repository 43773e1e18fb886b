#include "app/UParseWindow.h"

#include "app/UDialogHook.h"
#include "app/UGlyphs.h"
#include "app/UWindowPlacement.h"
#include "ui_UParseWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>

namespace quarvex {

namespace {
QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

void FillCombo(QComboBox* combo, const std::vector<std::string>& items)
{
    combo->clear();
    for (const std::string& item : items)
        combo->addItem(Q(item));
}
} // namespace

TfrParse::TfrParse(QWidget* owner, const std::string& workFolder)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMaximizeButtonHint),
      Job(*CurrentLayerSet, *this, workFolder), ui(std::make_unique<Ui::TfrParse>())
{
    ui->setupUi(this);
    ui->SpeedButton1->setIcon(GlyphIcon(TGlyph::Close, 32));
    connect(ui->SpeedButton1, &QToolButton::clicked, this, &TfrParse::SpeedButton1Click);
    Timer1.setObjectName("Timer1");
    Timer1.setInterval(100);
    connect(&Timer1, &QTimer::timeout, this, &TfrParse::Timer1Timer);
    Timer1.start();
}

TfrParse::~TfrParse() = default;

void TfrParse::RepaintNow(QWidget* widget)
{
    if (isVisible())
        widget->repaint();
}

void TfrParse::SetPassName(const std::string& name)
{
    ui->Label2->setText(Q(name));
    RepaintNow(ui->Label2);
}

void TfrParse::SetStatusCaption(const std::string& caption)
{
    ui->Label1->setText(Q(caption));
    RepaintNow(ui->Label1);
}

void TfrParse::ShowProgress()
{
    ui->ProgressBar1->show();
}

void TfrParse::SetProgressMax(int max)
{
    ui->ProgressBar1->setMaximum(max);
    shownPercent_ = -1;
}

void TfrParse::SetProgressPosition(int position)
{
    ui->ProgressBar1->setValue(position);
    // Repainted when the bar moves by a percent, not for every element.
    const int max = ui->ProgressBar1->maximum();
    const int percent = max > 0 ? int(int64_t(position) * 100 / max) : 0;
    if (percent != shownPercent_) {
        shownPercent_ = percent;
        RepaintNow(ui->ProgressBar1);
    }
}

void TfrParse::AddLog(const std::string& line)
{
    ui->Memo1->appendPlainText(Q(line));
}

void TfrParse::SetStartCaption(const std::string& caption)
{
    ui->LabelStart->setText(Q(caption));
}

void TfrParse::SetEndCaption(const std::string& caption)
{
    ui->LabelEnd->setText(Q(caption));
}

void TfrParse::ShowSummary()
{
    FillCombo(ui->ComboLinks, Job.Links.ComboLinks);
    FillCombo(ui->ComboGMaps, Job.Links.ComboGMaps);
    setWindowTitle("quarvex");
    ui->Panel1->move(ui->Notebook1->width() - ui->Panel1->width(), 0);
    ui->Notebook1->setCurrentIndex(1);
}

void TfrParse::Timer1Timer()
{
    if (!JobPending)
        return;
    JobPending = false;
    try {
        Job.RunJob();
    } catch (const std::exception& e) {
        // The job has closed its files and shown the summary; the user
        // learns why it stopped and can close the window.
        ShowSummary();
        jobFailed_ = true;
        ShowErrorMessage(this, QString::fromUtf8(e.what()));
    }
    Timer1.setInterval(10000);
    // Keys and clicks that waited while the job ran are still refused, so
    // that none of them closes the summary before the user has seen it.
    QCoreApplication::processEvents();
    jobEnded_ = true;
}

void TfrParse::closeEvent(QCloseEvent* event)
{
    if (jobEnded_)
        event->accept();
    else
        event->ignore(); // a running job cannot be left half done
}

void TfrParse::keyPressEvent(QKeyEvent* event)
{
    // Enter closes the summary as Escape does; the window has no default
    // button that would take it.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && jobEnded_) {
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrParse::reject()
{
    if (jobEnded_)
        QDialog::reject(); // Escape closes the window once the job has ended
}

void TfrParse::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    // Panel1 stays at the right edge of the summary page.
    ui->Panel1->move(ui->Notebook1->width() - ui->Panel1->width(), 0);
}

bool RunConversionJob(QWidget* owner, const std::string& inputPath, const std::string& displayName,
                      const std::string& workFolder)
{
    TfrParse window(owner, workFolder);
    window.JobPending = true;
    window.Job.Begin(inputPath, displayName); // DocPath, an empty Label2, "File: ", the link lists emptied
    window.findChild<QStackedWidget*>("Notebook1")->setCurrentIndex(0);
    CentreWhenShown(window, owner ? owner->window() : nullptr);
    DialogHook().ExecModal(window);
    return !window.JobFailed();
}

} // namespace quarvex
