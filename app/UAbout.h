// The About box: the program's name, what it does and its build.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TfrAbout;
}

namespace quarvex {

class TfrAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrAbout(QWidget* owner = nullptr);
    ~TfrAbout() override;
    // Closes the box: a click on its free area.
    void FormClick() { close(); }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::unique_ptr<Ui::TfrAbout> ui;
};

// Shows the About box modally, centred on owner, with "Build: " + AppVersion.
void ShowAbout(QWidget* owner);

} // namespace quarvex
