// Qt's own texts (file dialogs, their messages, standard buttons) in
// Japanese, like every other text the operator sees.
#pragma once

#include <QString>

class QCoreApplication;

namespace orvex {

// Loads Qt's Japanese translations into app from folder (empty: where Qt's
// translations are installed, then the distribution's folder). False when
// they are not there: the program runs on with Qt's English texts.
bool InstallQtTranslations(QCoreApplication& app, const QString& folder = {});

}  // namespace orvex
