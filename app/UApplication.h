// The desktop program's application object, with the one general error
// handler: an error that escapes any event handler is shown in a critical
// box, and the program goes on.
#pragma once

#include <QApplication>

namespace quarvex {

class TQuarvexApplication : public QApplication {
public:
    TQuarvexApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace quarvex
