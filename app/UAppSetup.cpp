#include "app/UAppSetup.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QProxyStyle>
#include <QSettings>
#include <QStringList>
#include <QStyle>

namespace quarvex {

namespace {
const char* const kOpenFolderKey = "OpenDialog/LastFolder";

class TDesignedStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override
    {
        if (hint == SH_ComboBox_Popup)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};
} // namespace

void SubstituteDesignedFonts()
{
    QFont::insertSubstitutions("MS Sans Serif", QStringList{"Liberation Sans", "DejaVu Sans", "Sans Serif"});
    QFont::insertSubstitutions("Arial", QStringList{"Liberation Sans", "DejaVu Sans"});
    QFont::insertSubstitutions("Times New Roman", QStringList{"Liberation Serif", "DejaVu Serif"});
    QFont::insertSubstitutions("Courier New", QStringList{"Liberation Mono", "DejaVu Sans Mono"});
}

void ApplyDesignedStyle()
{
    // The style the platform chose stays; only the hint changes.
    QApplication::setStyle(new TDesignedStyle(QApplication::style()->name()));
}

void SetProgramNames()
{
    QCoreApplication::setOrganizationName("quarvex");
    QCoreApplication::setApplicationName("quarvex");
}

QString LastOpenFolder()
{
    const QString folder = QSettings().value(kOpenFolderKey).toString();
    return !folder.isEmpty() && QDir(folder).exists() ? folder : QString();
}

void RememberOpenFolder(const QString& file)
{
    QSettings settings;
    settings.setValue(kOpenFolderKey, QFileInfo(file).absolutePath());
    settings.sync(); // kept even when the session does not end cleanly
}

} // namespace quarvex
