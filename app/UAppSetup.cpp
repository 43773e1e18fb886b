#include "app/UAppSetup.h"

#include <QFont>
#include <QStringList>

namespace quarvex {

void SubstituteDesignedFonts()
{
    QFont::insertSubstitutions("MS Sans Serif", QStringList{"Liberation Sans", "DejaVu Sans", "Sans Serif"});
    QFont::insertSubstitutions("Arial", QStringList{"Liberation Sans", "DejaVu Sans"});
    QFont::insertSubstitutions("Times New Roman", QStringList{"Liberation Serif", "DejaVu Serif"});
    QFont::insertSubstitutions("Courier New", QStringList{"Liberation Mono", "DejaVu Sans Mono"});
}

} // namespace quarvex
